// Table-file throughput against plain positioned I/O on the same bytes.
//
// Reading: GetDbfRecord over every record of a 1,000,000-record OEM table
// (so each record is translated) versus pread in record-sized steps.
// Writing: CreateDbf plus 1,000,000 AppendDbfRecord calls versus pwrite of
// the same header and records. Each engine benchmark carries the ratio of
// its time to the matching plain-I/O time measured in the same run
// ("x_plain_io": 1.0 means no overhead).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "engine/dbf/ovdbflow.h"
#include "engine/engine.h"
#include "engine/support/ovcommon.h"

namespace ov {
namespace {

constexpr int32_t kRecords = 1'000'000;

using bench::kMovieFields;

using bench::Clock;
using bench::SecondsSince;

std::string ScratchPath(const char* tag) { return "/tmp/ov_bench_" + std::to_string(getpid()) + "_" + tag + ".dbf"; }

// Removes a table and its memo file when the run ends.
class ScratchTable {
 public:
  explicit ScratchTable(const char* tag) : path_(ScratchPath(tag)) {}
  ~ScratchTable() {
    std::remove(path_.c_str());
    std::remove(ForceExt(path_, "DBT").c_str());
  }
  ScratchTable(const ScratchTable&) = delete;
  ScratchTable& operator=(const ScratchTable&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A record with some OEM letters in it, so translation has work to do.
void FillRecord(std::vector<char>& rec, int32_t n) {
  std::memset(rec.data(), ' ', rec.size());
  char text[40];
  std::snprintf(text, sizeof text, "Movie \x82t\x82 %07d", static_cast<int>(n % 10000000));
  std::memcpy(rec.data() + 1, text, std::strlen(text));
  std::memcpy(rec.data() + 21, "1999T120", 8);
}

bool Failed(benchmark::State& state) {
  if (Errors().DbfError == 0) return false;
  state.SkipWithError(ErrorText().c_str());
  return true;
}

constexpr uint16_t kExclusiveMode = fmode::kReadWrite | fmode::kDenyAll;
constexpr uint16_t kSharedMode = fmode::kReadWrite | fmode::kDenyNone;

// CreateDbf, open with `mode`, append `count` records, close.
bool BuildWithEngine(const std::string& path, int32_t count, uint16_t mode = kExclusiveMode) {
  DbfFile dbf;
  CreateDbf(dbf, path, kMovieFields);
  dbf.path = path;
  dbf.open_mode = mode;
  OpenDbf(dbf);
  if (Errors().DbfError != 0) return false;
  for (int32_t n = 1; n <= count; ++n) {
    FillRecord(dbf.record, n);
    AppendDbfRecord(dbf);
  }
  CloseDbf(dbf);
  return Errors().DbfError == 0;
}

struct Layout {
  uint16_t header_length = 0;
  uint16_t record_length = 0;
  std::vector<char> header;  // the engine's header bytes, for the plain writer
};

Layout ReadLayout(const std::string& path) {
  Layout out;
  DbfFile dbf;
  dbf.path = path;
  dbf.open_mode = fmode::kRead | fmode::kDenyNone;
  OpenDbf(dbf);
  if (Errors().DbfError != 0) return out;
  out.header_length = dbf.header_length;
  out.record_length = dbf.record_length;
  CloseDbf(dbf);
  out.header.resize(out.header_length);
  int fd = open(path.c_str(), O_RDONLY);
  if (fd >= 0) {
    (void)!pread(fd, out.header.data(), out.header.size(), 0);
    close(fd);
  }
  // The plain writer's header claims the full table, as the engine's does.
  for (int i = 0; i < 4 && out.header.size() >= 8; ++i)
    out.header[4 + i] = static_cast<char>((kRecords >> (8 * i)) & 0xFF);
  return out;
}

// The million-record table every read benchmark shares, built once.
const ScratchTable& BigTable() {
  static ScratchTable table("read");
  static bool built = BuildWithEngine(table.path(), kRecords);
  (void)built;
  return table;
}

double PreadPass(const std::string& path, const Layout& layout) {
  std::vector<char> buf(layout.record_length);
  const auto start = Clock::now();
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  uint64_t off = layout.header_length;
  for (int32_t n = 1; n <= kRecords; ++n, off += layout.record_length) {
    if (pread(fd, buf.data(), buf.size(), static_cast<off_t>(off)) != static_cast<ssize_t>(buf.size())) break;
    benchmark::DoNotOptimize(buf.data());
  }
  close(fd);
  return SecondsSince(start);
}

double EngineReadPass(const std::string& path) {
  const auto start = Clock::now();
  DbfFile dbf;
  dbf.path = path;
  dbf.oem = true;
  dbf.open_mode = fmode::kRead | fmode::kDenyNone;
  OpenDbf(dbf);
  for (int32_t n = 1; n <= dbf.record_count && Errors().DbfError == 0; ++n) {
    GetDbfRecord(dbf, n);
    benchmark::DoNotOptimize(dbf.record.data());
  }
  if (dbf.is_open()) CloseDbf(dbf);
  return SecondsSince(start);
}

double PwritePass(const std::string& path, const Layout& layout) {
  std::vector<char> rec(layout.record_length);
  const auto start = Clock::now();
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return 0;
  bool ok = pwrite(fd, layout.header.data(), layout.header.size(), 0) == static_cast<ssize_t>(layout.header.size());
  uint64_t off = layout.header_length;
  for (int32_t n = 1; ok && n <= kRecords; ++n, off += layout.record_length) {
    FillRecord(rec, n);
    ok = pwrite(fd, rec.data(), rec.size(), static_cast<off_t>(off)) == static_cast<ssize_t>(rec.size());
  }
  const char eof = 0x1A;
  ok = ok && pwrite(fd, &eof, 1, static_cast<off_t>(off)) == 1;
  close(fd);
  return ok ? SecondsSince(start) : 0;
}

double EngineWritePass(const std::string& path, uint16_t mode) {
  const auto start = Clock::now();
  BuildWithEngine(path, kRecords, mode);
  return SecondsSince(start);
}

void SetThroughput(benchmark::State& state, const Layout& layout) {
  state.SetBytesProcessed(state.iterations() * int64_t{kRecords} * layout.record_length);
  state.counters["records"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kRecords, benchmark::Counter::kIsRate);
}

// Runs `pass` once per iteration with manual timing; answers the mean.
template <typename Pass>
double TimeIterations(benchmark::State& state, Pass pass) {
  double total = 0;
  for (auto _ : state) {
    const double s = pass();
    if (s <= 0 || Errors().DbfError != 0) {
      if (!Failed(state)) state.SkipWithError("plain I/O failed");
      return 0;
    }
    state.SetIterationTime(s);
    total += s;
  }
  return total / static_cast<double>(state.iterations());
}

void BM_ReadPread(benchmark::State& state) {
  const std::string& path = BigTable().path();
  if (Failed(state)) return;
  const Layout layout = ReadLayout(path);
  TimeIterations(state, [&] { return PreadPass(path, layout); });
  SetThroughput(state, layout);
}

void BM_ReadGetDbfRecordOem(benchmark::State& state) {
  const std::string& path = BigTable().path();
  if (Failed(state)) return;
  const Layout layout = ReadLayout(path);
  const double engine = TimeIterations(state, [&] { return EngineReadPass(path); });
  if (engine <= 0) return;
  const double plain = PreadPass(path, layout);
  SetThroughput(state, layout);
  state.counters["x_plain_io"] = engine / plain;
}

void BM_WritePwrite(benchmark::State& state) {
  ScratchTable table("pwrite");
  if (!BuildWithEngine(table.path(), 0)) {
    Failed(state);
    return;
  }
  const Layout layout = ReadLayout(table.path());
  TimeIterations(state, [&] { return PwritePass(table.path(), layout); });
  SetThroughput(state, layout);
}

// Exclusive (state.range(0) == 0) or shared: a shared table's header count
// follows every append.
void BM_WriteAppendDbfRecord(benchmark::State& state) {
  ScratchTable table("append");
  const uint16_t mode = state.range(0) == 0 ? kExclusiveMode : kSharedMode;
  const double engine = TimeIterations(state, [&] { return EngineWritePass(table.path(), mode); });
  if (engine <= 0) return;
  const Layout layout = ReadLayout(table.path());
  ScratchTable plain_table("append_plain");
  const double plain = PwritePass(plain_table.path(), layout);
  SetThroughput(state, layout);
  state.counters["x_plain_io"] = engine / plain;
}

void Configure(benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime(); }

BENCHMARK(BM_ReadPread)->Apply(Configure);
BENCHMARK(BM_ReadGetDbfRecordOem)->Apply(Configure);
BENCHMARK(BM_WritePwrite)->Apply(Configure);
BENCHMARK(BM_WriteAppendDbfRecord)->Arg(0)->Arg(1)->Apply(Configure);

}  // namespace
}  // namespace ov

int main(int argc, char** argv) {
  ov::StartEngine();
  ov::SetImmediateErrors(false);  // benchmarks check DbfError themselves
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ov::StopEngine();
  return 0;
}
