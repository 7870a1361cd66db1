// Navigation of the current work area: first and last visible record,
// moves by a count of visible records, moves to a record number, the
// conditions that decide visibility, and the relation hook that lets
// related areas follow every move.
//
// In natural order the commands walk record numbers themselves. While an
// index order is active they take first/last/next/prior from the index
// slots and bracket each command with begin/end so the index layer keeps
// its own position in step. An index answer outside 1..count, or the same
// record twice in a row, counts as the end of the order: a confused index
// must not make a command loop for ever.
//
// Single-threaded, process-wide state.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "engine/dbf/dbf4.h"
#include "engine/support/ovcommon.h"
#include "engine/support/scope_guard.h"

namespace ov {

namespace {

IndexHooks& Ix() { return Areas().index; }

// Whether an index decides the order of the area's records.
bool Ordered(WorkArea& a) { return IndexActive(a); }

void Notify(const std::function<void(WorkArea&)>& slot, WorkArea& a, bool ordered) {
  if (ordered && slot) slot(a);
}

struct EndPosition {
  WorkArea* area;
  void operator()() const { Notify(Ix().end_position, *area, true); }
};

// Brackets one positioning command for the index layer. The end call runs
// also when a report unwinds the command, so begin and end stay paired. A
// walk in natural order needs no bracket and pays nothing for one.
class IndexSequence {
 public:
  IndexSequence(WorkArea& a, bool ordered) {
    if (!ordered) return;
    Notify(Ix().begin_position, a, true);
    guard_.emplace(EndPosition{&a});
  }

