// Integrity check of a table's memo file, for tests, fuzzers and tools.
//
// Like the table check it opens the files by name, read-only and shared,
// and never changes them or the engine's state. Every memo a record
// references must:
//   - lie inside the file, past its header;
//   - be well-formed for the kind: dBASE IV / level 7 FF FF 08 00 and a
//     length (header included) the file holds; FoxPro a big-endian type
//     (0..2) and length; dBASE III raw text ended by 0x1A, or the headered
//     form under a negated number;
//   - share no block with another memo.
// A dBASE IV / level 7 free chain must ascend, stay inside the file and
// keep its runs apart from each other and from live memos; ascending means
// it cannot loop. Blocks neither in a memo nor in the chain (nor in the
// header) are unreachable: space lost, not a fault, so they are counted
// apart from the findings.
//
// Single-threaded, process-wide state (as the table check).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/dbf/dbf_check.h"
#include "engine/memo/memo_create.h"
#include "engine/support/platform.h"

namespace ov {

struct FreeRun {
  uint32_t first = 0;
  uint32_t count = 0;
};

// The free chain of the dBASE IV / level 7 memo file `file` (blocks of
// `block_size`), head first; a chain that descends, leaves the file or
// overlaps itself adds kFreeChain and is not followed further.
std::vector<FreeRun> WalkFreeChain(File& file, uint16_t block_size, std::vector<CheckFinding>& findings);

// The findings of the memo file of the table `table_path`; none for a
// table without memo fields. `unreachable`, when given, receives the count
// of blocks no memo and no free run holds, and `gaps`, when given, the
// runs they form.
std::vector<CheckFinding> CheckMemo(const std::string& table_path, uint32_t* unreachable = nullptr,
                                    std::vector<FreeRun>* gaps = nullptr);

// The findings of the memo file `file` of `kind`, read through the caller's
// handle, whose memos are `references` (block numbers as records hold
// them; record n is references[n - 1], 0 = none).
std::vector<CheckFinding> CheckMemoFile(File& file, MemoKind kind, const std::vector<int32_t>& references,
                                        uint32_t* unreachable = nullptr, std::vector<FreeRun>* gaps = nullptr);

// The table check, then the memo check when the table is readable.
std::vector<CheckFinding> CheckTableAndMemo(const std::string& table_path, uint32_t* unreachable = nullptr);

}  // namespace ov
