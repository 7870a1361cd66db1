// Helpers shared by the editing and locking commands of the work-area
// layer. Not part of the layer's public interface.
//
// Single-threaded, process-wide state.
#pragma once

#include <cstdint>

#include "engine/dbf/dbf4.h"

namespace ov {

// Whether the area must take operating-system locks: multi-user operation
// and a table not opened for exclusive use.
bool NeedsLocks(const WorkArea& area);
// Whether record n is in the area's record-lock list.
bool HoldsRecordLock(const WorkArea& area, int32_t n);

// Seam for the Peek cache of the search layer: an edit of record n copies
// the changed raw record into the cache when it holds that record. The
// cache does not exist yet, so this does nothing.
void UpdatePeekCacheRecord(const WorkArea& area, int32_t n);

}  // namespace ov
