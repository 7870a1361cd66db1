// The typed record image: conversion between the raw record of the file and
// the caller's typed form, and typed value access by field number.
//
//   byte 0           deleted flag (boolean)
//   C                length byte + field-length characters
//   D                length byte + 10 characters of date text (DateType)
//   L                boolean
//   M                int32 memo block number
//   N/F, decimals    six-byte real
//   N/F, no decimals int32
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/dbf/dbf4.h"
#include "engine/support/engine_state.h"
#include "engine/support/numtext.h"
#include "engine/support/ovcommon.h"
#include "engine/support/real48.h"
#include "engine/support/timedate.h"

namespace ov {

namespace {

uint16_t TypedSizeOf(const FieldEntry& f) {
  switch (f.type) {
    case 'C': return static_cast<uint16_t>(f.length + 1);
    case 'D': return 11;
    case 'L': return 1;
    case 'M': return 4;
    case 'N':
    case 'F': return f.decimals > 0 ? 6 : 4;
    default: return 0;
  }
}

bool IsReal(const FieldEntry& f) { return (f.type == 'N' || f.type == 'F') && f.decimals > 0; }

void PutInt32(uint8_t* p, int32_t v) { std::memcpy(p, &v, 4); }
int32_t GetInt32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// The common stored number, [-]digits[.digits] with at most 15 digits,
// computed exactly as the general parse would: the digits as a whole
// number and a power of ten are both exact doubles, and one division
// rounds correctly. False for anything else.
bool ParsePlain(const char* b, const char* e, double& v) {
  static constexpr double kPowers[] = {1,   1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const bool negative = b != e && *b == '-';
  if (negative) ++b;
  uint64_t whole = 0;
  int digits = 0;
  int decimals = -1;  // none until the point
  for (; b != e; ++b) {
    if (*b == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    if (*b < '0' || *b > '9' || ++digits > 15) return false;
    whole = whole * 10 + static_cast<uint64_t>(*b - '0');
    if (decimals >= 0) ++decimals;
  }
  if (digits == 0) return false;
  v = static_cast<double>(whole);
  // A division costs more than the rest of the parse: whole numbers skip it.
  if (decimals > 0) v /= kPowers[decimals];
  if (negative) v = -v;
  return true;
}

// Numbers in records always use "." whatever the locale says.
double ParseSpan(const char* b, const char* e) {
  double v = 0;
  if (b != e && *b == '+') ++b;
  if (ParsePlain(b, e, v)) return v;
  auto r = std::from_chars(b, e, v);
  return r.ec == std::errc() ? v : 0.0;
}

double ParseNumber(const std::string& text) { return ParseSpan(text.data(), text.data() + text.size()); }

// A stored number's value, read in place: blanks and control characters
// around it are skipped as TrimText skips them.
double ParseStored(const char* raw, size_t length) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) < 33; };
  const char* b = raw;
  const char* e = raw + length;
  while (b != e && blank(*b)) ++b;
  while (e != b && blank(e[-1])) --e;
  // A whole number of up to nine digits, the usual stored number, in one
  // pass; anything else (a point, a sign other than "-", more digits) goes
  // the general way. Exact either way.
  const char* p = b != e && *b == '-' ? b + 1 : b;
  if (p != e && e - p <= 9) {
    uint32_t whole = 0;
    for (const char* c = p; c != e; ++c) {
      const auto digit = static_cast<uint32_t>(static_cast<unsigned char>(*c) - '0');
      if (digit > 9) return ParseSpan(b, e);
      whole = whole * 10 + digit;
    }
    return p != b ? -static_cast<double>(whole) : static_cast<double>(whole);
  }
  return ParseSpan(b, e);
}

int32_t ClampInt32(double v) {
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// A six-byte real carries 11 significant decimal digits for certain; the
// digits beyond them are binary noise. The value is rounded to those 11 digits
// before it is written with the field's decimals.
std::string RealText(double v, int dec) {
  if (v == 0 || !std::isfinite(v)) return DecimalText(v, dec);
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 10);
  return DecimalText(ParseNumber(std::string(buf, r.ptr)), dec);
}

// The decimal text of a value set by a caller; a value beyond the longest
// decimal text still gets its digits, so Gather refuses it as too wide.
std::string ExactText(double v, int dec) {
  std::string text = DecimalText(v, dec);
  if (!text.empty()) return text;
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 0);
  return std::string(buf, r.ptr);
}

