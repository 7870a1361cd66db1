#include "engine/expr/snb.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "engine/support/ascii.h"
#include "engine/support/numtext.h"
#include "engine/support/ovutils.h"
#include "engine/support/timedate.h"

namespace ov {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Powers of ten up to here cover every decimal a double can carry.
constexpr int64_t kMaxCutDecimals = 30;
// Julian day number of 1 January 1970, the epoch of the civil-date formula.
constexpr int64_t kUnixEpochDay = 2440588;

}  // namespace

namespace {

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// Plain decimals of up to 15 digits (every numeric field) are exact as an
// integer over a power of ten, and one division rounds them correctly, as
// the general conversion would. False when the text needs that one.
bool ReadPlainDecimal(std::string_view text, double& value) {
  uint64_t mantissa = 0;
  int digits = 0, decimals = 0;
  bool point = false;
  size_t i = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      if (++digits > 15) return false;
      mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
      decimals += point ? 1 : 0;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) return false;
  value = static_cast<double>(mantissa) / kPowersOfTen[decimals];
  return true;
}

}  // namespace

double TextToNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // from_chars would also take "inf" and "nan"; a number starts with a digit or ".".
  if (i >= text.size() || !(IsDigit(text[i]) || text[i] == '.')) return 0.0;
  double value = 0.0;
  if (!ReadPlainDecimal(text.substr(i), value)) {
    const auto res = std::from_chars(text.data() + i, text.data() + text.size(), value, std::chars_format::general);
    if (res.ec != std::errc()) return 0.0;
  }
  return negative ? -value : value;
}

int64_t TruncToInt(double x) {
  if (std::isnan(x)) return 0;
  return static_cast<int64_t>(std::clamp(x, -9e18, 9e18));
}

size_t CountArg(double x) {
  const int64_t n = TruncToInt(x);
  return n < 0 ? 0 : static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(kMaxExprText)));
}

double CutDecimals(double x, double d) {
  const long double whole = std::trunc(static_cast<long double>(x));
  const int64_t digits = std::min(TruncToInt(d), kMaxCutDecimals);
  if (digits < 1 || !std::isfinite(x)) return static_cast<double>(whole);
  long double up = 1.0L, down = 1.0L;
  for (int64_t i = 0; i < digits; ++i) {
    up *= 10.0L;
    down *= 0.1L;
  }
  const long double scaled = (static_cast<long double>(x) - whole) * up;
  // A value stored as 1.15 is 1.149999... in binary; a digit lost only to
  // that representation error is not cut away.
  const long double nearest = std::nearbyint(scaled);
  const long double slack = 8.0L * DBL_EPSILON * std::fabs(static_cast<long double>(x)) * up;
  const long double kept = std::fabs(scaled - nearest) <= slack ? nearest : std::trunc(scaled);
  return static_cast<double>(whole + kept * down);
}

size_t FormatNumber(double x, double width, double decimals, char* out) {
  const size_t w = CountArg(width);
  const size_t d =
      static_cast<size_t>(std::clamp<int64_t>(TruncToInt(decimals), 0, static_cast<int64_t>(kMaxExprText)));
  char buf[kExprScratch];
  const size_t n = std::isfinite(x) ? FixedDecimalText(x, d, w, buf) : 0;
  // Too long for the width (or no number at all): w asterisks.
  if (n == 0) {
    std::memset(out, '*', w);
    return w;
  }
  std::memset(out, ' ', w - n);
  std::memcpy(out + (w - n), buf, n);
  return w;
}

void Soundex(std::string_view text, char* out) {
  static constexpr char kDigits[] = "01230120022455012623010202";
  std::memcpy(out, "0000", 4);
  text = text.substr(0, std::min<size_t>(text.size(), 100));
  if (text.empty()) return;
  const char first = AsciiUpper(text[0]);
  out[0] = first;
  char previous = IsAsciiLetter(first) ? kDigits[first - 'A'] : '0';
  size_t filled = 1;
  for (size_t i = 1; i < text.size() && filled < 4; ++i) {
    const char c = AsciiUpper(text[i]);
    if (!IsAsciiLetter(c)) continue;
    const char digit = kDigits[c - 'A'];
    if (digit != previous && digit != '0') out[filled++] = digit;
    previous = digit;
  }
}

double RecordTextToDayNumber(std::string_view record) {
  if (record.size() == 8 && std::all_of(record.begin(), record.end(), IsDigit)) {
    auto number = [&](size_t pos, size_t len) {
      int v = 0;
      for (size_t i = pos; i < pos + len; ++i) v = v * 10 + (record[i] - '0');
      return v;
    };
    return YmdToDayNumber(number(0, 4), number(4, 2), number(6, 2));
  }
  if (record.size() == 8 && record.find_first_not_of(' ') == std::string_view::npos) return kNoDate;
  return RecordToDayNumber(std::string(record));
}

void DayNumberToRecordText(double day_number, char* out) {
  if (!(day_number >= kFirstDayNumber && day_number < kLastDayNumber + 1)) {
    std::memset(out, ' ', 8);
    return;
  }
  // Civil date from days since 1 March 0000 in 400-year eras.
  const int64_t z = static_cast<int64_t>(day_number) - kUnixEpochDay + 719468;
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  auto put = [&](size_t pos, size_t len, int64_t v) {
    for (size_t i = pos + len; i > pos; --i, v /= 10) out[i - 1] = static_cast<char>('0' + v % 10);
  };
  put(0, 4, year);
  put(4, 2, month);
  put(6, 2, day);
}

namespace {

struct CaseTables {
  std::array<char, 256> upper{};
  std::array<char, 256> lower{};
  CaseTables() {
    for (size_t i = 0; i < 256; ++i) {
      upper[i] = UpperChar(static_cast<char>(i));
      lower[i] = LowerChar(static_cast<char>(i));
    }
  }
};

const CaseTables& Tables() {
  static const CaseTables tables;
  return tables;
}

}  // namespace

const char* UpperCaseMap() { return Tables().upper.data(); }
const char* LowerCaseMap() { return Tables().lower.data(); }

}  // namespace ov
