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
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <climits>
#include <cstdio>
#include <cstring>

#include "engine/dbf/dbf4.h"
#include "engine/support/engine_state.h"
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

// Numbers in records always use "." whatever the locale says.
double ParseNumber(const std::string& text) {
  double v = 0;
  const char* b = text.data();
  const char* e = b + text.size();
  if (b != e && *b == '+') ++b;
  auto r = std::from_chars(b, e, v);
  return r.ec == std::errc() ? v : 0.0;
}

int32_t ParseInt32(const std::string& text) {
  double v = ParseNumber(text);
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Fixed-point text of v with `dec` decimals, independent of the C locale.
std::string FixedText(double v, int dec) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, dec);
  return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string();
}

// A six-byte real carries 11 significant decimal digits for certain. Digits
// beyond them are binary noise: print them as zeros, so a value read from
// a field is written back exactly as it stood.
std::string RealText(double v, int dec) {
  if (v == 0 || !std::isfinite(v)) return FixedText(v, dec);
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 10);
  std::string e(buf, r.ptr);  // [-]d.dddddddddde[+-]XX
  const bool neg = e[0] == '-';
  const size_t epos = e.find('e');
  const int exp = std::atoi(e.c_str() + epos + 1);
  std::string digits = e.substr(neg ? 1 : 0, epos - (neg ? 1 : 0));
  digits.erase(1, 1);  // drop the point: 11 digits
  if (10 - exp > dec) return FixedText(ParseNumber(e), dec);
  std::string int_part, frac;
  if (exp < 0) {
    int_part = "0";
    frac = std::string(static_cast<size_t>(-exp - 1), '0') + digits;
  } else if (exp >= 10) {
    int_part = digits + std::string(static_cast<size_t>(exp - 10), '0');
  } else {
    int_part = digits.substr(0, static_cast<size_t>(exp) + 1);
    frac = digits.substr(static_cast<size_t>(exp) + 1);
  }
  frac.resize(static_cast<size_t>(dec), '0');
  return (neg ? "-" : "") + int_part + (dec > 0 ? "." + frac : "");
}

// Right-aligned number text; a value too wide fills the field with "*".
std::string NumberField(const std::string& text, int len) {
  if (text.empty() || text.size() > static_cast<size_t>(len)) return std::string(static_cast<size_t>(len), '*');
  return std::string(static_cast<size_t>(len) - text.size(), ' ') + text;
}

}  // namespace

std::string StoredDateToDisplay(const std::string& raw) {
  const DateSettings& d = Engine().dates;
  if (TrimText(raw).empty()) return DateTemplate(d.DateType);
  std::string year = d.CenturyOn ? raw.substr(0, 4) : raw.substr(2, 2);
  return CanonicalToDate(raw.substr(4, 2) + "/" + raw.substr(6, 2) + "/" + year);
}

