// Pieces every benchmark shares: the demo table's fields, a wall clock and
// the removal of scratch tables.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "engine/dbf/ovdbflow.h"
#include "engine/engine.h"
#include "engine/support/ovcommon.h"

namespace ov::bench {

inline const FieldDef kMovieFields[] = {
    {"title", 'C', 20, 0}, {"year", 'N', 4, 0},      {"color", 'L', 1, 0}, {"runtime", 'N', 3, 0},
    {"stars", 'C', 50, 0}, {"director", 'C', 20, 0}, {"plot", 'M', 10, 0}, {"premiere", 'D', 8, 0},
};

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The memo file beside a table: its extension takes the case of the
// table's, so both spellings are looked for. Empty when there is none.
inline std::string MemoFileOf(const std::string& table) {
  for (const char* ext : {"dbt", "DBT"}) {
    const std::string memo = ForceExt(table, ext);
    if (std::FILE* f = std::fopen(memo.c_str(), "rb")) {
      std::fclose(f);
      return memo;
    }
  }
  return std::string();
}

// Removes a table and its memo file.
inline void RemoveTable(const std::string& table) {
  if (const std::string memo = MemoFileOf(table); !memo.empty()) std::remove(memo.c_str());
  std::remove(table.c_str());
}

// The main of a benchmark program over the engine: errors are left in
// DbfError for the benchmarks to check, not raised.
inline int RunWithEngine(int argc, char** argv) {
  StartEngine();
  SetImmediateErrors(false);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  StopEngine();
  return 0;
}

}  // namespace ov::bench
