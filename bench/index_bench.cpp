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
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/engine.h"
#include "engine/index/index_engine.h"
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

BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MakeIndexC20)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MakeIndexC20Spilled)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace ov

BENCHMARK_MAIN();
