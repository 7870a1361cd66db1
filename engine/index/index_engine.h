// The index engine's process-wide state: the builder's settings and the
// slots through which the builder reaches the open-index side (opening,
// closing, the active tag), which the navigation unit fills. An empty slot
// means nothing is open and nothing needs closing.
//
// Single-threaded, process-wide state, kept in Engine().index.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/index/index_semaphore.h"
#include "engine/support/engine_state.h"

namespace ov {

struct WorkArea;

struct IndexEngineState {
  // Bytes the builder may hold in (key, record) pairs and their pointers
  // before it sorts what it has and spills it as a run to a temporary
  // file; a small figure forces the spill. Fewer than 10000 bytes builds
  // nothing.
  int64_t BuildMemory = int64_t{256} << 20;
  // Called about `progress_steps` times per tag with the step number.
  std::function<void(int step)> progress;
  int progress_steps = 0;

  // Times an open index re-read its anchors after another process's
  // change (for tests and benchmarks).
  uint64_t anchor_refreshes = 0;

  // The open-index side. open_file: the area's open index file ("" none);
  // close_all: closes every tag of the area; open: SetIndexTo;
  // active_tag / select_tag: the active tag's name and selecting one.
  std::function<std::string(WorkArea&)> open_file;
  std::function<void(WorkArea&)> close_all;
  std::function<bool(WorkArea&, const std::string&)> open;
  std::function<std::string(WorkArea&)> active_tag;
  std::function<bool(WorkArea&, const std::string&)> select_tag;

  // Where semaphore files go and how long their waits last.
  SemaphoreSettings semaphore;
};

// The state, made on first use.
IndexEngineState& IndexEngine();

}  // namespace ov
