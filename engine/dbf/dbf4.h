// The xBase command layer: numbered work areas, opening, navigation,
// editing and locking.
//
// There are 35 areas; 1..33 are the callers', 34 and 35 the engine's own.
// Every command acts on the current area (`Select`). Each open area owns a
// `WorkArea`: its table file, the typed record image of the current record,
// conditions, locks, and the memo and index state that the upper layers
// attach through hook slots. The memo store, the expression engine and the
// index engine fill those slots at start-up; this layer calls a slot only
// when it is filled (and the index slots only while an index is active).
//
// Record positions an area can be in:
//   positioned   1 <= current <= count, typed record filled, flags clear
//   phantom      current = count + 1, at-end set, typed record cleared
//   empty table  both flags set
//
// Lock states: 0 --ALock--> 2 (append lock) --Unlock--> 0;
//              0 --RLock--> 3 (record locks, more RLock add) --last
//              UnlockRec / Unlock--> 0. The two kinds never coexist.
// Lock regions (32-bit offsets, honoured by every process):
//   record n: LockBase + header length + (n-1) * record length, record length
//   append:   LockBase + 1, 1 byte;   header byte: LockBase, 1 byte.
//
// Single-threaded, process-wide state.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dbf/index_seam.h"
#include "engine/dbf/ovdbflow.h"
#include "engine/support/engine_state.h"

