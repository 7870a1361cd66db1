// Conversions between the work area's typed record and the field data area
// of a record buffer, and between a slot and the framework's native values.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "dataset/format_settings.h"
#include "dataset/ucommon.h"
#include "engine/dbf/dbf4.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/real48.h"
#include "engine/support/timedate.h"

namespace ov {

namespace {

constexpr size_t kDateTextMax = 10;

template <typename T>
T Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void Store(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

int32_t ClampToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v <= -2147483648.0) return INT32_MIN;
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(v);
}

// The real passes through its text with the field's decimals, so the
// framework sees the value the table shows, not the binary neighbour.
double RealAsShown(const uint8_t* p, int decimals) {
  char buf[640];
  const double v = DecodeReal48(p);
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  if (res.ec != std::errc()) return v;
  double out = 0;
  std::from_chars(buf, res.ptr, out);
  return out;
}

TDateTime DateTextToDateTime(const std::string& text) {
  const double jd = DateToDayNumber(text);
  return jd >= kNoDate ? 0.0 : jd - kJulianOfDateTimeZero;
}

// The framework's short date format with a four-digit year, so a date
// handed to the engine keeps its century whatever the display shows.
std::string FullYearFormat(std::string format) {
  const size_t y = format.find_first_of("yY");
  if (y == std::string::npos) return format;
  size_t end = y;
  while (end < format.size() && (format[end] == 'y' || format[end] == 'Y')) ++end;
  return format.replace(y, end - y, "yyyy");
}

// The date text a buffer's date-time stands for, checked by the engine;
// "" when the check fails. The check runs with four-digit years so the
// century survives into the record.
std::string CheckedDateText(TDateTime value) {
  if (!std::isfinite(value)) return std::string();
  if (value == 0) return DateTemplate(Engine().dates.DateType);
  std::string text = RightTrim(FormatDateTime(FullYearFormat(FormatSettings().ShortDateFormat), value));
  text = text.substr(0, kDateTextMax);
  CenturyForced full;
  return ValidDate(text) ? text : std::string();
}

// Whether the typed date text `slot` is what the stored date `raw` displays
// as (an unchanged record): the stored form carries the century the
// display may have dropped. A stored date of eight digits is compared in
// place.
bool ShowsStoredDate(const char* raw, const uint8_t* slot) {
  char shown[kDateTextMax];
  if (const size_t len = RecordDigitsToDate(raw, shown); len > 0) {
    return slot[0] == len && std::memcmp(slot + 1, shown, len) == 0;
  }
  return StoredDateToDisplay(std::string(raw, 8)) == ReadCounted(slot, kDateTextMax);
}

// The day number of a stored date; eight digits are read in place.
double StoredDayNumber(const char* raw) {
  int value = 0;
  for (int i = 0; i < 8; ++i) {
    if (raw[i] < '0' || raw[i] > '9') return RecordToDayNumber(std::string(raw, 8));
    value = value * 10 + (raw[i] - '0');
  }
  const int year = value / 10000;
  return year == 0 ? kNoDate : YmdToDayNumber(year, value / 100 % 100, value % 100);
}

void FieldToBuffer(const TDTField& f, const FieldSlot& slot, const uint8_t* src, uint8_t* dst) {
  switch (f.type) {
    case 'C': std::memcpy(dst, src, slot.size); break;
    case 'D': Store<double>(dst, DateTextToDateTime(ReadCounted(src, kDateTextMax))); break;
    case 'L':
      dst[0] = src[0];
      dst[1] = 0;
      break;
    case 'M': std::memcpy(dst, src, 4); break;
    case 'N':
    case 'F':
      if (f.decimals > 0) {
        Store<double>(dst, RealAsShown(src, f.decimals));
      } else {
        std::memcpy(dst, src, 4);
      }
      break;
    default: break;
  }
}

void FieldToRecord(const TDTField& f, const FieldSlot& slot, const uint8_t* src, uint8_t* dst) {
  switch (f.type) {
    case 'C':
      std::memcpy(dst, src, slot.size);
      dst[0] = std::min<uint8_t>(dst[0], static_cast<uint8_t>(slot.size - 1));
      break;
    case 'D': {
      std::string text = CheckedDateText(Load<double>(src));
      if (text.empty()) {
        ShowMessageBox("        Invalid date       ", "", 0);
        text = DateTemplate(Engine().dates.DateType);
      }
      WriteCounted(dst, text, kDateTextMax);
      break;
    }
    case 'L': dst[0] = src[0]; break;
    case 'M': std::memcpy(dst, src, 4); break;
    case 'N':
    case 'F':
      if (f.decimals > 0) {
        EncodeReal48(Load<double>(src), dst);
      } else {
        std::memcpy(dst, src, 4);
      }
      break;
    default: break;
  }
}

void CopyOne(const TDbfFieldProps& props, const FieldDataLayout& layout, const uint8_t* buffer, int n) {
  const FieldSlot* slot = layout.Slot(n);
  uint8_t* dst = props.Address(n);
  if (slot == nullptr || slot->size == 0 || dst == nullptr) return;
  FieldToRecord(props.Fields()[static_cast<size_t>(n - 1)], *slot, buffer + slot->offset, dst);
}

bool IsDateKind(TFieldType kind) {
  return kind == TFieldType::ftDate || kind == TFieldType::ftTime || kind == TFieldType::ftDateTime;
}

// Date-time -> the framework's native form of a date kind.
void ToNative(TDateTime dt, TFieldType kind, uint8_t* dest, size_t dest_size) {
  const double days = std::trunc(dt);
  const double ms_of_day = std::round(std::fabs(dt - days) * kMsPerDay);
  const double day_number = days + kDateDelta;
  if (kind == TFieldType::ftDate && dest_size >= 4) Store<int32_t>(dest, ClampToInt32(day_number));
  if (kind == TFieldType::ftTime && dest_size >= 4) Store<int32_t>(dest, ClampToInt32(ms_of_day));
  if (kind == TFieldType::ftDateTime && dest_size >= 8) Store<double>(dest, day_number * kMsPerDay + ms_of_day);
}

// Native milliseconds -> date-time; what is no valid time stamp gives 0.
TDateTime FromMilliseconds(double ms) {
  if (!std::isfinite(ms) || ms < kMsPerDay || ms > 1e18) return 0;
  const double days = std::floor(ms / kMsPerDay) - kDateDelta;
  const double fraction = (ms - std::floor(ms / kMsPerDay) * kMsPerDay) / kMsPerDay;
  return days < 0 ? days - fraction : days + fraction;
}

TDateTime FromNative(const uint8_t* value, size_t size, TFieldType kind) {
  if (kind == TFieldType::ftDate && size >= 4) return Load<int32_t>(value) - static_cast<double>(kDateDelta);
  if (kind == TFieldType::ftTime && size >= 4) return Load<int32_t>(value) / kMsPerDay;
  if (kind == TFieldType::ftDateTime && size >= 8) return FromMilliseconds(Load<double>(value));
  return 0;
}

// The stored bytes of date field n of the current work area's record when
// `props` read that area's typed record; nullptr otherwise.
const char* StoredDateOf(const TDbfFieldProps& props, int n) {
  const WorkArea* a = CurrentArea();
  if (a == nullptr || a->typed == nullptr || a->typed != props.Address(0)) return nullptr;
  const auto& fields = a->table.fields;
  if (n < 1 || n > static_cast<int>(fields.size()) || fields[n - 1].type != 'D') return nullptr;
  return a->table.record.data() + fields[n - 1].offset;
}

}  // namespace