 private:
  std::optional<ScopeGuard<EndPosition>> guard_;
};

bool Holds(const Condition& c) {
  if (c.callback) return c.callback();
  const ExprHooks& ex = Areas().expr;
  if (c.expr && ex.evaluate_logical) return ex.evaluate_logical(c.expr);
  return true;
}

bool Visible(const WorkArea& a) {
  const std::vector<char>& rec = a.table.record;
  if (a.hide_deleted && !rec.empty() && rec[0] == '*') return false;
  if (a.filter) return a.filter();
  return !a.for_cond.is_set() || Holds(a.for_cond);
}

bool InWhile(const WorkArea& a) { return !a.while_cond.is_set() || Holds(a.while_cond); }

// Reads record n into the raw and typed record; false after a report.
// `ahead`: how the read may use the table's cached records (none for
// jumps such as GO, the held records for a re-read, a fill in the walk's
// direction for steps in natural order, a kept page for steps in index
// order).
bool ReadRecord(WorkArea& a, int32_t n, std::optional<ReadAhead> ahead = std::nullopt) {
  if (ahead && MayReadAhead(a)) {
    GetDbfRecordAhead(a.table, n, *ahead);
  } else {
    GetDbfRecord(a.table, n);
  }
  if (Errors().DbfError != 0) return false;
  ScatterArea(a);
  return true;
}

// A step's reading: index orders jump about the file, natural order walks.
std::optional<ReadAhead> StepReading(bool ordered, bool forward) {
  if (ordered) return ReadAhead::kPaged;
  return forward ? ReadAhead::kForward : ReadAhead::kBackward;
}

// A shared table's walk starts with what the file holds now.
void StartWalk(WorkArea& a) {
  if (OthersMayWrite(a.table)) DropReadWindow(a.table);
}

// The end-of-file position: one past the last record, nothing in it.
void GoPhantom(WorkArea& a) {
  ClearRecord();
  a.table.current_record = a.table.record_count + 1;
  a.table.at_end = true;
}

// A record number the index answered, or 0 when it lies outside the table.
int32_t InTable(WorkArea& a, int32_t n) {
  if (n < 1) return 0;
  if (n > a.table.record_count) RefreshRecCount(a);
  return n > a.table.record_count ? 0 : n;
}

// The next (forward) or prior record in key order from `from`; 0 at the
// end of the order in that direction.
int32_t IndexStep(WorkArea& a, bool forward, int32_t from) {
  IndexHooks& ix = Ix();
  const int32_t n = forward ? ix.next(a) : ix.prior(a);
  const std::function<bool(WorkArea&)>& edge = forward ? ix.at_end : ix.at_beginning;
  if (n == from || (edge && edge(a))) return 0;
  return InTable(a, n);
}

// The next record in natural order; 0 past the last (refreshed) record.
int32_t NaturalNext(WorkArea& a, int32_t from) {
  if (from >= a.table.record_count) RefreshRecCount(a);
  return from < a.table.record_count ? from + 1 : 0;
}

int32_t StepFrom(WorkArea& a, bool ordered, bool forward, int32_t from) {
  if (ordered) return IndexStep(a, forward, from);
  if (forward) return NaturalNext(a, from);
  // From the phantom of a table another process may since have cut short.
  if (from > a.table.record_count) RefreshRecCount(a);
  return std::min(from - 1, a.table.record_count);
}

// First visible record from the start of the order; the phantom record
// when there is none. `mark_top` also marks the index at its beginning,
// for a backward move that ran off the front. False after a read error.
bool TopBody(WorkArea& a, bool mark_top = false) {
  const bool ordered = Ordered(a);
  auto seq = IndexSequence(a, ordered);
  int32_t n = ordered ? InTable(a, Ix().first(a)) : 1;
  if (n == 0) {
    GoPhantom(a);
    Notify(Ix().sync, a, ordered);
    if (mark_top) Notify(Ix().mark_beginning, a, ordered);
    return true;
  }
  StartWalk(a);
  const std::optional<ReadAhead> reading = StepReading(ordered, true);
  if (!ReadRecord(a, n, reading)) return false;
  while (!Visible(a) && !a.table.at_end) {
    n = StepFrom(a, ordered, true, n);
    if (n == 0) {
      GoPhantom(a);
      Notify(Ix().sync, a, ordered);
      break;
    }
    if (!ReadRecord(a, n, reading)) return false;
  }
  if (mark_top) Notify(Ix().mark_beginning, a, ordered);
  Notify(Ix().finish, a, ordered);
  return true;
}

bool BottomBody(WorkArea& a) {
  const bool ordered = Ordered(a);
  auto seq = IndexSequence(a, ordered);
  int32_t n = ordered ? InTable(a, Ix().last(a)) : a.table.record_count;
  StartWalk(a);
  while (n != 0) {
    if (!ReadRecord(a, n, StepReading(ordered, false))) return false;
    if (Visible(a)) break;
    n = StepFrom(a, ordered, false, n);
  }
  if (n < 1) {
    GoPhantom(a);
    Notify(Ix().sync, a, ordered);
    Notify(Ix().mark_beginning, a, ordered);
    Notify(Ix().mark_end, a, ordered);
  }
  Notify(Ix().finish, a, ordered);
  return true;
}

std::string DatabaseText(const WorkArea& a) { return "Database \"" + a.table.path + "\""; }

void ReportSkip(WorkArea& a, const std::string& what) {
  ReportError(err::kBeyondRange, DatabaseText(a) + " is " + what + " [SKIP]");
}

void ReportBadRecordNumber(WorkArea& a, int32_t n, const std::string& routine) {
  ReportError(err::kBeyondRange,
              "Invalid record number = " + std::to_string(n) + " " + DatabaseText(a) + " [" + routine + "]");
}

// What a run of SKIP steps ended with.
struct SkipRun {
  bool read_failed = false;
  bool hit_end = false;
  bool while_failed = false;
  int32_t last_good = 0;
};

// Steps over `count` visible records in one direction (steps 4 of SKIP).
SkipRun StepVisible(WorkArea& a, bool ordered, bool forward, int64_t count) {
  SkipRun run;
  int32_t pos = a.table.current_record;
  run.last_good = pos;
  int64_t counted = 0;
  while (counted < count) {
    if (!forward && pos >= 1 && pos <= a.table.record_count && Visible(a) && InWhile(a)) {
      run.last_good = pos;
    }
    const int32_t next = StepFrom(a, ordered, forward, pos);
    if (next < 1) {
      run.hit_end = true;
      break;
    }
    if (!ReadRecord(a, next, StepReading(ordered, forward))) {
      run.read_failed = true;
      break;
    }
    pos = next;
    if (Visible(a)) ++counted;
    if (!InWhile(a)) {
      run.while_failed = true;
      break;
    }
  }
  return run;
}

// The record before the one where WHILE failed going backward, or the
// phantom record when the move started there.
bool BackToLastGood(WorkArea& a, bool ordered, int32_t last_good) {
  if (last_good < 1 || last_good > a.table.record_count) {
    ClearRecord();
    a.table.current_record = a.table.record_count + 1;
  } else if (!ReadRecord(a, last_good, ReadAhead::kHeldOnly)) {
    return false;
  }
  Notify(Ix().sync, a, ordered);
  Notify(Ix().mark_beginning, a, ordered);
  a.table.at_beginning = true;
  return true;
}

// Puts the area where a run of steps left it; false after a read error.
bool SettleSkip(WorkArea& a, bool ordered, bool forward, const SkipRun& run) {
  if (run.hit_end) {
    GoPhantom(a);
    Notify(Ix().sync, a, ordered);
  } else if (run.while_failed && forward) {
    Notify(Ix().mark_end, a, ordered);
    a.table.at_end = true;
  } else if (run.while_failed && !BackToLastGood(a, ordered, run.last_good)) {
    return false;
  }
  Notify(Ix().finish, a, ordered);
  return true;
}

// Moves n visible records (n != 0); false after a read error.
bool SkipBody(WorkArea& a, int32_t n) {
  const bool forward = n > 0;
  const int64_t count = forward ? int64_t{n} : -int64_t{n};
  const bool ordered = Ordered(a);
  a.table.at_end = a.table.at_beginning = false;
  {
    auto seq = IndexSequence(a, ordered);
    const SkipRun run = StepVisible(a, ordered, forward, count);
    if (run.read_failed) return false;
    if (forward || !run.hit_end) return SettleSkip(a, ordered, forward, run);
  }
  // Ran off the front: the sequence is closed first, GoTop brackets its own.
  if (!TopBody(a, true)) return false;
  a.table.at_beginning = true;
  return true;
}

// SKIP(0): the current record again (or the cleared one at the end).
bool Reread(WorkArea& a) {
  if (a.table.record_count == 0 || a.table.at_end) {
    const bool at_end = a.table.at_end;
    const bool at_beginning = a.table.at_beginning;
    ClearRecord();
    a.table.at_end = at_end;
    a.table.at_beginning = at_beginning;
    return true;
  }
  return ReadRecord(a, a.table.current_record, ReadAhead::kHeldOnly);
}

// GO within 1..count; false after a read error.
bool GoBody(WorkArea& a, int32_t n) {
  const bool ordered = Ordered(a);
  auto seq = IndexSequence(a, ordered);
  if (!ReadRecord(a, n)) return false;
  Notify(Ix().sync, a, ordered);
  Notify(Ix().finish, a, ordered);
  return true;
}

// Whether an area record still sits in the area table (a hook may close it).
bool StillOpen(const WorkArea* a) {
  for (const std::unique_ptr<WorkArea>& slot : Areas().slots) {
    if (slot.get() == a) return true;
  }
  return false;
}

// Takes the relation hook out of its area while a scope lasts and puts it
// back unless someone installed another one meanwhile. Running the hook
// from a local copy keeps it alive when the hook replaces itself, and a
// hook that moves its own area cannot recurse into itself.
class SuspendedHook {
 public:
  explicit SuspendedHook(WorkArea& a) : area_(&a), hook_(std::exchange(a.relation, {})) {}
  ~SuspendedHook() {
    if (StillOpen(area_) && !area_->relation) area_->relation = std::move(hook_);
  }
  SuspendedHook(const SuspendedHook&) = delete;
  SuspendedHook& operator=(const SuspendedHook&) = delete;
  const std::function<void()>& hook() const { return hook_; }