namespace {

bool IsEmptyDateText(const std::string& s) {
  std::string t = TrimRightText(s);
  return t.empty() || t == "  /  /" || t == "  -  -" || t == "  .  ." || t == "    .  ." ;
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

void ScatterField(const FieldEntry& f, const char* raw, uint8_t* t) {
  std::string text(raw, f.length);
  switch (f.type) {
    case 'C': WriteCounted(t, text, f.length); break;
    case 'D': WriteCounted(t, StoredDateToDisplay(text), 10); break;
    case 'L': {
      char c = text.empty() ? ' ' : text[0];
      t[0] = (c == 'T' || c == 't' || c == 'Y' || c == 'y') ? 1 : 0;
      break;
    }
    case 'M': PutInt32(t, ParseInt32(TrimText(text))); break;
    case 'N':
    case 'F':
      if (IsReal(f)) {
        EncodeReal48(ParseNumber(TrimText(text)), t);
      } else {
        PutInt32(t, ParseInt32(TrimText(text)));
      }
      break;
    default: break;
  }
}

void GatherField(const FieldEntry& f, const uint8_t* t, char* raw) {
  std::string out;
  switch (f.type) {
    case 'C': out = ReadCounted(t, f.length); break;
    case 'D': {
      // A two-digit year cannot carry its century: an unchanged date keeps
      // the stored value, so a read-and-write never moves 1942 to 2042.
      std::string text = ReadCounted(t, 10);
      std::string stored(raw, f.length);
      if (text == StoredDateToDisplay(stored)) return;
      out = TextToStoredDate(text);
      break;
    }
    case 'L': out = t[0] ? "T" : "F"; break;
    case 'M': out = NumberField(std::to_string(GetInt32(t)), f.length); break;
    case 'N':
    case 'F':
      out = NumberField(IsReal(f) ? RealText(DecodeReal48(t), f.decimals) : std::to_string(GetInt32(t)),
                        f.length);
      break;
    default: return;
  }
  out.resize(f.length, ' ');
  std::memcpy(raw, out.data(), f.length);
}

// The typed slot of field n of the current area, or nullptr (reported).
uint8_t* Slot(int n, const FieldEntry** field, const char* routine) {
  WorkArea* a = CurrentArea();
  if (a == nullptr || a->typed == nullptr) {
    ReportError(215, std::string("No database in use [") + routine + "]  WorkArea = " +
                         std::to_string(SelectedArea()));
    return nullptr;
  }
  if (n < 1 || n > static_cast<int>(a->table.fields.size())) {
    ReportError(220, std::string("Invalid field number. [") + routine + "(" + std::to_string(n) + ")]");
    return nullptr;
  }
  *field = &a->table.fields[n - 1];
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

void ScatterArea(WorkArea& area) {
  if (area.typed == nullptr) return;
  const DbfFile& t = area.table;
  area.typed[0] = (!t.record.empty() && t.record[0] == '*') ? 1 : 0;
  for (size_t i = 0; i < t.fields.size(); ++i) {
    const FieldEntry& f = t.fields[i];
    ScatterField(f, t.record.data() + f.offset, area.typed + area.typed_offsets[i]);
  }
}

void GatherArea(WorkArea& area) {
  if (area.typed == nullptr) return;
  DbfFile& t = area.table;
  if (t.record.empty()) return;
  t.record[0] = area.typed[0] ? '*' : ' ';
  for (size_t i = 0; i < t.fields.size(); ++i) {
    const FieldEntry& f = t.fields[i];
    GatherField(f, area.typed + area.typed_offsets[i], t.record.data() + f.offset);
  }
}

void Scatter() {
  if (WorkArea* a = CurrentArea()) ScatterArea(*a);
}

void Gather() {
  if (WorkArea* a = CurrentArea()) GatherArea(*a);
}

std::string GetFieldText(int n) {
  const FieldEntry* f = nullptr;
  uint8_t* p = Slot(n, &f, "GetFieldText");
  if (p == nullptr) return "";
  if (f->type == 'C') return ReadCounted(p, f->length);
  if (f->type == 'D') return ReadCounted(p, 10);
  return "";
}

void SetFieldText(int n, const std::string& text) {
  const FieldEntry* f = nullptr;
  uint8_t* p = Slot(n, &f, "SetFieldText");
  if (p == nullptr) return;
  if (f->type == 'C') WriteCounted(p, text, f->length);
  if (f->type == 'D') WriteCounted(p, text, 10);
}

double GetFieldNumber(int n) {
  const FieldEntry* f = nullptr;
  uint8_t* p = Slot(n, &f, "GetFieldNumber");
  if (p == nullptr) return 0;
  if (IsReal(*f)) return DecodeReal48(p);
  if (f->type == 'N' || f->type == 'F' || f->type == 'M') return GetInt32(p);
  return 0;
}

void SetFieldNumber(int n, double value) {
  const FieldEntry* f = nullptr;
  uint8_t* p = Slot(n, &f, "SetFieldNumber");
  if (p == nullptr) return;
  if (IsReal(*f)) {
    EncodeReal48(value, p);
  } else if (f->type == 'N' || f->type == 'F' || f->type == 'M') {
    double c = value >= 2147483647.0 ? 2147483647.0 : value <= -2147483648.0 ? -2147483648.0 : value;
    PutInt32(p, static_cast<int32_t>(c));
  }
}

bool GetFieldLogical(int n) {
  const FieldEntry* f = nullptr;
  uint8_t* p = Slot(n, &f, "GetFieldLogical");
  return p != nullptr && f->type == 'L' && p[0] != 0;
}

void SetFieldLogical(int n, bool value) {
  const FieldEntry* f = nullptr;
  uint8_t* p = Slot(n, &f, "SetFieldLogical");
  if (p != nullptr && f->type == 'L') p[0] = value ? 1 : 0;
}

bool GetDeletedFlag() {
  WorkArea* a = CurrentArea();
  return a != nullptr && a->typed != nullptr && a->typed[0] != 0;
}

}  // namespace ov
