// `ovdbf dump --format csv` against pgdbf on the same 1,000,000-record
// table in the same run: the scan benchmark's shape (name, year, color,
// runtime, premiere, code; 44-byte records), and the same with a memo
// field (54-byte records) holding a memo on every 4th record. Both
// programs write to /dev/null; "x_pgdbf" is the tool's wall-clock time
// over pgdbf's and "x_pgdbf_cpu" its processor time over pgdbf's (below
// 1.0: the tool is faster). A missing pgdbf is named in the output and
// leaves the ratios out.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

#include "bench/bench_common.h"
#include "engine/dbf/dbf4.h"
#include "engine/dbf/ovdbflow.h"
#include "engine/engine.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"

namespace ov {
namespace {

constexpr int32_t kRecords = 1'000'000;

const FieldDef kFields[] = {{"name", 'C', 20, 0},    {"year", 'N', 4, 0}, {"color", 'L', 1, 0}, {"runtime", 'N', 3, 0},
                            {"premiere", 'D', 8, 0}, {"code", 'C', 7, 0}, {"plot", 'M', 10, 0}};

// The tool is built beside the benchmarks: <build>/bench and <build>/tools.
std::string ToolPath() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "tools" / "ovdbf").string();
}

// A dBASE III table every reader takes, removed when the run ends.
class DumpTable {
 public:
  explicit DumpTable(bool memo)
      : path_("/tmp/ov_dump_bench_" + std::to_string(getpid()) + (memo ? "_memo" : "") + ".dbf") {
    const uint8_t version = Engine().table.CreateVersion;
    Engine().table.CreateVersion = 0x03;
    DbfFile dbf;
    CreateDbf(dbf, path_, std::span(kFields, memo ? 7 : 6));
    Engine().table.CreateVersion = version;
    Select(0);
    USE(path_ + " EXCLUSIVE");
    for (int32_t k = 1; Errors().DbfError == 0 && k <= kRecords; ++k) Append(k, memo && k % 4 == 0);
    CloseArea();
    ok_ = Errors().DbfError == 0;
  }
  ~DumpTable() { bench::RemoveTable(path_); }
  DumpTable(const DumpTable&) = delete;
  DumpTable& operator=(const DumpTable&) = delete;
  const std::string& path() const { return path_; }
  bool ok() const { return ok_; }

 private:
  static void Append(int32_t k, bool memo) {
    char text[32];
    ClearRecord();
    std::snprintf(text, sizeof text, "Movie %07d", static_cast<int>(k));
    SetFieldText(1, text);
    SetFieldNumber(2, 1900 + k % 120);
    SetFieldLogical(3, k % 3 != 0);
    SetFieldNumber(4, 60 + k % 140);
    std::snprintf(text, sizeof text, "%04d%02d%02d", 1930 + k % 90, 1 + k % 12, 1 + k % 28);
    SetFieldText(5, StoredDateToDisplay(text));
    std::snprintf(text, sizeof text, "C%06d", k % 1000000);
    SetFieldText(6, text);
    if (memo) {
      SetFieldNumber(7, Areas().memo.write_text(
                            *CurrentArea(), "The plot of movie " + std::to_string(k) + ", told at some length.", 0));
    }
    ov::Append();
  }

  std::string path_;
  bool ok_ = false;
};

// Seconds a command takes with its output to /dev/null, on the wall clock
// and in processor time (user and system, the shell's children included);
// zeros when it fails.
struct Times {
  double wall = 0;
  double cpu = 0;
};

double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Times Timed(const std::string& command) {
  const double cpu = ChildrenCpuSeconds();
  const auto start = bench::Clock::now();
  if (std::system((command + " >/dev/null").c_str()) != 0) return {};
  return {bench::SecondsSince(start), ChildrenCpuSeconds() - cpu};
}

// range(0): 1 with a memo on every 4th record.
void BM_DumpCsvAgainstPgdbf(benchmark::State& state) {
  const bool memo = state.range(0) != 0;
  const DumpTable table(memo);
  if (!table.ok()) {
    state.SkipWithError(ErrorText().c_str());
    return;
  }
  const bool pgdbf = std::system("command -v pgdbf >/dev/null 2>&1") == 0;
  if (!pgdbf) std::printf("pgdbf is not installed: no comparison with it\n");
  const std::string dump = ToolPath() + " dump --quiet --format csv " + table.path();
  const std::string peer = "pgdbf " + (memo ? "-m " + bench::MemoFileOf(table.path()) + " " : "") + table.path();
  Times tool_total, peer_total;
  for (auto _ : state) {
    const Times tool = Timed(dump);
    if (tool.wall <= 0) {
      state.SkipWithError("ovdbf dump failed");
      return;
    }
    state.SetIterationTime(tool.wall);
    tool_total.wall += tool.wall;
    tool_total.cpu += tool.cpu;
    if (!pgdbf) continue;
    const Times peer_pass = Timed(peer);
    peer_total.wall += peer_pass.wall;
    peer_total.cpu += peer_pass.cpu;
  }
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kRecords, benchmark::Counter::kIsRate);
  // The processor-time ratio holds still on a machine busy with other work.
  if (peer_total.wall > 0) state.counters["x_pgdbf"] = tool_total.wall / peer_total.wall;
  if (peer_total.cpu > 0) state.counters["x_pgdbf_cpu"] = tool_total.cpu / peer_total.cpu;
}

BENCHMARK(BM_DumpCsvAgainstPgdbf)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

}  // namespace
}  // namespace ov

int main(int argc, char** argv) { return ov::bench::RunWithEngine(argc, argv); }