// Right-aligned number text; empty when it does not fit the field.
std::string NumberField(const std::string& text, int len) {
  if (text.empty() || text.size() > static_cast<size_t>(len)) return std::string();
  return std::string(static_cast<size_t>(len) - text.size(), ' ') + text;
}

// The display text of an empty date (many tables leave most dates empty),
// made again only when the date settings change.
const std::string& EmptyDateText() {
  static std::string text;
  static int type = -1;
  static bool century = false;
  const DateSettings& d = Engine().dates;
  if (type != d.DateType || century != d.CenturyOn) {
    text = DateTemplate(d.DateType);
    type = d.DateType;
    century = d.CenturyOn;
  }
  return text;
}

}  // namespace

std::string StoredDateToDisplay(const std::string& raw) {
  const DateSettings& d = Engine().dates;
  if (TrimText(raw).empty()) return EmptyDateText();
  std::string year = d.CenturyOn ? raw.substr(0, 4) : raw.substr(2, 2);
  return CanonicalToDate(raw.substr(4, 2) + "/" + raw.substr(6, 2) + "/" + year);
}

namespace {

bool IsEmptyDateText(const std::string& s) {
  std::string t = TrimRightText(s);
  return t.empty() || t == "  /  /" || t == "  -  -" || t == "  .  ." || t == "    .  .";
}

// Date text to the stored YYYYMMDD form; invalid text stores as empty. A
// four-digit year is taken as written; a two-digit one goes through the
// epoch window.
std::string TextToStoredDate(const std::string& text) {
  if (IsEmptyDateText(text)) return std::string(8, ' ');
  CenturyForced full;
  std::string probe = text;
  if (!ValidDate(probe)) return std::string(8, ' ');
  std::string rec = DateToRecord(probe);
  return rec.size() == 8 ? rec : std::string(8, ' ');
}

// The typed slot of a number (M: its block number) of value v.
void NumberSlot(const FieldEntry& f, double v, uint8_t* t) {
  if (IsReal(f)) {
    EncodeReal48(v, t);
  } else {
    PutInt32(t, ClampInt32(v));
  }
}

// A date's display text in its slot; a stored date of eight digits (the
// common case) without a string.
void ScatterDate(const FieldEntry& f, const char* raw, uint8_t* t) {
  // Blank-filled first, so the slot takes all ten bytes in one fixed copy.
  char text[10] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  const size_t n = f.length == 8 ? RecordDigitsToDate(raw, text) : 0;
  if (n == 0 && std::all_of(raw, raw + f.length, [](char c) { return static_cast<unsigned char>(c) < 33; })) {
    WriteCounted(t, EmptyDateText(), 10);
    return;
  }
  if (n == 0) {
    WriteCounted(t, StoredDateToDisplay(std::string(raw, f.length)), 10);
    return;
  }
  t[0] = static_cast<uint8_t>(n);
  std::memcpy(t + 1, text, sizeof text);
}

// Runs once per field of every record read, so nothing here allocates in
// the common case.
void ScatterField(const FieldEntry& f, const char* raw, uint8_t* t) {
  switch (f.type) {
    case 'C':
      t[0] = f.length;
      std::memcpy(t + 1, raw, f.length);
      break;
    case 'D': ScatterDate(f, raw, t); break;
    case 'L': {
      const char c = f.length == 0 ? ' ' : raw[0];
      t[0] = (c == 'T' || c == 't' || c == 'Y' || c == 'y') ? 1 : 0;
      break;
    }
    case 'M':
    case 'N':
    case 'F': NumberSlot(f, ParseStored(raw, f.length), t); break;
    default: break;
  }
}

// Whether the typed slot still holds what Scatter makes of the stored
// bytes: then the field was not changed and keeps its bytes.
bool SlotUnchanged(const FieldEntry& f, const char* raw, const uint8_t* t) {
  const uint16_t size = TypedSizeOf(f);
  if (size == 0) return true;
  // Text, the widest and most common kind, compares without a copy: Scatter
  // gives it the full field length and the stored bytes.
  if (f.type == 'C') return t[0] == f.length && std::memcmp(t + 1, raw, f.length) == 0;
  uint8_t probe[256 + 1];
  ScatterField(f, raw, probe);
  return std::memcmp(probe, t, size) == 0;
}

// A stored field that shows no value (blanks, a logical of no known
// letter): a caller's 0 or false over it is written, not kept.
bool HoldsNoValue(const FieldEntry& f, const char* raw) {
  if (f.type == 'L') return std::strchr("TtFfYyNn", raw[0]) == nullptr || raw[0] == 0;
  return std::all_of(raw, raw + f.length, [](char c) { return c == ' '; });
}

const ExactNumber* ExactFor(const WorkArea& area, int n, const uint8_t* t, size_t size) {
  for (const ExactNumber& e : area.exact_numbers) {
    if (e.field == n && std::memcmp(e.slot.data(), t, size) == 0) return &e;
  }
  return nullptr;
}

// The text of a changed number (M: its block number), before alignment.
std::string ChangedNumberText(const WorkArea& area, int n, const FieldEntry& f, const uint8_t* t) {
  if (f.type == 'M') return std::to_string(GetInt32(t));
  const ExactNumber* exact = ExactFor(area, n, t, TypedSizeOf(f));
  if (exact != nullptr) return exact->text;
  return IsReal(f) ? RealText(DecodeReal48(t), f.decimals) : std::to_string(GetInt32(t));
}

// Writes a changed field into `raw`; false (reported) when a number does
// not fit the field.
bool PutChangedField(const WorkArea& area, int n, const FieldEntry& f, const uint8_t* t, char* raw) {
  std::string out;
  switch (f.type) {
    case 'C': {
      // Text, the common case, goes in place.
      const size_t count = std::min<size_t>(t[0], f.length);
      std::memcpy(raw, t + 1, count);
      std::memset(raw + count, ' ', f.length - count);
      return true;
    }
    case 'D': out = TextToStoredDate(ReadCounted(t, 10)); break;
    case 'L': out = t[0] ? "T" : "F"; break;
    case 'M':
    case 'N':
    case 'F': {
      // No memo is stored as blanks, as every other writer does.
      if (f.type == 'M' && GetInt32(t) == 0) break;
      const std::string text = ChangedNumberText(area, n, f, t);
      out = NumberField(text, f.length);
      if (out.empty()) {
        ReportError(err::kRangeCheck, "Value " + text + " does not fit field " + f.name + " (" +
                                          std::to_string(f.length) + ") of " + area.table.path + " [Gather]");
        return false;
      }
      break;
    }
    default: return true;
  }
  out.resize(f.length, ' ');
  std::memcpy(raw, out.data(), f.length);
  return true;
}

// Out of line, so the hot path of Slot stays small.
[[gnu::noinline, gnu::cold]] uint8_t* ReportNoSlot(const WorkArea* a, int n, const char* routine) {
  if (a == nullptr || a->typed == nullptr) {
    ReportError(err::kNoDatabase,
                std::string("No database in use [") + routine + "]  WorkArea = " + std::to_string(SelectedArea()));
  } else {
    ReportError(err::kBadParameter, std::string("Invalid field number. [") + routine + "(" + std::to_string(n) + ")]");
  }
  return nullptr;
}

// The typed slot of field n of the current area, or nullptr (reported);
// `area` (when asked) receives the area.
uint8_t* Slot(int n, const FieldEntry** field, const char* routine, WorkArea** area = nullptr) {
  WorkArea* a = CurrentArea();
  if (a == nullptr || a->typed == nullptr || n < 1 || n > static_cast<int>(a->table.fields.size())) {
    return ReportNoSlot(a, n, routine);
  }
  *field = &a->table.fields[n - 1];
  if (area != nullptr) *area = a;
  return a->typed + a->typed_offsets[n - 1];
}

}  // namespace

