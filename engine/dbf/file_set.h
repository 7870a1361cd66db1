// Copying a table's file set (table, memo .DBT or .FPT, index) as one piece.
//
// Every copy is first made beside its target under a temporary name; only
// when all copies succeeded do renames put them in place, each former
// target moved aside first, so that a failing rename can put the earlier
// files back. The targets are thus either all replaced or all as before.
//
// Single-threaded, process-wide state: failures go to the engine's error
// state.
#pragma once

#include <string>

namespace ov {

// Copies the file set of `source` onto `target`'s names, or onto the
// "~BF", "~BT", "~DX" backups when `target` is empty. A source file that
// does not exist leaves its target deleted. Answers false after reporting
// the first failing step through the engine's error path.
[[nodiscard]] bool CopyFileSet(const std::string& source, const std::string& target);

}  // namespace ov
