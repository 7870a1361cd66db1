// AppendFrom: appending the records of another table to the current area.
//
// The copy works on typed records: the source area's record is read by
// navigation, the destination's typed record is filled and committed with
// Append, which keeps locks, indexes and the relation hook in play.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_append.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/platform.h"
#include "engine/support/real48.h"
#include "engine/support/timedate.h"

namespace ov {

namespace {

constexpr int kFromArea = 35;

enum class Structure { kIdentical, kIdenticalMemo, kDifferent };

std::string Context(const std::string& source) { return "[AppendFrom(" + source + ")]"; }

bool Failed() { return Errors().DbfError != 0; }

WorkArea* AreaAt(int n) { return Areas().slots[n].get(); }

// ---- Finding the source ----

// Removes the words naming an in-memory table; true when one was present.
bool CutInMemoryWords(std::string& source) {
  static const char* const kWords[] = {" VIRTUAL FILE", " LINKED LIST", " VIRTUAL", " LINKED"};
  bool found = false;
  for (const char* word : kWords) {
    const std::string w = word;
    for (size_t at = UpperText(source).find(w); at != std::string::npos; at = UpperText(source).find(w)) {
      source.erase(at, w.size());
      found = true;
    }
  }
  source = TrimText(source);
  return found;
}

bool SameTable(const WorkArea& area, const std::string& path) {
  return ResolveName(area.table.path) == ResolveName(path);
}

// The caller's area holding the table `path`, or 0.
int AreaHolding(const std::string& path) {
  for (int n = 1; n <= kCallerAreas; ++n) {
    const WorkArea* a = AreaAt(n);
    if (a != nullptr && a->table.is_open() && SameTable(*a, path)) return n;
  }
  return 0;
}

// Size of the typed record of the table at `path`, read from its header;
// 0 after a report.
uint16_t TypedSizeOfFile(const std::string& path) {
  DbfFile probe;
  probe.path = path;
  probe.open_mode = fmode::kRead | fmode::kDenyNone;
  OpenDbf(probe);
  if (!probe.is_open()) return 0;
  const uint16_t size = TypedRecordSize(probe);
  CloseDbf(probe);
  return size;
}

// ---- Typed values ----

int32_t GetInt32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void PutInt32(uint8_t* p, int32_t v) { std::memcpy(p, &v, 4); }


// The type letter with F counted as N.
char Kind(const FieldEntry& f) { return f.type == 'F' ? 'N' : f.type; }

bool IsReal(const FieldEntry& f) { return Kind(f) == 'N' && f.decimals > 0; }

double GetNumber(const FieldEntry& f, const uint8_t* p) {
  return IsReal(f) ? DecodeReal48(p) : static_cast<double>(GetInt32(p));
}

int32_t RoundToInt32(double v) {
  const double r = std::round(v);
  if (!(r > -2147483648.0)) return INT32_MIN;  // NaN lands here too
  if (r >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(r);
}

void PutNumber(const FieldEntry& f, uint8_t* p, double v) {
  if (IsReal(f)) {
    EncodeReal48(v, p);
  } else {
    PutInt32(p, RoundToInt32(v));
  }
}

// ---- Conversions for different structures ----

// One field of a typed record.
struct Slot {
  const FieldEntry& field;
  uint8_t* at;
};

Slot SlotOf(WorkArea& area, size_t i) { return Slot{area.table.fields[i], area.typed + area.typed_offsets[i]}; }

std::string NumberText(const Slot& from, int length) {
  std::string text = from.field.decimals > 0 ? FloatToText(length, from.field.decimals, GetNumber(from.field, from.at))
                                             : IntToText(GetInt32(from.at), length);
  if (text.size() > static_cast<size_t>(length)) text.assign(static_cast<size_t>(length), '*');
  return text;
}

// A date text shortened to `length`: a four-digit year gives up its century
// digits first, so the year stays recognisable.
std::string ShortDateText(std::string text, size_t length) {
  if (length < text.size() && text.size() == 10) {
    text.erase(Engine().dates.DateType == 1 ? 0 : 6, 2);
  }
  return text;
}

void ToCharacter(const Slot& to, const Slot& from) {
  const size_t len = to.field.length;
  switch (Kind(from.field)) {
    case 'C': WriteCounted(to.at, ReadCounted(from.at, from.field.length), len); break;
    case 'N': WriteCounted(to.at, NumberText(from, to.field.length), len); break;
    case 'L': WriteCounted(to.at, from.at[0] ? "T" : "F", len); break;
    case 'D': WriteCounted(to.at, ShortDateText(ReadCounted(from.at, 10), len), len); break;
    default: break;
  }
}

void ToNumber(const Slot& to, const Slot& from) {
  if (Kind(from.field) == 'N') {
    PutNumber(to.field, to.at, GetNumber(from.field, from.at));
  } else if (from.field.type == 'C') {
    const std::string text = ReadCounted(from.at, from.field.length);
    if (IsReal(to.field)) {
      EncodeReal48(TextToFloat(text), to.at);
    } else {
      PutInt32(to.at, TextToInt(text));
    }
  }
}

void ToDate(const Slot& to, const Slot& from) {
  if (from.field.type == 'D') {
    WriteCounted(to.at, ReadCounted(from.at, 10), 10);
  } else if (from.field.type == 'C') {
    // The field's padding is no part of the date.
    std::string text = TrimRightText(ReadCounted(from.at, from.field.length));
    if (ValidDate(text)) WriteCounted(to.at, text, 10);
  }
}

// A copy of the source memo at `block` in the destination's memo file; 0
// when there is none. Without the memo store's copy slot no memo travels:
// the source's block number means nothing in another memo file.
int32_t CopyOneMemo(WorkArea& to, WorkArea& from, int32_t block) {
  const MemoHooks& memo = Areas().memo;
  if (block == 0 || !memo.copy) return 0;
  return memo.copy(to, from, block, /*same_number=*/false);
}

void ToMemo(WorkArea& to_area, const Slot& to, WorkArea& from_area, const Slot& from) {
  const MemoHooks& memo = Areas().memo;
  if (from.field.type == 'M') {
    PutInt32(to.at, CopyOneMemo(to_area, from_area, GetInt32(from.at)));
  } else if (from.field.type == 'C' && memo.write_text) {
    PutInt32(to.at, memo.write_text(to_area, ReadCounted(from.at, from.field.length), 0));
  }
}

void ConvertField(WorkArea& to_area, size_t to_index, WorkArea& from_area, size_t from_index) {
  const Slot to = SlotOf(to_area, to_index);
  const Slot from = SlotOf(from_area, from_index);
  switch (Kind(to.field)) {
    case 'C': ToCharacter(to, from); break;
    case 'N': ToNumber(to, from); break;
    case 'L': to.at[0] = from.field.type == 'L' ? from.at[0] : 0; break;
    case 'D': ToDate(to, from); break;
    case 'M': ToMemo(to_area, to, from_area, from); break;
    default: break;
  }
}

// ---- The copy ----

struct Plan {
  int dest = 0;
  int source = 0;
  std::vector<int> map;  // per destination field: source field index or -1
  Structure structure = Structure::kDifferent;
  bool any_mapped = false;
};

bool SameField(const FieldEntry& a, const FieldEntry& b) {
  return a.name == b.name && a.type == b.type && a.length == b.length && a.decimals == b.decimals;
}

Structure ClassOf(const DbfFile& to, const DbfFile& from) {
  if (to.fields.size() != from.fields.size()) return Structure::kDifferent;
  bool memo = false;
  for (size_t i = 0; i < to.fields.size(); ++i) {
    if (!SameField(to.fields[i], from.fields[i])) return Structure::kDifferent;
    memo = memo || to.fields[i].type == 'M';
  }
  return memo ? Structure::kIdenticalMemo : Structure::kIdentical;
}

void MapFields(Plan& plan, const DbfFile& to, const DbfFile& from) {
  for (const FieldEntry& f : to.fields) {
    auto hit = std::find_if(from.fields.begin(), from.fields.end(),
                            [&](const FieldEntry& s) { return s.name == f.name; });
    const int index = hit == from.fields.end() ? -1 : static_cast<int>(hit - from.fields.begin());
    plan.map.push_back(index);
    plan.any_mapped = plan.any_mapped || index >= 0;
  }
  plan.structure = ClassOf(to, from);
}

void CopyIdentical(WorkArea& to, WorkArea& from, bool with_memo) {
  std::memcpy(to.typed, from.typed, std::min(to.typed_size, from.typed_size));
  if (!with_memo) return;
  for (size_t i = 0; i < to.table.fields.size() && !Failed(); ++i) {
    if (to.table.fields[i].type != 'M') continue;
    uint8_t* at = to.typed + to.typed_offsets[i];
    PutInt32(at, CopyOneMemo(to, from, GetInt32(at)));
  }
}

void ConvertRecord(const Plan& plan, WorkArea& to, WorkArea& from) {
  SelectEngineArea(plan.dest);
  ClearRecord();
  to.typed[0] = from.typed[0];
  for (size_t i = 0; i < plan.map.size() && !Failed(); ++i) {
    if (plan.map[i] >= 0) ConvertField(to, i, from, static_cast<size_t>(plan.map[i]));
  }
}

// Fills the destination's typed record from the source's and appends it;
// false when a step reported.
bool AppendOne(const Plan& plan, WorkArea& to, WorkArea& from) {
  if (plan.structure == Structure::kDifferent) {
    ConvertRecord(plan, to, from);
  } else {
    CopyIdentical(to, from, plan.structure == Structure::kIdenticalMemo);
  }
  if (Failed()) return false;
  SelectEngineArea(plan.dest);
  Append();
  return !Failed();
}

// Runs the copy loop; answers the code that stopped it (0 = none).
uint16_t CopyRecords(const Plan& plan, const std::function<bool()>& progress) {
  SelectEngineArea(plan.source);
  WorkArea* from = AreaAt(plan.source);
  if (from->while_cond.is_set() || progress) {
    SKIP(0);
  } else {
    GoTop();
  }
  while (!Failed()) {
    SelectEngineArea(plan.source);
    if (dEOF()) break;
    if (progress && !progress()) break;
    // The callback or a relation hook may have closed either area.
    WorkArea* to = AreaAt(plan.dest);
    from = AreaAt(plan.source);
    if (to == nullptr || from == nullptr) break;
    if (!AppendOne(plan, *to, *from)) break;
    SelectEngineArea(plan.source);
    SKIP(1);
  }
  return Errors().DbfError;
}

// Closes the source the command opened for itself (when it did) and makes
// the destination current again, also when a report unwinds. Closing a
// table that was only read cannot lose data, so it is done quietly and
// leaves the error state as the copy left it.
class Restore {
 public:
  explicit Restore(int dest) : dest_(dest) {}
  ~Restore() {
    if (opened_) CloseSource();
    SelectEngineArea(dest_);
  }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;

  void SourceOpened() { opened_ = true; }

 private:
  static void CloseSource() {
    const ErrorState saved = Errors();
    try {
      QuietErrors quiet;
      SelectEngineArea(kFromArea);
      CloseArea();
    } catch (...) {
      // Nothing may leave a destructor; the area is empty in any case.
    }
    ErrorState& now = Errors();
    now.DbfError = saved.DbfError;
    now.ErrorContext = saved.ErrorContext;
    now.LastErrorCode = saved.LastErrorCode;
  }

  int dest_;
  bool opened_ = false;
};

// Opens the file `path` in the engine's area 35 with a typed record buffer
// of its own; false after a report.
bool OpenSource(const std::string& path, std::vector<uint8_t>& buffer, Restore& restore) {
  const uint16_t size = TypedSizeOfFile(path);
  if (size == 0) return false;
  try {
    buffer.assign(size, 0);
  } catch (const std::bad_alloc&) {
    ReportError(217, Context(path));
    return false;
  }
  SelectEngineArea(kFromArea);
  restore.SourceOpened();
  USE(path + " ALIAS *FROMFILE", buffer.data(), size);
  return !Failed() && AreaAt(kFromArea) != nullptr;
}

// Finds the source: the area already holding it, 0 when the command must
// open the file itself, -1 after a report.
int FindSource(std::string& source, int dest) {
  const bool in_memory = CutInMemoryWords(source);
  if (!in_memory) source = ExpandName(DefaultExt(source, "DBF"));
  // Appending a table to itself never reaches the end, whichever area
  // holds the second copy of it.
  if (SameTable(*AreaAt(dest), source)) {
    ReportError(214, "Attempting to append file to itself. " + Context(source));
    return -1;
  }
  const int area = AreaHolding(source);
  if (area != 0) return area;
  if (in_memory) {
    ReportError(215, "Virtual file must be open. " + Context(source));
    return -1;
  }
  if (!FileExistsResolved(source)) {
    ReportError(2, Context(source));
    return -1;
  }
  return 0;
}


// Dates travel through the typed record as display text; with two-digit
// years a date outside the century window would arrive in the wrong
// century. The copy runs with four-digit years; afterwards both areas show
// their records in the caller's form again.
class FullYears {
 public:
  FullYears(int dest, int source) : dest_(dest), source_(source) {}
  ~FullYears() {
    forced_.reset();
    for (int n : {dest_, source_}) {
      if (WorkArea* a = AreaAt(n)) ScatterArea(*a);
    }
  }
  FullYears(const FullYears&) = delete;
  FullYears& operator=(const FullYears&) = delete;

 private:
  int dest_, source_;
  std::optional<CenturyForced> forced_{std::in_place};
};

}  // namespace

void AppendFrom(const std::string& source_in, std::function<bool()> progress) {
  Errors().DbfError = 0;
  if (CurrentArea() == nullptr) {
    ReportError(215, Context(source_in));
    return;
  }
  Plan plan;
  plan.dest = SelectedArea();
  std::string source = source_in;
  plan.source = FindSource(source, plan.dest);
  if (plan.source < 0) return;
  std::vector<uint8_t> buffer;  // outlives the area that uses it
  Restore restore(plan.dest);
  if (plan.source == 0) {
    if (!OpenSource(source, buffer, restore)) return;
    plan.source = kFromArea;
    progress = nullptr;
  }
  MapFields(plan, AreaAt(plan.dest)->table, AreaAt(plan.source)->table);
  uint16_t code = 0;
  if (plan.any_mapped) {
    FullYears full_years(plan.dest, plan.source);
    code = CopyRecords(plan, progress);
  }
  Errors().DbfError = code;
}

}  // namespace ov