std::string ReadCounted(const uint8_t* p, size_t max) {
  size_t n = std::min<size_t>(p[0], max);
  return std::string(reinterpret_cast<const char*>(p + 1), n);
}

void WriteCounted(uint8_t* p, const std::string& s, size_t max) {
  size_t n = std::min(s.size(), max);
  p[0] = static_cast<uint8_t>(n);
  std::memcpy(p + 1, s.data(), n);
  std::memset(p + 1 + n, ' ', max - n);
}

uint16_t TypedRecordSize(const DbfFile& table) {
  uint32_t size = 1;
  for (const FieldEntry& f : table.fields) size += TypedSizeOf(f);
  return static_cast<uint16_t>(std::min<uint32_t>(size, 65535));
}

std::vector<uint16_t> TypedOffsets(const DbfFile& table) {
  std::vector<uint16_t> offs;
  uint32_t at = 1;
  for (const FieldEntry& f : table.fields) {
    offs.push_back(static_cast<uint16_t>(std::min<uint32_t>(at, 65535)));
    at += TypedSizeOf(f);
  }
  return offs;
}

void ScatterFieldOf(WorkArea& area, size_t i) {
  const FieldEntry& f = area.table.fields[i];
  const char* raw = area.table.record.data() + f.offset;
  uint8_t* t = area.typed + area.typed_offsets[i];
  if (f.type != 'N' && f.type != 'F') {
    ScatterField(f, raw, t);
    return;
  }
  const double v = ParseStored(raw, f.length);
  NumberSlot(f, v, t);
  area.stored_numbers.resize(area.table.fields.size());
  area.stored_numbers[i] = v;
}