bool StoredDateYmd(const char* stored, const uint8_t* typed, int& year, int& month, int& day) {
  int digits[8];
  for (int i = 0; i < 8; ++i) {
    digits[i] = stored[i] - '0';
    if (digits[i] < 0 || digits[i] > 9) return false;
  }
  const int y = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3];
  const int m = digits[4] * 10 + digits[5];
  const int d = digits[6] * 10 + digits[7];
  constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
  if (y == 0 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1] || (m == 2 && d == 29 && !leap)) return false;
  // Day 0 of the date-time scale reads as no value: the slot path says so.
  if ((y == 1899 && m == 12 && d == 30) || !ShowsStoredDate(stored, typed)) return false;
  year = y;
  month = m;
  day = d;
  return true;
}

void TypedFieldToSlot(const TDTField& f, const FieldSlot& slot, const uint8_t* typed, const char* stored,
                      uint8_t* dst) {
  if (f.type == 'D' && stored != nullptr && ShowsStoredDate(stored, typed)) {
    const double jd = StoredDayNumber(stored);
    Store<double>(dst, jd >= kNoDate ? 0.0 : jd - kJulianOfDateTimeZero);
    return;
  }
  FieldToBuffer(f, slot, typed, dst);
}

void CopyRecordToBuffer(const TDbfFieldProps& props, const FieldDataLayout& layout, uint8_t* buffer) {
  // Looked up once: every field of every record read comes here.
  const uint8_t* record = props.Address(0);
  if (record == nullptr) return;
  buffer[0] = record[0];
  for (int n = 1; n <= props.Count(); ++n) {
    const FieldSlot* slot = layout.Slot(n);
    if (slot == nullptr || slot->size == 0) continue;
    const TDTField& f = props.Fields()[static_cast<size_t>(n - 1)];
    TypedFieldToSlot(f, *slot, record + f.offset, f.type == 'D' ? StoredDateOf(props, n) : nullptr,
                     buffer + slot->offset);
  }
}

