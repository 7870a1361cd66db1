// Key maintenance against the same edits without an index: 100,000 appends
// to a table with two open tags, and 100,000 replaces that change a key,
// each against the same work on the table alone ("x_plain").
#include <benchmark/benchmark.h>
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
  std::filesystem::remove_all(Dir());
}

BENCHMARK(BM_AppendWithTwoTags)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ReplaceKeyWithTwoTags)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace ov

BENCHMARK_MAIN();