void MarkAreaFieldChanged(WorkArea& area, size_t i) {
  if (i >= area.table.fields.size()) return;
  area.touched.resize(area.table.fields.size(), 0);
  area.touched[i] = 1;
}

void MarkFieldChanged(int n) {
  if (WorkArea* a = CurrentArea(); a != nullptr && n >= 1) MarkAreaFieldChanged(*a, static_cast<size_t>(n - 1));
}

void ScatterArea(WorkArea& area) {
  area.exact_numbers.clear();
  area.touched.clear();
  if (area.typed == nullptr) return;
  const DbfFile& t = area.table;
  area.typed[0] = (!t.record.empty() && t.record[0] == '*') ? 1 : 0;
  // ScatterFieldOf for every field, in one loop: this runs for every
  // record a walk reads.
  const size_t count = t.fields.size();
  area.stored_numbers.resize(count);
  const char* record = t.record.data();
  const FieldEntry* fields = t.fields.data();
  const uint16_t* offsets = area.typed_offsets.data();
  double* numbers = area.stored_numbers.data();
  for (size_t i = 0; i < count; ++i) {
    const FieldEntry& f = fields[i];
    const char* raw = record + f.offset;
    uint8_t* slot = area.typed + offsets[i];
    switch (f.type) {
      case 'C':
        slot[0] = static_cast<uint8_t>(f.length);
        std::memcpy(slot + 1, raw, f.length);
        break;
      case 'N':
      case 'F': {
        const double v = ParseStored(raw, f.length);
        NumberSlot(f, v, slot);
        numbers[i] = v;
        break;
      }
      default: ScatterField(f, raw, slot);
    }
  }
}

bool GatherArea(WorkArea& area) {
  if (area.typed == nullptr) return true;
  DbfFile& t = area.table;
  if (t.record.empty()) return true;
  // Built aside, so a refused value leaves the raw record untouched.
  std::vector<char>& out = area.gather_buf;
  out.assign(t.record.begin(), t.record.end());
  out[0] = area.typed[0] ? '*' : ' ';
  for (size_t i = 0; i < t.fields.size(); ++i) {
    const FieldEntry& f = t.fields[i];
    const uint8_t* slot = area.typed + area.typed_offsets[i];
    const char* raw = t.record.data() + f.offset;
    const bool set = i < area.touched.size() && area.touched[i] != 0;
    const bool exact = ExactFor(area, static_cast<int>(i + 1), slot, TypedSizeOf(f)) != nullptr;
    if (!exact && SlotUnchanged(f, raw, slot) && !(set && HoldsNoValue(f, raw))) continue;
    if (!PutChangedField(area, static_cast<int>(i + 1), f, slot, out.data() + f.offset)) return false;
  }
  t.record.swap(out);
  return true;
}

void Scatter() {
  if (WorkArea* a = CurrentArea()) ScatterArea(*a);
}