void CopyMarkToRecord(const TDbfFieldProps& props, const uint8_t* buffer) {
  if (uint8_t* mark = props.Address(0)) mark[0] = buffer[0];
}

void CopyBufferToRecord(const TDbfFieldProps& props, const FieldDataLayout& layout, const uint8_t* buffer) {
  CopyMarkToRecord(props, buffer);
  for (int n = 1; n <= props.Count(); ++n) CopyOne(props, layout, buffer, n);
}

void CopyFieldToRecord(const TDbfFieldProps& props, const FieldDataLayout& layout, const uint8_t* buffer, int n) {
  CopyMarkToRecord(props, buffer);
  CopyOne(props, layout, buffer, n);
}

size_t SlotTextLength(const uint8_t* slot, const FieldSlot& info) {
  // The counted text without its trailing blanks and control characters;
  // runs of eight blanks, the usual padding, are passed over whole.
  size_t n = std::min<size_t>(slot[0], info.size > 0 ? info.size - 1u : 0u);
  constexpr uint64_t kLow = 0x0101010101010101ULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  while (std::endian::native == std::endian::little && n >= 8) {
    uint64_t eight = 0;
    std::memcpy(&eight, slot + n - 7, 8);
    // The high bit of each byte of 33 or more: below 0x80 the subtraction
    // sets it (no byte borrows from the next, each starts at 0x80 or
    // more), from 0x80 on the byte has it.
    const uint64_t kept = ((((eight | kHigh) - 33 * kLow)) | eight) & kHigh;
    if (kept != 0) {
      // The last kept byte (the highest, little-endian) ends the text.
      return n - static_cast<size_t>(__builtin_clzll(kept) / 8);
    }
    n -= 8;
  }
  while (n > 0 && slot[n] < 33) --n;
  return n;
}

bool GetFieldValue(const uint8_t* slot, const FieldSlot& info, TFieldType kind, void* dest, size_t dest_size) {
  auto* out = static_cast<uint8_t*>(dest);
  if (kind == TFieldType::ftString) {
    if (dest_size == 0) return true;
    const size_t n = std::min(SlotTextLength(slot, info), dest_size - 1);
    std::memcpy(out, slot + 1, n);
    std::memset(out + n, 0, dest_size - n);
    return true;
  }
  // Whole numbers, memo blocks and logicals: the slot is the native value.
  if (!IsDateKind(kind) && info.size == dest_size) {
    switch (dest_size) {
      case 2: std::memcpy(out, slot, 2); return true;
      case 4: std::memcpy(out, slot, 4); return true;
      case 8: std::memcpy(out, slot, 8); return true;
      default: break;
    }
  }
  std::memset(out, 0, dest_size);
  if (IsDateKind(kind)) {
    const TDateTime dt = info.size >= 8 ? Load<double>(slot) : 0.0;
    if (dt == 0 || !std::isfinite(dt)) return false;
    ToNative(dt, kind, out, dest_size);
    return true;
  }
  std::memcpy(out, slot, std::min<size_t>(info.size, dest_size));
  return true;
}

void PutFieldValue(uint8_t* slot, const FieldSlot& info, TFieldType kind, const void* value, size_t value_size) {
  const auto* in = static_cast<const uint8_t*>(value);
  if (in == nullptr) {
    std::memset(slot, 0, info.size);
  } else if (IsDateKind(kind)) {
    if (info.size >= 8) Store<double>(slot, FromNative(in, value_size, kind));
  } else if (kind == TFieldType::ftString) {
    const size_t max = info.size > 0 ? info.size - 1u : 0u;
    const char* text = static_cast<const char*>(value);
    WriteCounted(slot, std::string(text, strnlen(text, std::min(value_size, max))), max);
  } else {
    std::memset(slot, 0, info.size);
    std::memcpy(slot, in, std::min<size_t>(value_size, info.size));
  }
}

void SetFieldValue(const TDbfFieldProps& props, const FieldDataLayout& layout, uint8_t* buffer, int n, TFieldType kind,
                   const void* value, size_t value_size) {
  const FieldSlot* slot = layout.Slot(n);
  if (slot == nullptr || slot->size == 0) return;
  PutFieldValue(buffer + slot->offset, *slot, kind, value, value_size);
  CopyFieldToRecord(props, layout, buffer, n);
  // A value the user set is written even when it equals what is stored
  // (0 over a blank number), unlike the fields nobody touched.
  if (WorkArea* a = CurrentArea(); a != nullptr && a->typed != nullptr && a->typed == props.Address(0)) {
    MarkAreaFieldChanged(*a, static_cast<size_t>(n - 1));
  }
}

}  // namespace ov
