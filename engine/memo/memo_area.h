// The memo store seen from the work-area layer: each area's memo file
// handle, and the area-level entries that find the handle, build the report
// context (file name, record number, routine) and call the handle-level
// routines of memo.h and memo_ops.h. This is the only part of the memo
// store that knows work areas.
//
// The work-area layer reaches these only through the eight-entry operation
// table below; InstallMemoHooks hands its entries to the MemoHooks slots
// of the area table.
//
// Single-threaded, process-wide state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/memo/memo.h"
#include "engine/memo/memo_ops.h"

namespace ov {

// The memo file handle of an area, or nullptr when it has no memo file. Its
// sharing follows the area's settings of the moment.
MemoState* MemoStateOf(WorkArea& area);

// Context of a memo report: file name, record number, routine.
std::string MemoContext(WorkArea& area, const std::string& routine);

// Attaches the memo file `name` (the table name; the kind's extension is
// added when it has none) to the area; answers the code, 0 = success.
uint16_t OpenMemoFile(WorkArea& area, const std::string& name);
void CloseMemoFile(WorkArea& area);

// The memo kind of the current area (CreateVersion's kind when it has none).
MemoKind GetMemoType();

// Fails with 215 (no table) or 1019 (no memo file).
bool CheckMemoField(const std::string& routine);

// The operation table, in its fixed order. It never changes, so it is a
// constant; InstallMemoHooks copies it into the area table's slots.
struct MemoOperations {
  int (*assign)(MemoBinding& binding, int32_t& reference);
  void (*pack)(WorkArea& area);
  uint16_t (*open)(WorkArea& area, const std::string& name);
  void (*close)(WorkArea& area);
  int32_t (*copy_to_end)(WorkArea& to, WorkArea& from, int32_t block);
  int32_t (*copy_same_number)(WorkArea& to, WorkArea& from, int32_t block);
  void (*recreate)(WorkArea& area, const std::string& name);
  int32_t (*add)(const std::string& text);
};

const MemoOperations& MemoOps();

// Fills Areas().memo.open / close / read_text / write_text / release.
void InstallMemoHooks();

// Copies the memo at `block` of area `source` into the current area's memo
// file: at its end, or at the same block number (see CopyMemoInto).
int32_t CopyMemo(int source, int32_t block, bool same_number);
int32_t CopyMemoBetween(WorkArea& to, WorkArea& from, int32_t block, bool same_number);

// A new memo of the current area holding `text` (converted to OEM for an
// OEM table, as every text is; plain in a dBASE III file, see
// StoreMemoBytes); its block number, 0 for an empty text or on failure
// (reported).
int32_t AddMemo(const std::string& text);

// Rebuilds the current area's memo file from the memos its records
// reference (see RebuildMemoFile); a failure leaves table and memo file
// unchanged.
void PackMemofile();

// Returns the blocks of a sound dBASE IV / level 7 memo file that neither a
// memo nor the free chain holds (left by a killed writer) to the free
// chain, holding the table exclusively in the engine's area 34; one line
// per change. Other kinds have no chain: only a pack reclaims their space.
std::vector<std::string> ReturnUnreachableMemoBlocks(const std::string& table_path);
void PackMemofileOf(WorkArea& area);

// Closes the area's memo file, creates an empty one of the default kind
// under `name` and opens it.
void RecreateMemofile(WorkArea& area, const std::string& name);

// A memo's text and storing text as a memo, converted between ANSI and OEM
// for OEM tables (see LoadMemoBytes, StoreMemoBytes).
std::string LoadMemoText(WorkArea& area, int32_t block, const std::string& routine);
int32_t StoreMemoText(WorkArea& area, const std::string& text, int32_t old_block, const std::string& routine);
// Gives a dBASE IV / level 7 memo back to the free chain, under the lock.
void ReleaseMemoLocked(WorkArea& area, int32_t block);
// After record `record` of the area was written: the old memos the text
// writer replaced in it are given back, unless the record still refers to
// them; pending releases of other records are forgotten.
void SettleMemos(WorkArea& area, int32_t record);

// AssignMemo: the memo field check under "AssignMemo", then binds the
// reference and the current area; 0 on success, else the code (reported).
int AssignMemo(MemoBinding& binding, int32_t& reference);

}  // namespace ov
