// Pieces every benchmark shares: the demo table's fields and a wall clock.
#pragma once

#include <chrono>

#include "engine/dbf/ovdbflow.h"

namespace ov::bench {

inline const FieldDef kMovieFields[] = {
    {"title", 'C', 20, 0}, {"year", 'N', 4, 0},      {"color", 'L', 1, 0}, {"runtime", 'N', 3, 0},
    {"stars", 'C', 50, 0}, {"director", 'C', 20, 0}, {"plot", 'M', 10, 0}, {"premiere", 'D', 8, 0},
};

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace ov::bench
