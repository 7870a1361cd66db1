// Key maintenance against the same edits without an index: 100,000 appends
// to a table with two open tags, and 100,000 replaces that change a key,
// each against the same work on the table alone ("x_plain"). And 1 or 4
// processes appending to one shared table with two tags: total appends per
// second.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "engine/dbf/dbf4.h"
#include "engine/engine.h"
#include "engine/index/ovndx.h"
#include "engine/index/umakemdx.h"

namespace ov {
namespace {

constexpr int kEdits = 100000;
const std::vector<TagDef> kTwoTags = {{"NAME", "NAME", "", false, false}, {"QTY", "QTY", "", false, false}};

std::string Dir() {
  static const std::string dir =
      (std::filesystem::temp_directory_path() / ("ovupd_bench_" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(dir);
  return dir;
}

// A new empty table, open exclusively, with the two tags when `indexed`.
void NewTable(const std::string& name, bool indexed) {
  CloseAll();
  const std::string path = Dir() + "/" + name + ".DBF";
  std::filesystem::remove(path);
  std::filesystem::remove(Dir() + "/" + name + ".MDX");
  DbfFile dbf;
  CreateDbf(dbf, path, std::vector<FieldDef>{{"NAME", 'C', 20, 0}, {"QTY", 'N', 8, 0}});
  CloseDbf(dbf);
  USE(path + " EXCLUSIVE");
  if (indexed && !MakeIndex(kTwoTags, "")) std::fprintf(stderr, "index build failed\n");
}

double AppendAll(uint32_t seed) {
  std::mt19937 rng(seed);
  const bench::Clock::time_point start = bench::Clock::now();
  for (int i = 0; i < kEdits; ++i) {
    ClearRecord();
    SetFieldText(1, "N" + std::to_string(rng() % 1000000));
    SetFieldNumber(2, rng() % 100000);
    Append();
  }
  return bench::SecondsSince(start);
}

double ReplaceAll(uint32_t seed) {
  std::mt19937 rng(seed);
  const bench::Clock::time_point start = bench::Clock::now();
  for (int i = 0; i < kEdits; ++i) {
    GO(static_cast<int32_t>(1 + rng() % kEdits));
    SetFieldText(1, "R" + std::to_string(rng() % 1000000));
    Replace();
  }
  return bench::SecondsSince(start);
}

void BM_AppendWithTwoTags(benchmark::State& state) {
  StartEngine();
  double plain = 0, indexed = 0;
  for (auto _ : state) {
    NewTable("PLAIN", false);
    plain += AppendAll(1);
    NewTable("KEYED", true);
    indexed += AppendAll(1);
  }
  state.counters["x_plain"] = indexed / plain;
  state.counters["appends_per_s"] = kEdits * static_cast<double>(state.iterations()) / indexed;
  CloseAll();
}

void BM_ReplaceKeyWithTwoTags(benchmark::State& state) {
  StartEngine();
  double plain = 0, indexed = 0;
  for (auto _ : state) {
    NewTable("PLAIN", false);
    AppendAll(2);
    plain += ReplaceAll(3);
    NewTable("KEYED", true);
    AppendAll(2);
    indexed += ReplaceAll(3);
  }
  state.counters["x_plain"] = indexed / plain;
  state.counters["replaces_per_s"] = kEdits * static_cast<double>(state.iterations()) / indexed;
  CloseAll();
}

// Each of `procs` processes appends kSharedAppends / procs records under the
// append lock to one shared table with two tags.
void BM_SharedAppend(benchmark::State& state) {
  constexpr int kSharedAppends = 20000;
  const int procs = static_cast<int>(state.range(0));
  StartEngine();
  double seconds = 0;
  for (auto _ : state) {
    NewTable("SHARED", true);
    CloseAll();
    const std::string path = Dir() + "/SHARED.DBF";
    const bench::Clock::time_point start = bench::Clock::now();
    for (int p = 0; p < procs; ++p) {
      if (fork() != 0) continue;
      int status = 0;
      try {
        AreaConfig().MultiUser = true;
        USE(path);
        if (!SetIndexTo("")) _exit(1);
        std::mt19937 rng(static_cast<uint32_t>(p));
        for (int i = 0; i < kSharedAppends / procs; ++i) {
          while (!ALock()) usleep(100);
          ClearRecord();
          SetFieldText(1, "N" + std::to_string(rng() % 1000000));
          SetFieldNumber(2, rng() % 100000);
          Append();
          Unlock();
        }
        CloseAll();
      } catch (...) {
        status = 1;
      }
      _exit(status);
    }
    for (int p = 0; p < procs; ++p) {
      int st = 0;
      wait(&st);
      if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) state.SkipWithError("an appending process failed");
    }
    seconds += bench::SecondsSince(start);
  }
  state.counters["appends_per_s"] = kSharedAppends * static_cast<double>(state.iterations()) / seconds;
  if (procs == 4) std::filesystem::remove_all(Dir());
}

BENCHMARK(BM_AppendWithTwoTags)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ReplaceKeyWithTwoTags)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SharedAppend)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
}  // namespace ov

BENCHMARK_MAIN();
