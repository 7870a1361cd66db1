// Integrity check of an open index, for tests, fuzzers and tools.
//
// For every tag of the current area's index it walks the tree from the
// file (not from any cached path) and checks:
//   - every node lies inside the file, is reached once and no deeper than
//     the descent limit, and has a count its block can hold;
//   - no node but the root is empty, and no interior node lacks a key;
//   - keys ascend in the tag's order across the whole tag, and an interior
//     entry's key equals the last key of its child's subtree;
//   - leaf record numbers lie within the table;
//   - the has-keys flag agrees with the tree;
// and then that the (key, record) entries are exactly what the table's
// records give (FOR expressions applied). A unique tag holds each key
// once, from a record that has it; which record that is depends on the
// order of edits, so a key none of its records hold in the tag is fine.
//
// It changes neither file; the area ends on the record it stood on.
// Single-threaded, process-wide state (the current area, the evaluator).
#pragma once

#include <vector>

#include "engine/dbf/dbf_check.h"

namespace ov {

// The findings for the current area's open index; empty when it is sound
// (or no index is open).
std::vector<CheckFinding> CheckIndex();

}  // namespace ov
