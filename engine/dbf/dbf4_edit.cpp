// Editing commands of the work areas: blank, append, replace, delete and
// recall the current record.
//
// The caller edits the typed record and commits it. In shared use every
// commit needs the matching lock (the append lock for Append, a record lock
// for the others). While an index is active, each commit runs between the
// index layer's begin and end update calls, which always come in pairs,
// also when a report unwinds. A failed write leaves the index untouched so
// that it keeps matching the file.

#include <algorithm>
#include <string>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_edit_internal.h"
#include "engine/dbf/dbf4_search.h"
#include "engine/support/ovcommon.h"
#include "engine/support/scope_guard.h"

namespace ov {

namespace {

constexpr uint8_t kAppendLock = 2;

void CallIndex(const std::function<void(WorkArea&)>& slot, WorkArea& area) {
  if (slot) slot(area);
}

bool Failed() { return Errors().DbfError != 0; }

// The current record reached the file: old memos may go back.
void SettleMemos(WorkArea& area) {
  if (Areas().memo.committed) Areas().memo.committed(area, area.table.current_record);
}

// Runs `body` between begin and end update when `active`.
template <typename Body>
void WithIndexUpdate(WorkArea& area, bool active, Body body) {
  if (!active) {
    body();
    return;
  }
  // An update the index layer refused (its lock could not be had) writes
  // nothing, and has nothing to end.
  CallIndex(Areas().index.begin_update, area);
  if (Failed()) return;
  ScopeGuard end([&] { CallIndex(Areas().index.end_update, area); });
  body();
}

// A code left unhandled by a lower layer still reaches the handler.
void FinishCommand(WorkArea& area) {
  if (Failed() && Errors().ImmediateErrors) HandleError();
  RunRelationHook(area);
}

bool MayEditRecord(const WorkArea& area, int32_t n) { return area.exclusive || HoldsRecordLock(area, n); }

bool CheckReplaceTarget(const WorkArea& area, int32_t n) {
  const std::string quoted = "Database \"" + area.table.path + "\"";
  if (n < 1) {
    ReportError(err::kBeyondRange, quoted + " is empty." + " [REPLACE]");
    return false;
  }
  if (n > area.table.record_count) {
    ReportError(err::kBeyondRange, quoted + " is at EOF." + " [REPLACE]");
    return false;
  }
  if (!area.exclusive && !HoldsRecordLock(area, n)) {
    ReportError(err::kRecordNotLocked, "Record #" + std::to_string(n) + " in " + area.table.path + " [REPLACE]");
    return false;
  }
  return true;
}

// Presents the stored values of record n to the index layer, then puts the
// caller's new values back into the typed record (also when unwinding, so
// an index failure never loses the edit). False when the read failed.
bool RememberStoredKeys(WorkArea& area, int32_t n) {
  std::copy_n(area.typed, area.typed_size, area.swap.data());
  std::vector<ExactNumber> exact = area.exact_numbers;
  std::vector<uint8_t> touched = area.touched;
  ScopeGuard restore([&] {
    std::copy_n(area.swap.data(), area.typed_size, area.typed);
    area.exact_numbers = std::move(exact);
    area.touched = std::move(touched);
  });
  GetDbfRecord(area.table, n);
  if (Failed()) return false;
  ScatterArea(area);
  CallIndex(Areas().index.remember_keys, area);
  return true;
}

bool WriteCurrentRecord(WorkArea& area, int32_t n) {
  if (!GatherArea(area)) return false;
  PutDbfRecord(area.table, n);
  if (Failed()) return false;
  ScatterArea(area);
  UpdatePeekCacheRecord(area, n);
  return true;
}

// Sets or clears the deletion flag of record n in memory and on disk; a
// failed write puts both flags back.
void WriteDeleteFlag(WorkArea& area, int32_t n, bool deleted) {
  const uint8_t old_typed = area.typed[0];
  const char old_raw = area.table.record[0];
  ScopeGuard restore([&] {
    area.typed[0] = old_typed;
    area.table.record[0] = old_raw;
  });
  area.typed[0] = deleted ? 1 : 0;
  area.table.record[0] = deleted ? '*' : ' ';
  PutDeleteFlag(area.table, n);
  if (Failed()) return;
  restore.Dismiss();
  UpdatePeekCacheRecord(area, n);
}

bool InRange(const WorkArea& area, int32_t n) { return n >= 1 && n <= area.table.record_count; }

}  // namespace

void UpdatePeekCacheRecord(const WorkArea& area, int32_t n) { RefreshPeekCacheRecord(area, n); }

void ClearRecord() {
  if (!CheckInUse("ClearRecord")) return;
  WorkArea& area = *CurrentArea();
  std::fill(area.table.record.begin(), area.table.record.end(), ' ');
  ScatterArea(area);
}

void Append() {
  if (!CheckInUse("Append")) return;
  WorkArea& area = *CurrentArea();
  if (NeedsLocks(area) && area.lock_state != kAppendLock) {
    ReportError(err::kAccessDenied, "File must be locked to append: " + area.table.path + " [APPEND]");
    return;
  }
  Errors().DbfError = 0;
  // Another process may have appended meanwhile (or a killed writer left
  // records beyond the header count): never write over them with a stale
  // count.
  if (OthersMayWrite(area.table) || !area.count_from_file) {
    RefreshRecCount(area);
    if (Failed()) return;
    area.count_from_file = !OthersMayWrite(area.table);
  }
  if (!GatherArea(area)) {
    FinishCommand(area);
    return;
  }
  const bool indexed = IndexOpen(area);
  bool appended = false;
  WithIndexUpdate(area, indexed, [&] {
    AppendDbfRecord(area.table);
    if (Failed()) return;
    appended = true;
    ScatterArea(area);
    if (indexed) CallIndex(Areas().index.add_keys, area);
  });
  if (appended) {
    area.table.at_end = area.table.at_beginning = false;
    SettleMemos(area);
  }
  FinishCommand(area);
}

void Replace() {
  if (!CheckInUse("Replace")) return;
  WorkArea& area = *CurrentArea();
  const int32_t n = area.table.current_record;
  if (!CheckReplaceTarget(area, n)) return;
  const bool maintain = AreaConfig().MaintainIndexes && IndexOpen(area);
  if (maintain && area.swap.size() < area.typed_size) {
    ReportError(err::kInternal, area.table.path + " " + "Swap-buffer NIL." + " [REPLACE]");
    return;
  }
  Errors().DbfError = 0;
  WithIndexUpdate(area, maintain, [&] {
    if (maintain && !RememberStoredKeys(area, n)) return;
    if (!WriteCurrentRecord(area, n)) return;
    SettleMemos(area);
    if (maintain) CallIndex(Areas().index.update_keys, area);
  });
  FinishCommand(area);
}

void DeleteRec() {
  if (!CheckInUse("DeleteRec")) return;
  WorkArea& area = *CurrentArea();
  const int32_t n = area.table.current_record;
  if (!MayEditRecord(area, n)) {
    ReportError(err::kRecordNotLocked, area.table.path + " " + "Record not locked " + "[DeleteRec]");
    return;
  }
  if (InRange(area, n)) WriteDeleteFlag(area, n, true);
}

void RecallRec() {
  if (!CheckInUse("RecallRec")) return;
  WorkArea& area = *CurrentArea();
  const int32_t n = area.table.current_record;
  if (!MayEditRecord(area, n)) {
    ReportError(err::kRecordNotLocked, "Record not locked [RecallRec]");
    return;
  }
  RefreshRecCount(area);
  if (!InRange(area, n)) {
    ReportError(err::kInvalidOperation, area.table.path + " at EOF [RecallRec]");
    return;
  }
  WriteDeleteFlag(area, n, false);
}

}  // namespace ov