 private:
  WorkArea* area_;
  std::function<void()> hook_;
};

// Selects an area again on scope exit, even when the hook raised.
class KeepSelection {
 public:
  KeepSelection() : saved_(Areas().current) {}
  ~KeepSelection() { Areas().current = saved_; }
  KeepSelection(const KeepSelection&) = delete;
  KeepSelection& operator=(const KeepSelection&) = delete;

 private:
  int saved_;
};

}  // namespace

bool MayReadAhead(const WorkArea& area) {
  if (!OthersMayWrite(area.table)) return true;
  return area.lock_state == 0 && area.record_locks.empty() && !area.table.header_locked;
}

void RefreshRecCount(WorkArea& area) {
  DbfFile& t = area.table;
  // Whoever refreshes is about to look past what the window holds, or to
  // change records behind the table layer (a memo pack): it starts over.
  DropReadWindow(t);
  if (!t.file || t.record_length == 0) return;
  (void)CountFromSize(t, t.record_count);
}

void RunRelationHook(WorkArea& area) {
  if (!area.relation) return;
  const int32_t before = area.table.current_record;
  {
    KeepSelection keep;
    SuspendedHook suspended(area);
    suspended.hook()();
  }
  // The hook may have closed the area; then there is nothing to check.
  if (!StillOpen(&area)) return;
  ErrorState& e = Errors();
  if (e.DbfError == 0 && area.table.current_record != before) e.DbfError = 224;
  if (e.DbfError != 0) ReportError(e.DbfError, area.table.path);
}

void GoTop() {
  if (!CheckInUse("GoTop")) return;
  Errors().DbfError = 0;
  WorkArea& a = *CurrentArea();
  if (a.table.record_count == 0) return;
  if (TopBody(a)) RunRelationHook(a);
}

void GoBottom() {
  if (!CheckInUse("GoBottom")) return;
  Errors().DbfError = 0;
  WorkArea& a = *CurrentArea();
  RefreshRecCount(a);
  if (a.table.record_count == 0) return;
  if (BottomBody(a)) RunRelationHook(a);
}

void SKIP(int32_t n) {
  if (!CheckInUse("SKIP()")) return;
  Errors().DbfError = 0;
  WorkArea& a = *CurrentArea();
  DbfFile& t = a.table;
  if (n == 0) {
    if (Reread(a)) RunRelationHook(a);
    return;
  }
  if (t.at_end && n > 0) {
    ReportSkip(a, "past EOF.");
    return;
  }
  if (t.record_count == 0) {
    t.at_end = t.at_beginning = true;
    ReportSkip(a, "empty.");
    return;
  }
  if (t.at_beginning && n < 0) return;
  if (SkipBody(a, n)) RunRelationHook(a);
}

void GO(int32_t n) {
  if (!CheckInUse("GO()")) return;
  Errors().DbfError = 0;
  WorkArea& a = *CurrentArea();
  DbfFile& t = a.table;
  if (n > t.record_count) RefreshRecCount(a);
  if (t.record_count == 0) {
    ClearRecord();
    t.at_end = t.at_beginning = true;
    ReportBadRecordNumber(a, n, "GO");
    return;
  }
  t.at_end = t.at_beginning = false;
  if (n >= 1 && n <= t.record_count) {
    if (GoBody(a, n)) RunRelationHook(a);
    return;
  }
  t.current_record = t.record_count + 1;
  t.at_end = true;
  ReportBadRecordNumber(a, n, "GO");
}

void Dbf4RawGo(int32_t n) {
  if (!CheckInUse("Dbf4RawGo")) return;
  Errors().DbfError = 0;
  WorkArea& a = *CurrentArea();
  DbfFile& t = a.table;
  if (n > t.record_count) RefreshRecCount(a);
  if (n > t.record_count) {
    GoPhantom(a);
    return;
  }
  if (n < 1) {
    ReportBadRecordNumber(a, n, "Dbf4RawGo");
    return;
  }
  uint16_t code = 0;
  {
    QuietErrors quiet;
    code = ReadRecord(a, n) ? 0 : Errors().DbfError;
  }
  if (code != 0) ReportError(code, "File: " + t.path + " [Dbf4RawGo]");
}

void GoRecord(int32_t n) {
  Dbf4RawGo(n);
  WorkArea* a = CurrentArea();
  if (a != nullptr && Errors().DbfError == 0) RunRelationHook(*a);
}

bool GoIfValid(int32_t n) {
  if (!CheckInUse("GO()")) return false;
  if (n < 1 || n > RecCount()) return false;
  GO(n);
  return Errors().DbfError == 0;
}

bool dEOF() {
  if (!CheckInUse("dEOF")) return true;
  WorkArea& a = *CurrentArea();
  // Only the end of the known count can have moved past the current
  // record: the count is asked of the file there, not on every step.
  if (a.table.current_record >= a.table.record_count || a.table.at_end) RefreshRecCount(a);
  if (a.table.current_record > a.table.record_count) a.table.at_end = true;
  if (Ordered(a) && Ix().at_end) return Ix().at_end(a);
  return a.table.at_end;
}

bool dBOF() {
  if (!CheckInUse("dBOF")) return true;
  WorkArea& a = *CurrentArea();
  if (Ordered(a) && Ix().at_beginning) return Ix().at_beginning(a);
  return a.table.at_beginning;
}

int32_t RecCount() {
  if (!CheckInUse("RecCount")) return 0;
  WorkArea& a = *CurrentArea();
  RefreshRecCount(a);
  return a.table.record_count;
}

int32_t RecNo() {
  if (!CheckInUse("RecNo")) return 0;
  return CurrentArea()->table.current_record;
}

bool SetIgnoreDel(bool flag) {
  if (!CheckInUse("SetIgnoreDel")) return false;
  WorkArea& a = *CurrentArea();
  const bool previous = a.hide_deleted;
  a.hide_deleted = flag;
  SKIP(0);
  return previous;
}

bool IsWhileOn() {
  if (!CheckInUse("IsWhileOn")) return false;
  return CurrentArea()->while_cond.is_set();
}

bool RecordVisible() {
  const WorkArea* a = CurrentArea();
  return a != nullptr && Visible(*a);
}

bool WhileHolds() {
  const WorkArea* a = CurrentArea();
  return a == nullptr || InWhile(*a);
}

void FirstInScope() {
  WorkArea* a = CurrentArea();
  if (a == nullptr || a->table.record_count == 0) return;
  if (!a->while_cond.is_set()) {
    GoTop();
    return;
  }
  SuspendedHook suspended(*a);
  // A backward move that neither moves nor reaches the beginning would
  // repeat for ever; stop on it as well.
  int32_t before = -1;
  while (!dBOF() && Errors().DbfError == 0 && RecNo() != before) {
    before = RecNo();
    SKIP(-1);
  }
  SKIP(0);
}

void LastInScope() {
  WorkArea* a = CurrentArea();
  if (a == nullptr || a->table.record_count == 0) return;
  if (!a->while_cond.is_set()) {
    GoBottom();
    return;
  }
  {
    SuspendedHook suspended(*a);
    int32_t before = -1;
    while (!dEOF() && Errors().DbfError == 0 && RecNo() != before) {
      before = RecNo();
      SKIP(1);
    }
  }
  SKIP(-1);
}

bool LeaveInvisible() {
  WorkArea* a = CurrentArea();
  if (a == nullptr) return false;
  // The phantom record is no record to step off.
  if (a->table.at_end || a->table.record_count == 0) return false;
  if (Visible(*a) && InWhile(*a)) return false;
  const int32_t old = a->table.current_record;
  Unlock();
  SKIP(1);
  if (dEOF() && old >= 1 && old <= RecCount()) {
    GO(old);
    SKIP(-1);
  }
  return true;
}

std::function<void()> SetRelationHook(std::function<void()> hook) {
  if (!CheckInUse("SetRelationHook")) return {};
  Errors().DbfError = 0;  // the check after the first run must not see an old code
  WorkArea& a = *CurrentArea();
  std::function<void()> previous = std::exchange(a.relation, std::move(hook));
  if (a.relation) RunRelationHook(a);
  return previous;
}

void SetFilter(std::function<bool()> filter) {
  if (!CheckInUse("SetFilter")) return;
  CurrentArea()->filter = std::move(filter);
}

namespace {

void SetCallback(Condition& c, std::function<bool()> callback) {
  c.expr.reset();
  c.callback = std::move(callback);
}

// Compiles text into a condition; empty text clears it. A failed compile
// keeps the condition that was set before.
bool SetExpression(Condition& c, const std::string& text) {
  if (TrimText(text).empty()) {
    c = Condition{};
    return true;
  }
  const ExprHooks& ex = Areas().expr;
  if (!ex.compile || !ex.evaluate_logical) return false;
  std::shared_ptr<CompiledExpr> compiled = ex.compile(text);
  if (!compiled) return false;
  c.callback = nullptr;
  c.expr = std::move(compiled);
  return true;
}

}  // namespace

void SetForCondition(std::function<bool()> callback) {
  if (!CheckInUse("SetForCondition")) return;
  SetCallback(CurrentArea()->for_cond, std::move(callback));
}

bool SetForExpression(const std::string& text) {
  if (!CheckInUse("SetForExpression")) return false;
  return SetExpression(CurrentArea()->for_cond, text);
}

void SetWhileCondition(std::function<bool()> callback) {
  if (!CheckInUse("SetWhileCondition")) return;
  SetCallback(CurrentArea()->while_cond, std::move(callback));
}

bool SetWhileExpression(const std::string& text) {
  if (!CheckInUse("SetWhileExpression")) return false;
  return SetExpression(CurrentArea()->while_cond, text);
}

}  // namespace ov
