// AppendFrom: appending the records of another table to the current area.
//
// The source area's record is read by navigation; fields of the same kind
// are copied as stored text into the destination's record, the other pairs
// are converted through the typed records, and the record is committed
// with Append, which keeps locks, indexes and the relation hook in play.
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

// ---- Fields copied as stored ----

// Stored number text re-aligned or re-rounded for a field of another width
// or decimal count, digit by digit: no binary round trip can change a
// digit the user stored. Blanks stay blank and asterisks stay asterisks.
enum class NumberCopy { kDone, kTooWide, kNotANumber };

NumberCopy ReformatNumber(const std::string& stored, const FieldEntry& to, std::string& out) {
  const size_t len = to.length;
  const size_t dec = to.decimals;
  std::string t = TrimText(stored);
  if (t.empty() || t.find_first_not_of('*') == std::string::npos) {
    out.assign(len, t.empty() ? ' ' : '*');
    return NumberCopy::kDone;
  }
  bool negative = t[0] == '-';
  if (t[0] == '-' || t[0] == '+') t.erase(0, 1);
  const size_t dot = std::min(t.find('.'), t.size());
  std::string whole = t.substr(0, dot);
  std::string frac = dot < t.size() ? t.substr(dot + 1) : std::string();
  const auto digits = [](const std::string& d) { return d.find_first_not_of("0123456789") == std::string::npos; };
  if (whole.size() + frac.size() == 0 || !digits(whole) || !digits(frac)) return NumberCopy::kNotANumber;
  const bool round_up = frac.size() > dec && frac[dec] >= '5';
  frac.resize(dec, '0');
  std::string all = "0" + whole + frac;  // one spare place for a carry
  for (size_t i = all.size(); round_up && i-- > 0;) {
    if (all[i] != '9') {
      ++all[i];
      break;
    }
    all[i] = '0';
  }
  whole = all.substr(0, all.size() - dec);
  frac = all.substr(all.size() - dec);
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
  if (all.find_first_not_of('0') == std::string::npos) negative = false;  // never "-0"
  const std::string text = (negative ? "-" : "") + whole + (dec > 0 ? "." + frac : "");
  if (text.size() > len) return NumberCopy::kTooWide;
  out = std::string(len - text.size(), ' ') + text;
  return NumberCopy::kDone;
}

// The source field's bytes as stored on disk, when the destination stores
// text in the same code page and the source's image of them is current.
const char* StoredBytes(const DbfFile& to, DbfFile& from, const FieldEntry& f) {
  if (to.oem != from.oem || to.read_filter || to.write_filter || from.read_filter || from.write_filter) return nullptr;
  const char* text = TranslatesText(from) ? StoredText(from) : nullptr;
  if (text == nullptr) return nullptr;
  const size_t at = f.offset;
  if (std::memcmp(from.record.data() + at, text + at, f.length) != 0) return nullptr;
  return from.stored.data() + at;
}

// Copies field j of the source into field i of the destination as stored
// text when both have the same kind (C, N/F, D, L); false when the pair
// needs a conversion through the typed record. A number too wide for the
// destination is reported.
bool CopyStoredField(WorkArea& to, size_t i, WorkArea& from, size_t j, const std::string& source) {
  const FieldEntry& tf = to.table.fields[i];
  const FieldEntry& sf = from.table.fields[j];
  if (Kind(tf) != Kind(sf) || tf.type == 'M') return false;
  if (tf.type != 'C' && tf.type != 'N' && tf.type != 'F' && tf.type != 'D' && tf.type != 'L') return false;
  const std::string text(from.table.record.data() + sf.offset, sf.length);
  std::string out;
  if (Kind(tf) == 'N' && (tf.length != sf.length || tf.decimals != sf.decimals)) {
    const NumberCopy r = ReformatNumber(text, tf, out);
    if (r == NumberCopy::kNotANumber) return false;
    if (r == NumberCopy::kTooWide) {
      ReportError(err::kRangeCheck, "Value " + TrimText(text) + " does not fit field " + tf.name + " (" +
                                        std::to_string(tf.length) + ") " + Context(source));
      return true;
    }
  } else {
    // Cut or blank-padded; blanks are the same in both code pages.
    out = text;
    out.resize(tf.length, ' ');
    if (const char* bytes = StoredBytes(to.table, from.table, sf)) {
      std::string stored(bytes, sf.length);
      stored.resize(tf.length, ' ');
      SetStoredField(to.table, tf, stored.data(), out.data());
      ScatterFieldOf(to, i);
      return true;
    }
  }
  std::memcpy(to.table.record.data() + tf.offset, out.data(), tf.length);
  ScatterFieldOf(to, i);
  return true;
}

// ---- The copy ----

struct Plan {
  int dest = 0;
  int source = 0;
  std::vector<int> map;  // per destination field: source field index or -1
  bool any_mapped = false;
};

void MapFields(Plan& plan, const DbfFile& to, const DbfFile& from) {
  for (const FieldEntry& f : to.fields) {
    auto hit =
        std::find_if(from.fields.begin(), from.fields.end(), [&](const FieldEntry& s) { return s.name == f.name; });
    const int index = hit == from.fields.end() ? -1 : static_cast<int>(hit - from.fields.begin());
    plan.map.push_back(index);
    plan.any_mapped = plan.any_mapped || index >= 0;
  }
}

// Fills the destination's record from the source's and appends it; false
// when a step reported. Fields of the same kind travel as stored text, so
// nothing the user stored changes on the way (blank numbers, "?" logicals,
// every digit, and every character between tables of one code page); the
// other pairs and memos go through the typed record.
bool AppendOne(const Plan& plan, WorkArea& to, WorkArea& from, const std::string& source) {
  SelectEngineArea(plan.dest);
  ClearRecord();
  to.typed[0] = from.typed[0];
  for (size_t i = 0; i < plan.map.size() && !Failed(); ++i) {
    if (plan.map[i] < 0) continue;
    const size_t j = static_cast<size_t>(plan.map[i]);
    if (CopyStoredField(to, i, from, j, source)) continue;
    ConvertField(to, i, from, j);
    MarkAreaFieldChanged(to, i);
  }
  if (Failed()) return false;
  SelectEngineArea(plan.dest);
  Append();
  return !Failed();
}

// Runs the copy loop; answers the code that stopped it (0 = none).
uint16_t CopyRecords(const Plan& plan, const std::function<bool()>& progress, const std::string& source) {
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
    if (!AppendOne(plan, *to, *from, source)) break;
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
    ReportError(err::kNoMemory, Context(path));
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
    ReportError(err::kFileInUse, "Attempting to append file to itself. " + Context(source));
    return -1;
  }
  const int area = AreaHolding(source);
  if (area != 0) return area;
  if (in_memory) {
    ReportError(err::kNoDatabase, "Virtual file must be open. " + Context(source));
    return -1;
  }
  if (!FileExistsResolved(source)) {
    ReportError(err::kFileNotFound, Context(source));
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
    ReportError(err::kNoDatabase, Context(source_in));
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
    code = CopyRecords(plan, progress, source);
  }
  Errors().DbfError = code;
}

}  // namespace ov
