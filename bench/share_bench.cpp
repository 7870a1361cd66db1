// Several processes writing one shared table with memos: each appends,
// renames and rewrites memos of its own records under record and append
// locks, as an application would. Reports operations per second for the
// whole group ("ops_per_s"), so 1, 2, 4 and 8 writers can be compared.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "engine/dbf/dbf4.h"
#include "engine/support/ovcommon.h"

namespace ov {
namespace {

constexpr int kOpsEach = 500;

bool Retry(bool (*lock)()) {
  for (int i = 0; i < 20000; ++i) {
    if (lock()) return true;
    usleep(500);
  }
  return false;
}

int Writer(const std::string& table, int w) {
  try {
    USE(table);
    std::mt19937 rng(static_cast<uint32_t>(w));
    std::vector<int32_t> mine;
    for (int i = 0; i < kOpsEach; ++i) {
      const bool append = mine.empty() || rng() % 3 == 0;
      if (append) {
        if (!Retry(ALock)) return 2;
        ClearRecord();
      } else {
        GO(mine[rng() % mine.size()]);
        if (!Retry(RLock)) return 2;
      }
      const auto old = static_cast<int32_t>(GetFieldNumber(2));
      const std::string memo(12 + rng() % 1400, static_cast<char>('a' + w));
      const int32_t block = Areas().memo.write_text(*CurrentArea(), memo, old);
      SetFieldText(1, "w" + std::to_string(w) + "i" + std::to_string(i));
      SetFieldNumber(2, block);
      if (append) {
        Append();
        mine.push_back(RecNo());
      } else {
        Replace();
      }
      if (old != 0 && old != block) Areas().memo.release(*CurrentArea(), old);
      Unlock();
    }
    CloseArea();
    return 0;
  } catch (const EOrvelError& e) {
    std::fprintf(stderr, "writer %d: %s\n", w, e.what());
    return 1;
  }
}

void BM_SharedWriters(benchmark::State& state) {
  const int writers = static_cast<int>(state.range(0));
  const std::string table = "/tmp/ov_bench_share_" + std::to_string(getpid()) + ".dbf";
  AreaConfig().MultiUser = true;
  Engine().table.CreateVersion = 0x8B;
  for (auto _ : state) {
    DbfFile dbf;
    CreateDbf(dbf, table, std::vector<FieldDef>{{"NAME", 'C', 12, 0}, {"NOTES", 'M', 10, 0}});
    CloseDbf(dbf);
    const bench::Clock::time_point start = bench::Clock::now();
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
      const pid_t pid = fork();
      if (pid == 0) _exit(Writer(table, w));
      children.push_back(pid);
    }
    bool ok = true;
    for (pid_t pid : children) {
      int st = -1;
      waitpid(pid, &st, 0);
      ok = ok && WIFEXITED(st) && WEXITSTATUS(st) == 0;
    }
    const double seconds = bench::SecondsSince(start);
    state.SetIterationTime(seconds);
    if (!ok) state.SkipWithError("a writer failed");
    state.counters["ops_per_s"] = writers * kOpsEach / seconds;
  }
  std::remove(table.c_str());
  std::remove((table.substr(0, table.size() - 4) + ".dbt").c_str());
  AreaConfig().MultiUser = false;
}

BENCHMARK(BM_SharedWriters)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ov