bool Gather() {
  WorkArea* a = CurrentArea();
  return a == nullptr || GatherArea(*a);
}

std::string_view GetFieldTextView(int n) {
  const FieldEntry* f = nullptr;
  const uint8_t* p = Slot(n, &f, "GetFieldText");
  if (p == nullptr || (f->type != 'C' && f->type != 'D')) return {};
  const size_t max = f->type == 'C' ? f->length : 10;
  return {reinterpret_cast<const char*>(p + 1), std::min<size_t>(p[0], max)};
}

std::string GetFieldText(int n) { return std::string(GetFieldTextView(n)); }

void SetFieldText(int n, const std::string& text) {
  const FieldEntry* f = nullptr;
  uint8_t* p = Slot(n, &f, "SetFieldText");
  if (p == nullptr) return;
  if (f->type == 'C') WriteCounted(p, text, f->length);
  if (f->type == 'D') WriteCounted(p, text, 10);
  MarkFieldChanged(n);
}

double GetFieldNumber(int n) {
  const FieldEntry* f = nullptr;
  WorkArea* a = nullptr;
  uint8_t* p = Slot(n, &f, "GetFieldNumber", &a);
  if (p == nullptr) return 0;
  if (f->type != 'N' && f->type != 'F' && f->type != 'M') return 0;
  const WorkArea& area = *a;
  if (f->type != 'M') {
    // An unchanged slot answers the stored value, as Scatter parsed it.
    const size_t i = static_cast<size_t>(n - 1);
    const double stored = i < area.stored_numbers.size() ? area.stored_numbers[i]
                                                         : ParseStored(area.table.record.data() + f->offset, f->length);
    bool same = false;
    if (IsReal(*f)) {
      uint8_t probe[6];
      NumberSlot(*f, stored, probe);
      same = std::memcmp(probe, p, 6) == 0;
    } else {
      same = GetInt32(p) == ClampInt32(stored);
    }
    if (same) return stored;
  }
  if (const ExactNumber* exact = ExactFor(area, n, p, TypedSizeOf(*f))) return ParseNumber(exact->text);
  return IsReal(*f) ? DecodeReal48(p) : GetInt32(p);
}

void SetFieldNumber(int n, double value) {
  const FieldEntry* f = nullptr;
  uint8_t* p = Slot(n, &f, "SetFieldNumber");
  if (p == nullptr) return;
  if (f->type != 'N' && f->type != 'F' && f->type != 'M') return;
  // Not a number, nor infinity, is anything a field can store.
  if (!std::isfinite(value)) value = 0;
  WorkArea& area = *CurrentArea();
  MarkFieldChanged(n);
  std::erase_if(area.exact_numbers, [n](const ExactNumber& e) { return e.field == n; });
  std::string exact;
  if (IsReal(*f)) {
    EncodeReal48(value, p);
    const std::string text = ExactText(value, f->decimals);
    if (RealText(DecodeReal48(p), f->decimals) != text) exact = text;
  } else {
    const double whole = std::trunc(value);
    const double c = std::clamp(whole, -2147483648.0, 2147483647.0);
    PutInt32(p, static_cast<int32_t>(c));
    if (f->type != 'M' && c != whole) exact = ExactText(whole, 0);
  }
  if (exact.empty()) return;
  ExactNumber e;
  e.field = n;
  e.text = exact;
  std::memcpy(e.slot.data(), p, TypedSizeOf(*f));
  area.exact_numbers.push_back(std::move(e));
}

bool GetFieldLogical(int n) {
  const FieldEntry* f = nullptr;
  uint8_t* p = Slot(n, &f, "GetFieldLogical");
  return p != nullptr && f->type == 'L' && p[0] != 0;
}

void SetFieldLogical(int n, bool value) {
  const FieldEntry* f = nullptr;
  uint8_t* p = Slot(n, &f, "SetFieldLogical");
  if (p == nullptr || f->type != 'L') return;
  p[0] = value ? 1 : 0;
  MarkFieldChanged(n);
}

bool GetDeletedFlag() {
  WorkArea* a = CurrentArea();
  return a != nullptr && a->typed != nullptr && a->typed[0] != 0;
}

}  // namespace ov
