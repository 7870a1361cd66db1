// Index building against its floor: MakeIndex of one C(20) tag over
// 1,000,000 records, against reading the same table sequentially, sorting
// the same (key, record) pairs with std::sort and writing as many 1024-byte
// nodes; and the build forced through the run file against the in-memory
// build.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "engine/dbf/dbf4.h"
#include "engine/engine.h"
#include "engine/index/index_engine.h"
#include "engine/index/ovndx.h"
#include "engine/index/ovndxlow.h"
#include "engine/index/umakemdx.h"
#include "engine/support/ovcommon.h"

namespace ov {
namespace {

constexpr int kRecords = 1000000;
constexpr size_t kKey = 20;

struct Fixture {
  std::string dir, table;
  size_t header = 0, record = 0;

  Fixture() {
    dir = (std::filesystem::temp_directory_path() / ("ovidx_bench_" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(dir);
    table = dir + "/BIG.DBF";
    StartEngine();
    DbfFile dbf;
    const std::vector<FieldDef> defs = {{"NAME", 'C', 20, 0}, {"QTY", 'N', 8, 0}};
    CreateDbf(dbf, table, defs);
    dbf.path = table;
    OpenDbf(dbf);
    header = dbf.header_length;
    record = dbf.record_length;
    CloseDbf(dbf);
    // The records go in directly: a million appends is not what is measured.
    std::FILE* f = std::fopen(table.c_str(), "r+b");
    std::fseek(f, static_cast<long>(header), SEEK_SET);
    std::vector<char> rec(record + 1);
    uint32_t x = 12345;
    for (int i = 0; i < kRecords; ++i) {
      x = x * 1103515245u + 12345u;
      std::snprintf(rec.data(), rec.size(), " K%08u%-11d%8d", x % 100000000u, i % 1000, i);
      std::fwrite(rec.data(), 1, record, f);
    }
    std::fputc(0x1A, f);
    const uint8_t count[4] = {kRecords & 0xFF, (kRecords >> 8) & 0xFF, (kRecords >> 16) & 0xFF, 0};
    std::fseek(f, 4, SEEK_SET);
    std::fwrite(count, 1, 4, f);
    std::fclose(f);
    USE(table + " EXCLUSIVE");
  }
  ~Fixture() {
    CloseAll();
    StopEngine();
    std::filesystem::remove_all(dir);
  }
};

Fixture& Data() {
  static Fixture f;
  return f;
}

void BuildOnce(benchmark::State& state, int64_t memory) {
  Fixture& d = Data();
  IndexEngine().BuildMemory = memory;
  for (auto _ : state) {
    if (!MakeIndex({{"NAME", "NAME", "", false, false}}, d.dir + "/BIG.MDX")) state.SkipWithError("build failed");
  }
  IndexEngine().BuildMemory = IndexEngineState{}.BuildMemory;
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_MakeIndexC20(benchmark::State& state) { BuildOnce(state, IndexEngineState{}.BuildMemory); }

// About eighteen runs of 57,000 pairs through the temporary file.
void BM_MakeIndexC20Spilled(benchmark::State& state) { BuildOnce(state, 90000 * 28); }

// The floor: the same bytes read in 64 KiB chunks, the same pairs sorted,
// the same number of nodes written.
void BM_Floor(benchmark::State& state) {
  Fixture& d = Data();
  struct Pair {
    std::array<char, kKey> key;
    uint32_t rec;
  };
  const size_t per_node = mdx::MaxKeys(kKey);
  for (auto _ : state) {
    const int fd = open(d.table.c_str(), O_RDONLY);
    std::vector<char> chunk((65280 / d.record) * d.record);
    std::vector<Pair> pairs;
    pairs.reserve(kRecords);
    off_t at = static_cast<off_t>(d.header);
    uint32_t rec = 0;
    for (ssize_t got; (got = pread(fd, chunk.data(), chunk.size(), at)) > 0 && rec < kRecords; at += got) {
      for (size_t i = 0; i + d.record <= static_cast<size_t>(got) && rec < kRecords; i += d.record) {
        Pair p;
        std::memcpy(p.key.data(), &chunk[i + 1], kKey);
        p.rec = ++rec;
        pairs.push_back(p);
      }
    }
    close(fd);
    std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) {
      const int c = std::memcmp(a.key.data(), b.key.data(), kKey);
      return c < 0 || (c == 0 && a.rec < b.rec);
    });
    const std::string out = d.dir + "/FLOOR.BIN";
    const int wfd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> nodes(63 * mdx::kBlockSize);
    const size_t total = (pairs.size() + per_node - 1) / per_node + pairs.size() / per_node / per_node + 1;
    for (size_t n = 0; n < total; n += 63) {
      const size_t k = std::min<size_t>(63, total - n);
      std::memcpy(nodes.data(), pairs[std::min(n * per_node, pairs.size() - 1)].key.data(), kKey);
      if (write(wfd, nodes.data(), k * mdx::kBlockSize) < 0) state.SkipWithError("write failed");
    }
    close(wfd);
    benchmark::DoNotOptimize(pairs.data());
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

// The keys of every 97th record, in a shuffled order (the table's own
// generator, replayed).
std::vector<std::string> SomeKeys() {
  std::vector<std::string> keys;
  uint32_t x = 12345;
  char text[16];
  for (int i = 0; i < kRecords; ++i) {
    x = x * 1103515245u + 12345u;
    if (i % 97 != 0) continue;
    std::snprintf(text, sizeof text, "K%08u", x % 100000000u);
    keys.push_back(text);
  }
  std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
  return keys;
}

// Levels from the root of tag 1 to a leaf.
int TreeHeight(const std::string& mdx_path) {
  const int fd = open(mdx_path.c_str(), O_RDONLY);
  uint8_t b[mdx::kBlockSize];
  int height = 0;
  if (pread(fd, b, 4, 512 + 32) == 4) {
    uint32_t block = GetLe32(b);
    if (pread(fd, b, 4, static_cast<off_t>(block) * 512) == 4) block = GetLe32(b);
    const uint16_t entry = mdx::EntryLength(kKey);
    while (height < 32 && pread(fd, b, sizeof b, static_cast<off_t>(block) * 512) == sizeof b) {
      ++height;
      if (mdx::IsLeaf(b, entry)) break;
      block = GetLe32(mdx::NodeEntry(b, 0, entry));
    }
  }
  close(fd);
  return height;
}

// Find of existing keys, warm, against (height + 1) raw 1024-byte preads
// per find at random blocks of the same file ("x_floor").
void BM_Find(benchmark::State& state) {
  Fixture& d = Data();
  const std::string mdx_path = d.dir + "/BIG.MDX";
  if (!MakeIndex({{"NAME", "NAME", "", false, false}}, mdx_path)) state.SkipWithError("build failed");
  const std::vector<std::string> keys = SomeKeys();
  const int height = TreeHeight(mdx_path);
  double engine = 0, floor = 0;
  for (auto _ : state) {
    bench::Clock::time_point start = bench::Clock::now();
    for (const std::string& k : keys) {
      if (!Find(k)) state.SkipWithError("a key was not found");
    }
    const double once = bench::SecondsSince(start);
    engine += once;
    state.SetIterationTime(once);
    const int fd = open(mdx_path.c_str(), O_RDONLY);
    const off_t blocks = static_cast<off_t>(std::filesystem::file_size(mdx_path) / mdx::kBlockSize);
    std::mt19937 rng(3);
    uint8_t b[mdx::kBlockSize];
    start = bench::Clock::now();
    for (size_t i = 0; i < keys.size() * static_cast<size_t>(height + 1); ++i) {
      if (pread(fd, b, sizeof b, static_cast<off_t>(rng() % blocks) * 1024) < 0) state.SkipWithError("pread");
    }
    floor += bench::SecondsSince(start);
    close(fd);
  }
  state.counters["finds_per_s"] = static_cast<double>(keys.size() * state.iterations()) / engine;
  state.counters["height"] = height;
  state.counters["x_floor"] = engine / floor;
}

// GoTop + SKIP to the end in index order against natural order
// ("x_natural").
void BM_WalkIndexOrder(benchmark::State& state) {
  Fixture& d = Data();
  if (!MakeIndex({{"NAME", "NAME", "", false, false}}, d.dir + "/BIG.MDX")) state.SkipWithError("build failed");
  auto walk = [] {
    const bench::Clock::time_point start = bench::Clock::now();
    int32_t n = 0;
    for (GoTop(); !dEOF(); SKIP(1)) ++n;
    if (n != kRecords) std::fprintf(stderr, "walked %d records\n", n);
    return bench::SecondsSince(start);
  };
  double ordered = 0, natural = 0;
  for (auto _ : state) {
    Set_Order_To(0);
    natural += walk();
    Set_Order_To(1);
    ordered += walk();
  }
  state.counters["x_natural"] = ordered / natural;
  state.counters["records_per_s"] = kRecords * static_cast<double>(state.iterations()) / ordered;
}

BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Find)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK(BM_WalkIndexOrder)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_MakeIndexC20)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MakeIndexC20Spilled)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace ov

BENCHMARK_MAIN();
