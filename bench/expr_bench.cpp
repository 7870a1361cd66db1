// Expression evaluation against hand-written C++ computing the same values.
//
// Each benchmark compiles one expression once and evaluates it on every
// record of a 1,000,000-record table of the demo structure, and runs a
// hand-written function for the same value on the same records in the
// same run. Records are read in batches outside the timed sections; in
// both timed sections a record is first copied into the work area's
// record buffer, so the two sides differ only in how the value is made.
// Times are the thread's CPU time. Counters: "evals" (evaluations per second), "handwritten" (calls per
// second) and "x_handwritten" (evaluation time / hand-written time; 1.0
// means no overhead). A checksum of both sides' results must agree.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "engine/dbf/dbf4.h"
#include "engine/engine.h"
#include "engine/expr/evaluate.h"
#include "engine/expr/ovparser.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"

namespace ov {
namespace {

constexpr int32_t kRecords = 1'000'000;
constexpr int32_t kBatch = 8192;

using bench::kMovieFields;

// Offsets in the record (the deletion flag is byte 0).
constexpr size_t kTitle = 1, kYear = 21, kPremiere = 1 + 20 + 4 + 1 + 3 + 50 + 20 + 10;

// Thread CPU time, so that other processes on the machine do not count.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Every twentieth record deleted; years 1900..2023; mixed-case titles.
void FillRecord(std::vector<char>& rec, int32_t n) {
  std::memset(rec.data(), ' ', rec.size());
  rec[0] = n % 20 == 0 ? '*' : ' ';
  char text[64];
  std::snprintf(text, sizeof text, "The Movie no.%07d", static_cast<int>(n));
  std::memcpy(rec.data() + kTitle, text, 20);
  std::snprintf(text, sizeof text, "%4d", 1900 + static_cast<int>(n % 124));
  std::memcpy(rec.data() + kYear, text, 4);
  std::snprintf(text, sizeof text, "%04d%02d%02d", 1900 + static_cast<int>(n % 124), 1 + static_cast<int>(n % 12),
                1 + static_cast<int>(n % 28));
  std::memcpy(rec.data() + kPremiere, text, 8);
}

// The demo table, built once and open in work area 1 until the run ends.
class DemoTable {
 public:
  DemoTable() : path_("/tmp/ov_expr_bench_" + std::to_string(getpid()) + ".dbf") {
    StartEngine();
    AreaConfig().AnsiTables = true;
    AreaConfig().MultiUser = false;
    DbfFile dbf;
    CreateDbf(dbf, path_, kMovieFields);
    dbf.path = path_;
    OpenDbf(dbf);
    for (int32_t n = 1; n <= kRecords && Errors().DbfError == 0; ++n) {
      FillRecord(dbf.record, n);
      AppendDbfRecord(dbf);
    }
    CloseDbf(dbf);
    Select(1);
    USE(path_);
    ok_ = Errors().DbfError == 0 && CurrentArea() != nullptr;
  }
  ~DemoTable() {
    StopEngine();
    std::remove(path_.c_str());
    std::remove(ForceExt(path_, "DBT").c_str());
  }
  DemoTable(const DemoTable&) = delete;
  DemoTable& operator=(const DemoTable&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string path_;
  bool ok_ = false;
};

DemoTable& Demo() {
  static DemoTable table;
  return table;
}

// ---- The hand-written side ----

const std::array<char, 256>& UpperTable() {
  static const std::array<char, 256> table = [] {
    std::array<char, 256> t{};
    for (size_t i = 0; i < 256; ++i) t[i] = UpperChar(static_cast<char>(i));
    return t;
  }();
  return table;
}

int YearOfRecord(const char* rec) {
  int y = 0;
  for (size_t i = kYear; i < kYear + 4; ++i) {
    if (rec[i] >= '0' && rec[i] <= '9') y = y * 10 + (rec[i] - '0');
  }
  return y;
}

size_t UpperTitleDtos(const char* rec, char* out) {
  const std::array<char, 256>& up = UpperTable();
  for (size_t i = 0; i < 20; ++i) out[i] = up[static_cast<unsigned char>(rec[kTitle + i])];
  std::memcpy(out + 20, rec + kPremiere, 8);
  return 28;
}

size_t StrYearTitle(const char* rec, char* out) {
  int y = YearOfRecord(rec);
  for (int i = 3; i >= 0; --i, y /= 10) out[i] = y > 0 || i == 3 ? static_cast<char>('0' + y % 10) : ' ';
  std::memcpy(out + 4, rec + kTitle, 20);
  return 24;
}

bool RecentVisible(const char* rec) { return YearOfRecord(rec) > 1990 && rec[0] != '*'; }

// Folds a result into a checksum both sides compute alike.
uint64_t Fold(const char* s, size_t n) {
  uint64_t h = n;
  for (size_t i = 0; i < n; ++i) h = h * 31 + static_cast<unsigned char>(s[i]);
  return h;
}

enum class Kind { kUpperDtos, kStrTitle, kCondition };

uint64_t HandValue(Kind kind, const char* rec) {
  char out[64];
  switch (kind) {
    case Kind::kUpperDtos: return Fold(out, UpperTitleDtos(rec, out));
    case Kind::kStrTitle: return Fold(out, StrYearTitle(rec, out));
    default: return RecentVisible(rec) ? 1 : 0;
  }
}

uint64_t EvalValue(Kind kind, CompiledExpr* e) {
  const void* r = Evaluate(e);
  if (kind == Kind::kCondition) return *static_cast<const int32_t*>(r) != 0 ? 1 : 0;
  const char* s = static_cast<const char*>(r);
  return Fold(s, std::strlen(s));
}

struct Totals {
  double eval_seconds = 0, hand_seconds = 0;
  uint64_t eval_check = 0, hand_check = 0;
};

// Loads records first..first+count-1 into `batch` (untimed).
void LoadBatch(WorkArea& area, int32_t first, int32_t count, std::vector<char>& batch) {
  const size_t len = area.table.record.size();
  batch.resize(len * static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    GetDbfRecord(area.table, first + i);
    std::memcpy(batch.data() + len * static_cast<size_t>(i), area.table.record.data(), len);
  }
}

// One timed section: every record of the batch placed in the area, then
// the value made by `make`.
template <typename Make>
double TimeBatch(WorkArea& area, int32_t first, const std::vector<char>& batch, uint64_t& check, Make make) {
  const size_t len = area.table.record.size();
  const int32_t count = static_cast<int32_t>(batch.size() / len);
  const double start = CpuSeconds();
  for (int32_t i = 0; i < count; ++i) {
    std::memcpy(area.table.record.data(), batch.data() + len * static_cast<size_t>(i), len);
    area.table.current_record = first + i;
    check += make(area.table.record.data());
  }
  return CpuSeconds() - start;
}

Totals RunAll(CompiledExpr* e, Kind kind) {
  Totals t;
  WorkArea& area = *CurrentArea();
  std::vector<char> batch;
  for (int32_t first = 1; first <= kRecords; first += kBatch) {
    LoadBatch(area, first, std::min(kBatch, kRecords - first + 1), batch);
    t.eval_seconds += TimeBatch(area, first, batch, t.eval_check, [&](const char*) { return EvalValue(kind, e); });
    t.hand_seconds +=
        TimeBatch(area, first, batch, t.hand_check, [&](const char* rec) { return HandValue(kind, rec); });
  }
  return t;
}

void BM_Expression(benchmark::State& state, const char* text, Kind kind) {
  if (!Demo().ok()) {
    state.SkipWithError("demo table could not be built");
    return;
  }
  CompiledExpr* e = AssignExpr(text);
  Totals last;
  for (auto _ : state) {
    last = RunAll(e, kind);
    state.SetIterationTime(last.eval_seconds);
  }
  FreeExpr(e);
  if (last.eval_check != last.hand_check) {
    state.SkipWithError("the evaluator and the hand-written function disagree");
    return;
  }
  state.counters["evals"] = benchmark::Counter(kRecords / last.eval_seconds);
  state.counters["handwritten"] = benchmark::Counter(kRecords / last.hand_seconds);
  state.counters["x_handwritten"] = benchmark::Counter(last.eval_seconds / last.hand_seconds);
}

BENCHMARK_CAPTURE(BM_Expression, upper_title_dtos, "UPPER(TITLE)+DTOS(PREMIERE)", Kind::kUpperDtos)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Expression, str_year_title, "STR(YEAR,4)+TITLE", Kind::kStrTitle)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Expression, condition, "YEAR > 1990 .AND. .NOT. DELETED()", Kind::kCondition)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ov

BENCHMARK_MAIN();
