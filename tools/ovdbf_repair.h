// The repair of a table's file set (table, memo file, production index),
// all or nothing.
//
// The table is held exclusively throughout. Each file is copied beside
// itself under a temporary name, the repairs that need no guessing run on
// the copies and the copies are checked; only then do renames put the
// copies that changed in place, each former file kept as its backup
// (".~BF" table, ".~BT" memo file, ".~DX" index). A failing step leaves
// the originals as they were and removes every temporary file.
#pragma once

#include <string>

namespace ov::cli {

// One "repaired: " line per change on stdout, then the check of the result
// (Check's lines and status). Throws the engine's error when a step fails.
int Repair(const std::string& path);

}  // namespace ov::cli
