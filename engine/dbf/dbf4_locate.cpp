// Locate and Continue: a record-number-order scan for a field that
// matches the search text, and the value-based forms the dataset uses.
//
// Single-threaded, process-wide state.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_search.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/timedate.h"

namespace ov {

namespace {

const char kLocateRoutine[] = "Locate/Count/Sum";

std::string Upper(const std::string& text, bool case_sensitive) { return case_sensitive ? text : UpperText(text); }

// A table field's stored text in the caller's character set, so a search
// text typed by the caller compares like with like.
std::string Readable(const WorkArea& area, std::string stored) {
  if (area.table.oem) stored = OemToStr(stored);
  return stored;
}

bool FieldHit(const SearchState& s, std::string text) {
  if (s.exact && !s.contained) {
    // Fields are blank-padded: the whole value must match, padding aside.
    return TrimRightText(Upper(text, s.case_sensitive)) == TrimRightText(s.text);
  }
  if (!s.contained && text.size() > s.text.size()) text.resize(s.text.size());
  text = Upper(text, s.case_sensitive);
  return s.contained ? text.find(s.text) != std::string::npos : text == s.text;
}

bool MemoHit(WorkArea& area, const SearchState& s, const std::string& stored) {
  const MemoHooks& memo = Areas().memo;
  const int32_t block = TextToInt(TrimText(stored));
  if (!memo.read_text || block <= 0) return false;
  const std::string text = memo.read_text(area, block);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (Upper(line, s.case_sensitive).find(s.text) != std::string::npos) return true;
    start = end + 1;
  }
  return false;
}

// The not-found position: the phantom record with at-end set.
void EndSearch() {
  Search().field = 0;
  if (RecCount() == 0) {
    Dbf4RawGo(1);
    return;
  }
  GoBottom();
  if (Errors().DbfError == 0 && !dEOF()) SKIP(1);
}

void PrepareNewSearch(SearchState& s, int field) {
  if (!s.exact) s.text = TrimRightText(s.text);
  s.text = Upper(s.text, s.case_sensitive);
  s.field = field;
}

// The search text as the field stores the value.
std::string StoredForm(const FieldEntry& f, const SearchValue& value) {
  const std::string* text = std::get_if<std::string>(&value);
  const double* number = std::get_if<double>(&value);
  const bool* logical = std::get_if<bool>(&value);
  switch (f.type) {
    case 'D':
      if (number != nullptr) return DayNumberToRecord(*number);
      return text != nullptr ? DateToRecord(*text) : std::string();
    case 'N':
    case 'F': {
      const double x = number != nullptr ? *number : text != nullptr ? TextToFloat(*text) : 0;
      if (f.decimals > 0) return FloatToText(f.length, f.decimals, x);
      return IntToText(static_cast<int64_t>(x), f.length);
    }
    case 'L':
      if (logical != nullptr) return *logical ? "T" : "F";
      if (text != nullptr) return UpperText(TrimText(*text).substr(0, 1)) == "T" ? "T" : "F";
      return number != nullptr && *number != 0 ? "T" : "F";
    default:
      if (text != nullptr) return *text;
      if (number != nullptr) return FloatToText(0, 0, *number);
      if (logical != nullptr) return *logical ? "T" : "F";
      return std::string();
  }
}

std::string FirstWord(const std::string& text) {
  const std::string trimmed = TrimText(text);
  const size_t blank = trimmed.find(' ');
  return blank == std::string::npos ? trimmed : trimmed.substr(0, blank);
}

std::vector<std::string> SplitNames(const std::string& names) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    out.push_back(names.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// Takes the relation hook out of the area for a scope: the dataset
// resynchronises related areas itself after its locate.
class RelationPause {
 public:
  explicit RelationPause(WorkArea& area) : area_(area), hook_(std::exchange(area.relation, {})) {}
  ~RelationPause() {
    if (!area_.relation) area_.relation = std::move(hook_);
  }
  RelationPause(const RelationPause&) = delete;
  RelationPause& operator=(const RelationPause&) = delete;

 private:
  WorkArea& area_;
  std::function<void()> hook_;
};

// Parses a field name with the search options and sets `out` to search
// for the value as the field stores it; false after a report.
bool ParseCriterion(const std::string& field_name, const SearchValue& value, bool nocase, bool exact,
                    SearchState& out) {
  std::string argument = FirstWord(field_name);
  if (argument.empty()) return false;
  if (nocase) argument += " NOCASE";
  if (exact) argument += " EXACT";
  const int field = LocateField(argument);
  if (field == 0) return false;
  const SearchState& s = Search();
  out.case_sensitive = s.case_sensitive;
  out.exact = s.exact;
  out.contained = s.contained;
  out.text = StoredForm(CurrentArea()->table.fields[static_cast<size_t>(field - 1)], value);
  out.field = field;
  return true;
}

// Whether the current record matches every search, leaving the active
// search as it is.
bool AllHold(const std::vector<SearchState>& searches) {
  WorkArea& area = *CurrentArea();
  for (const SearchState& s : searches) {
    const std::string stored = Peek(s.field, RecNo());
    if (Errors().DbfError != 0) return false;
    const bool memo = area.table.fields[static_cast<size_t>(s.field - 1)].type == 'M';
    if (!(memo ? MemoHit(area, s, stored) : FieldHit(s, Readable(area, stored)))) return false;
  }
  return true;
}

// Resumes the active search past hidden records; true on a visible hit.
bool VisibleHit() {
  while (Errors().DbfError == 0 && !dEOF() && !RecordVisible()) Continue();
  return Errors().DbfError == 0 && !dEOF();
}

// The stored text of a field of record n for a scan in record order:
// through the table's read-ahead window where the area allows it.
std::string ScannedField(WorkArea& area, int field, int32_t n) {
  const char* record = MayReadAhead(area) ? WindowRecord(area.table, n) : nullptr;
  if (record == nullptr) return Peek(field, n);
  const FieldEntry& f = area.table.fields[static_cast<size_t>(field - 1)];
  return std::string(record + f.offset, f.length);
}

void ReturnTo(int32_t record) {
  if (GoIfValid(record)) return;
  // The area stood on the phantom record.
  if (Errors().DbfError == 0 && record > RecCount()) Dbf4RawGo(RecCount() + 1);
}

}  // namespace

int LocateField(const std::string& argument) {
  if (!CheckInUse(kLocateRoutine)) return 0;
  std::string rest = UpperText(TrimText(argument));
  if (rest.empty()) {
    ReportError(err::kBadParameter, std::string("No field name specified [") + kLocateRoutine + "]");
    return 0;
  }
  SearchState& s = Search();
  s.case_sensitive = !RemoveWord("NOCASE", rest);
  s.exact = RemoveWord("EXACT", rest);
  s.contained = RemoveWord("CONTAINED", rest);
  const int field = rest.empty() ? 0 : FieldNo(rest);
  if (field == 0) {
    ReportError(err::kBadParameter, std::string("Unrecognized field name [") + kLocateRoutine + "(" + argument + ")]");
  }
  return field;
}

void Locate(int32_t start, int field) {
  if (!CheckInUse("Locate")) return;
  Errors().DbfError = 0;
  WorkArea& area = *CurrentArea();
  SearchState& s = Search();
  if (field < 1 || field > static_cast<int>(area.table.fields.size())) {
    s.field = 0;  // nothing sensible to scan
    return;
  }
  if (start == 1) PrepareNewSearch(s, field);
  const bool memo = area.table.fields[static_cast<size_t>(field - 1)].type == 'M';
  const int32_t count = RecCount();  // a fresh start for the window too
  for (int32_t n = std::max(start, 1); n <= count; ++n) {
    const std::string stored = ScannedField(area, field, n);
    if (Errors().DbfError != 0) return;
    const bool hit = memo ? MemoHit(area, s, stored) : FieldHit(s, Readable(area, stored));
    if (hit) {
      GO(n);
      return;
    }
  }
  EndSearch();
}

void Continue() {
  if (!CheckInUse("Continue")) return;
  const SearchState& s = Search();
  if (s.field == 0) {
    ReportError(err::kBadParameter, "Call to CONTINUE not preceeded by call to LOCATE. [Continue]");
    return;
  }
  Locate(RecNo() + 1, s.field);
}

bool LocateValue(const std::string& field_name, const SearchValue& value, bool nocase, bool exact) {
  if (!CheckInUse("Locate")) return false;
  Search().text.clear();
  SearchState wanted;
  if (!ParseCriterion(field_name, value, nocase, exact, wanted)) return false;
  Search().text = wanted.text;
  Locate(1, wanted.field);
  return VisibleHit();
}

bool LocateFields(const std::string& names, const std::vector<SearchValue>& values, bool nocase, bool exact,
                  bool move) {
  if (!CheckInUse("Locate")) return false;
  const int32_t remembered = RecNo();
  bool found = false;
  {
    RelationPause pause(*CurrentArea());
    const std::vector<std::string> list = SplitNames(names);
    // Every name needs its value: a record matches only when all fields do.
    std::vector<SearchState> others(list.size() > 1 ? list.size() - 1 : 0);
    bool parsed = !list.empty() && list.size() == values.size();
    for (size_t i = 1; parsed && i < list.size(); ++i) {
      parsed = ParseCriterion(list[i], values[i], nocase, exact, others[i - 1]);
      if (parsed) PrepareNewSearch(others[i - 1], others[i - 1].field);
    }
    // The first field drives the scan; each of its hits is checked against the others.
    found = parsed && LocateValue(list[0], values[0], nocase, exact);
    while (found && !AllHold(others)) {
      Continue();
      found = VisibleHit();
    }
    if (!move || !found) ReturnTo(remembered);
  }
  return found;
}

}  // namespace ov