namespace ov {

inline constexpr int kCallerAreas = 33;
inline constexpr int kAreaCount = 35;

struct WorkArea;
// State the optional modules keep, defined by their own units: a compiled
// expression (expression engine), an open memo file (memo store), the open
// index (index engine). The work-area layer only holds and drops them.
struct CompiledExpr;
struct MemoState;
struct IndexState;

// A FOR or WHILE condition: a callback, or a compiled expression owned by
// the expression engine (released through the expression hooks).
struct Condition {
  std::function<bool()> callback;
  std::shared_ptr<CompiledExpr> expr;
  bool is_set() const { return callback || expr; }
};

// Slots the expression engine fills.
struct ExprHooks {
  // Compiles expression text against the current area; nullptr on failure
  // (the engine reports).
  std::function<std::shared_ptr<CompiledExpr>(const std::string& text)> compile;
  // Evaluates a compiled logical expression on the current record.
  std::function<bool(const std::shared_ptr<CompiledExpr>& expr)> evaluate_logical;
};

// Slots the memo store fills.
struct MemoHooks {
  // Attaches the memo file to the area; answers the code (0 = success).
  std::function<uint16_t(WorkArea& area, const std::string& memo_path)> open;
  std::function<void(WorkArea& area)> close;
  // Text of the memo with the given block number in the area.
  std::function<std::string(WorkArea& area, int32_t block)> read_text;
  // Stores text as a memo (replacing `old_block`); answers the block number.
  std::function<int32_t(WorkArea& area, const std::string& text, int32_t old_block)> write_text;
  // Copies the memo at `block` of area `from` into the memo file of `to`:
  // at the end of the file, or at the same block number when asked;
  // answers the destination block (0 when nothing was copied).
  std::function<int32_t(WorkArea& to, WorkArea& from, int32_t block, bool same_number)> copy;
  // Rebuilds the area's memo file without its dead space.
  std::function<void(WorkArea& area)> pack;
  // Replaces the area's memo file by an empty one of the default kind.
  std::function<void(WorkArea& area, const std::string& name)> recreate;
  std::function<void(WorkArea& area, int32_t block)> release;
  // Record `record` was written (Replace, Append): memos it no longer
  // refers to may now be given back. Never a memo before that: a failure
  // or a crash between the memo write and the record write loses nothing.
  std::function<void(WorkArea& area, int32_t record)> committed;
};

// A number set into the typed record that its slot cannot carry (an
// integer beyond 32 bits, more digits than a six-byte real holds): the
// exact text is written instead, as long as the slot still holds the bytes
// it was set with. Scatter drops every entry.
struct ExactNumber {
  int field = 0;  // 1-based
  std::string text;
  std::array<uint8_t, 6> slot{};
};

struct WorkArea {
  DbfFile table;
  int number = 0;
  bool hide_deleted = false;
  uint8_t* typed = nullptr;  // the typed record image (caller's or own_typed)
  uint16_t typed_size = 0;
  bool owns_typed = false;
  std::vector<uint8_t> own_typed;
  std::vector<uint16_t> typed_offsets;  // per field, offset in the typed record
  std::function<bool()> filter;
  Condition for_cond;
  Condition while_cond;
  std::function<void()> relation;
  std::string alias;
  uint8_t lock_state = 0;             // 0 none, 1 file, 2 append, 3 records
  std::vector<int32_t> record_locks;  // most recent first
  std::vector<uint8_t> swap;
  bool exclusive = false;
  bool exclusive_by_reopen = false;
  // A table no other process may write to changes size only through this
  // area once its count has been taken from the file: Append asks once.
  bool count_from_file = false;
  std::vector<ExactNumber> exact_numbers;
  // Per field, the value Scatter parsed from a stored number (0 for other
  // kinds), so a read of an unchanged number does not parse it again.
  std::vector<double> stored_numbers;
  // Fields a caller set since the last Scatter (1 per field): written by
  // Gather over a stored field that shows no value even when the typed
  // value is what such a field reads as (0 over blanks, false over "?").
  std::vector<uint8_t> touched;
  std::vector<char> gather_buf;             // Gather builds the record here first
  std::shared_ptr<MemoState> memo_state;    // filled by the memo store
  std::shared_ptr<IndexState> index_state;  // filled by the index engine
};

// Settings of the work-area layer.
struct AreaSettings {
  bool MultiUser = true;
  uint16_t OpenMode = fmode::kReadWrite | fmode::kDenyNone;
  uint16_t OpenModeOverride = 0xFFFF;  // 0xFFFF = none
  bool AnsiTables = false;
  uint32_t LockBase = 0x40000000u;
  uint16_t RecordLockLimit = 0;
  int LockRetries = 0;
  int LockRetryWait = 0;  // seconds
  std::function<bool()> LockRetryHook;
  bool MaintainIndexes = true;
  // Called while waiting between lock attempts, so a window system can
  // dispatch its messages; sleeps when empty. Answers false to stop early
  // (the application is terminating).
  std::function<bool(uint32_t ms)> LockWaitHook;
};

// The area table and everything that hangs off it.
struct SearchState;  // Locate and Peek (dbf4_search.h)

struct AreaTable {
  std::array<std::unique_ptr<WorkArea>, kAreaCount + 1> slots;  // [0] unused
  int current = 1;
  AreaSettings settings;
  ExprHooks expr;
  MemoHooks memo;
  IndexHooks index;
  std::shared_ptr<SearchState> search;  // made on first use
};

// Reports a command before start-up and answers a bare table (out of line:
// the rare path of Areas).
AreaTable& AreasUnstarted();
// Inline, as every command and field access asks for them.
inline AreaTable& Areas() {
  const std::shared_ptr<AreaTable>& areas = Engine().areas;
  return areas ? *areas : AreasUnstarted();
}
AreaSettings& AreaConfig();
// The current area's record, or nullptr when it is empty.
inline WorkArea* CurrentArea() {
  AreaTable& t = Areas();
  return t.slots[t.current].get();
}

// Start-up and shut-down of the layer (EngineStartup/EngineShutdown call
// these through the engine state).
void StartWorkAreas();
void StopWorkAreas();

// ---- Selection, opening, closing (work areas) ----
void Select(int n);
inline int SelectedArea() { return Areas().current; }
// Selects any area 1..35 (the engine's own 34 and 35 included) silently.
void SelectEngineArea(int n);
void USE(const std::string& command, uint8_t* buffer = nullptr, uint16_t size = 0);
void USE(const std::string& command, uint8_t* buffer, uint16_t size, RecordFilter write_filter,
         RecordFilter read_filter);
void CloseArea();
void CloseAll();
std::string Alias();
[[nodiscard]] uint16_t ReopenTable(bool exclusive);
std::string DbfName();
// Reports "No database in use" for `routine`; answers false.
bool ReportNoDatabase(std::string_view routine);
[[nodiscard]] inline bool CheckInUse(std::string_view routine) {
  return CurrentArea() != nullptr || ReportNoDatabase(routine);
}
// The production-index flag of the current table: bit 0 of header byte 28
// (the other bits stay; 0x30 tables keep their memo bit there). Setting
// writes the byte at once, so other programs see it; false on failure
// (reported).
bool ProductionIndexFlag();
bool SetProductionIndexFlag(bool on);

// ---- Field access ----
int FieldCount();
char FieldType(int n);
int FieldLen(int n);
int FieldDec(int n);
std::string Field(int n);
int FieldNo(const std::string& name);
uint8_t* FieldAddress(int n);

// ---- Typed record image ----
uint16_t TypedRecordSize(const DbfFile& table);
// Gather writes only the fields whose typed value differs from what Scatter
// makes of the stored bytes: an untouched field keeps its bytes exactly
// (numbers of any width and precision, blanks, "?" logicals, asterisks).
// A changed number too wide for its field is refused with 201 and the raw
// record is left as it was; Gather answers false then.
void Scatter();
bool Gather();
void ScatterArea(WorkArea& area);
[[nodiscard]] bool GatherArea(WorkArea& area);
// Scatters field i (0-based) of the raw record into its typed slot.
void ScatterFieldOf(WorkArea& area, size_t i);
// Marks field n (1-based) of the current area as set by the caller, for
// callers that write the typed record directly; the Set... helpers mark
// their fields themselves.
void MarkFieldChanged(int n);
void MarkAreaFieldChanged(WorkArea& area, size_t i);

// ---- Navigation ----
void GoTop();
void GoBottom();
void SKIP(int32_t n = 1);
void GO(int32_t n);
void Dbf4RawGo(int32_t n);
void GoRecord(int32_t n);
[[nodiscard]] bool GoIfValid(int32_t n);
bool dEOF();
bool dBOF();
int32_t RecCount();
int32_t RecNo();
bool SetIgnoreDel(bool flag);
bool IsWhileOn();
bool RecordVisible();
bool WhileHolds();
void FirstInScope();
void LastInScope();
bool LeaveInvisible();
std::function<void()> SetRelationHook(std::function<void()> hook);
// Conditions: a callback, or expression text compiled through the
// expression hooks (empty text clears).
void SetFilter(std::function<bool()> filter);
void SetForCondition(std::function<bool()> callback);
bool SetForExpression(const std::string& text);
void SetWhileCondition(std::function<bool()> callback);
bool SetWhileExpression(const std::string& text);
// Record count refreshed from the file size.
void RefreshRecCount(WorkArea& area);
// Whether the area's reads may come from its table's read-ahead window:
// always when no other process may write the table, otherwise only while
// the area holds no lock.
bool MayReadAhead(const WorkArea& area);
// Runs the relation hook of the current area with its checks.
void RunRelationHook(WorkArea& area);

// ---- Editing and locking ----
void ClearRecord();
void Append();
void Replace();
void DeleteRec();
void RecallRec();
bool ALock();
bool RLock();
bool IsLocked(int32_t n);
bool UnlockRec(int32_t n);
void Unlock();
bool LockHeaderByte();
void UnlockHeaderByte();
// Lock offset of record n in an area (32-bit arithmetic, as stored).
uint32_t RecordLockOffset(const WorkArea& area, int32_t n);

// ---- Typed value helpers for callers and tests ----
// A length-prefixed text of the typed record (C and D slots): the length
// byte, then up to `max` characters, blank-padded to `max` when written.
std::string ReadCounted(const uint8_t* slot, size_t max);
void WriteCounted(uint8_t* slot, const std::string& text, size_t max);
std::string GetFieldText(int n);  // C and D: the string
// The same text without a copy: it stays valid until the area's record
// changes (a move, a field setter, ClearRecord).
std::string_view GetFieldTextView(int n);
void SetFieldText(int n, const std::string& text);
// N/F (real or integer), M block. An unchanged field answers its stored
// value, beyond what the typed slot carries; a value the slot cannot carry
// is kept as exact text for the next Gather.
double GetFieldNumber(int n);
void SetFieldNumber(int n, double value);
bool GetFieldLogical(int n);
void SetFieldLogical(int n, bool value);
bool GetDeletedFlag();
// The typed (display) form of a stored YYYYMMDD date under the current
// date settings, as Scatter writes it.
std::string StoredDateToDisplay(const std::string& stored);

}  // namespace ov
