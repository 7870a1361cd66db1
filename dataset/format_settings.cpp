#include "dataset/format_settings.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "dataset/dataset_state.h"
#include "engine/support/ascii.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "engine/support/platform.h"
#include "engine/support/timedate.h"

namespace ov {

namespace {

// POSIX precedence: LC_ALL wins, then the category, then LANG.
std::string LocaleNameFor(const char* category) {
  for (const char* name : {"LC_ALL", category, "LANG"}) {
    std::string value = CurrentEnv()->GetEnvVar(name);
    if (!value.empty()) return value;
  }
  return "C";
}

// Reads one item of a locale without touching the process's own locale.
std::string LocaleItem(const std::string& name, int mask, nl_item item) {
  // An empty name would make the C library read the real environment.
  const std::string use = name.empty() ? "C" : name;
  locale_t loc = newlocale(mask, use.c_str(), static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) return std::string();
  std::string value = nl_langinfo_l(item, loc);
  freelocale(loc);
  return value;
}

bool IsFlagOrModifier(char c) {
  return c == '-' || c == '_' || c == '0' || c == '^' || c == '#' || c == 'E' || c == 'O';
}

// Format letters for one C library conversion; "" drops it.
std::string LettersFor(char conversion, bool unpadded) {
  switch (conversion) {
    case 'd': return unpadded ? "d" : "dd";
    case 'e': return "d";
    case 'm':
    case 'b':
    case 'B':
    case 'h': return unpadded ? "M" : "MM";
    case 'y': return "yy";
    case 'Y':
    case 'G': return "yyyy";
    case 'D': return "MM/dd/yy";
    case 'F': return "yyyy-MM-dd";
    default: return std::string();
  }
}

bool IsDateLetter(char c) { return AsciiLower(c) == 'd' || AsciiLower(c) == 'm' || AsciiLower(c) == 'y'; }

// Writes the decimal digits of value (0 to 99999), zero-padded to `width`;
// answers the end.
char* PutDigits(char* at, int value, int width) {
  char digits[8];
  int n = 0;
  for (int v = std::clamp(value, 0, 99999); n == 0 || v > 0; v /= 10) digits[n++] = static_cast<char>('0' + v % 10);
  for (int k = n; k < width; ++k) *at++ = '0';
  while (n > 0) *at++ = digits[--n];
  return at;
}

// "DMY", "MDY" or "YMD": the order in which a format names the parts.
std::string PartOrder(const std::string& format) {
  std::string order;
  for (char c : format) {
    const char part = AsciiLower(c) == 'd' ? 'D' : AsciiLower(c) == 'm' ? 'M' : AsciiLower(c) == 'y' ? 'Y' : 0;
    if (part != 0 && order.find(part) == std::string::npos) order += part;
  }
  return order == "DMY" || order == "YMD" ? order : "MDY";
}

[[noreturn]] void NotADate(const std::string& text) { throw EConvertError("'" + text + "' is not a valid date"); }

// Splits at the separator; every piece must be 1 to 4 digits.
std::vector<std::string> NumberPieces(const std::string& text, char sep) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t end; (end = text.find(sep, start)) != std::string::npos; start = end + 1) {
    pieces.push_back(TrimText(text.substr(start, end - start)));
  }
  pieces.push_back(TrimText(text.substr(start)));
  if (pieces.size() < 2 || pieces.size() > 3) NotADate(text);
  for (const std::string& p : pieces) {
    if (p.empty() || p.size() > 4) NotADate(text);
    for (char c : p) {
      if (c < '0' || c > '9') NotADate(text);
    }
  }
  return pieces;
}

// A year of 1 or 2 digits is placed within 50 years of the current one.
int WindowedYear(int yy) {
  const int pivot = CurrentEnv()->Today().year - 50;
  int year = (pivot / 100) * 100 + yy;
  if (year < pivot) year += 100;
  return year;
}

}  // namespace

TFormatSettings& FormatSettings() {
  DatasetState& d = DatasetGlobals();
  if (!d.format) {
    d.format = LocaleFormatSettings(LocaleNameFor("LC_TIME"), LocaleNameFor("LC_NUMERIC"));
    d.format_generation = ShortDateFormatGeneration();
  }
  // The engine's SetDateType writes the framework's date format: adopt it.
  if (d.format_generation != ShortDateFormatGeneration()) {
    d.format_generation = ShortDateFormatGeneration();
    d.format->ShortDateFormat = Engine().dates.ShortDateFormat;
    d.format->DateSeparator = Engine().dates.DateSeparator;
  }
  return *d.format;
}

void LoadFormatSettings() {
  FormatSettings() = LocaleFormatSettings(LocaleNameFor("LC_TIME"), LocaleNameFor("LC_NUMERIC"));
}

TFormatSettings LocaleFormatSettings(const std::string& time_locale, const std::string& numeric_locale) {
  TFormatSettings s;
  std::string d_fmt = LocaleItem(time_locale, LC_TIME_MASK, D_FMT);
  if (d_fmt.empty()) d_fmt = LocaleItem("C", LC_TIME_MASK, D_FMT);
  const std::string format = FrameworkDateFormat(d_fmt);
  if (!format.empty()) s.ShortDateFormat = format;
  s.DateSeparator = DateSeparatorOf(s.ShortDateFormat);
  const std::string radix = LocaleItem(numeric_locale, LC_NUMERIC_MASK, RADIXCHAR);
  // A radix outside ASCII (a multi-byte character) cannot be one char.
  if (radix.size() == 1 && static_cast<unsigned char>(radix[0]) < 0x80) s.DecimalSeparator = radix[0];
  return s;
}

std::string FrameworkDateFormat(const std::string& d_fmt) {
  std::string out;
  for (size_t i = 0; i < d_fmt.size(); ++i) {
    if (d_fmt[i] != '%') {
      out += d_fmt[i];
      continue;
    }
    bool unpadded = false;
    while (i + 1 < d_fmt.size() && IsFlagOrModifier(d_fmt[i + 1])) {
      unpadded = unpadded || d_fmt[i + 1] == '-' || d_fmt[i + 1] == '_';
      ++i;
    }
    if (++i >= d_fmt.size()) break;
    out += d_fmt[i] == '%' ? std::string("%") : LettersFor(d_fmt[i], unpadded);
  }
  return out;
}

char DateSeparatorOf(const std::string& format) {
  for (char c : format) {
    if (!IsDateLetter(c)) return c;
  }
  return '/';
}

std::string FormatDateTime(const std::string& format, TDateTime value) {
  int year = 0, month = 0, day = 0;
  DecodeDate(value, year, month, day);
  return FormatDate(format, year, month, day);
}

namespace {

// A date format read once into its parts: the dates of a table are all
// shown with the same format.
struct DateFormatPart {
  char letter = 0;  // 'y', 'm' or 'd'; 0 for a literal character
  uint8_t width = 0;
  char literal = 0;
};

// Where a letter of fixed width puts its digits in the shown text.
struct DatePlace {
  char letter = 0;
  uint8_t width = 0;  // 2 or 4
  uint8_t at = 0;
};

struct CompiledDateFormat {
  std::string format;
  std::vector<DateFormatPart> parts;
  // When every letter has a fixed width (no lone "d" or "m"), the text is
  // `layout`, the literals in place, with the digits put in at `places`.
  bool fixed = false;
  std::string layout;
  std::vector<DatePlace> places;
  bool built = false;
};

const CompiledDateFormat& CompileDateFormat(const std::string& format) {
  thread_local CompiledDateFormat last;
  if (last.built && last.format == format) return last;
  last.format = format;
  last.parts.clear();
  for (size_t i = 0; i < format.size();) {
    const char c = AsciiLower(format[i]);
    if (!IsDateLetter(c)) {
      last.parts.push_back(DateFormatPart{0, 0, format[i++]});
      continue;
    }
    size_t run = 1;
    while (i + run < format.size() && AsciiLower(format[i + run]) == c) ++run;
    i += run;
    const int width = c == 'y' ? (run <= 2 ? 2 : 4) : (run == 1 ? 1 : 2);
    last.parts.push_back(DateFormatPart{c, static_cast<uint8_t>(width), 0});
  }
  last.layout.clear();
  last.places.clear();
  last.fixed = true;
  for (const DateFormatPart& part : last.parts) {
    if (part.letter == 0) {
      last.layout += part.literal;
      continue;
    }
    if (part.width == 1 || last.layout.size() > 250) last.fixed = false;
    last.places.push_back(DatePlace{part.letter, part.width, static_cast<uint8_t>(last.layout.size())});
    last.layout.append(part.width, '0');
  }
  last.built = true;
  return last;
}

void PutTwo(char* at, int value) {
  at[0] = static_cast<char>('0' + value / 10);
  at[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

std::string FormatDate(const std::string& format, int year, int month, int day) {
  // Written in place: a letter gives at most two characters (a year run of
  // three or more gives four or five), any other character one. A usual
  // format fits the stack, and its text the string without an allocation.
  const CompiledDateFormat& compiled = CompileDateFormat(format);
  if (compiled.fixed && year >= 0 && year <= 9999 && month >= 0 && month <= 99 && day >= 0 && day <= 99) {
    std::string out = compiled.layout;
    for (const DatePlace& place : compiled.places) {
      char* at = out.data() + place.at;
      if (place.letter == 'y' && place.width == 4) {
        PutTwo(at, year / 100);
        PutTwo(at + 2, year % 100);
      } else {
        PutTwo(at, place.letter == 'd' ? day : place.letter == 'm' ? month : year % 100);
      }
    }
    return out;
  }
  char small[64];
  std::string large;
  const size_t most = 2 * format.size() + 4;
  if (most > sizeof small) large.assign(most, '\0');
  char* const start = most > sizeof small ? large.data() : small;
  char* at = start;
  for (const DateFormatPart& part : compiled.parts) {
    if (part.letter == 0) {
      *at++ = part.literal;
      continue;
    }
    int value = part.letter == 'd' ? day : part.letter == 'm' ? month : year;
    if (part.letter == 'y' && part.width == 2) value %= 100;
    if (part.width == 2 && value >= 0 && value < 100) {
      *at++ = static_cast<char>('0' + value / 10);
      *at++ = static_cast<char>('0' + value % 10);
    } else {
      at = PutDigits(at, value, part.width);
    }
  }
  return std::string(start, at);
}

TDateTime StrToDate(const std::string& text) {
  const TFormatSettings& fs = FormatSettings();
  const std::vector<std::string> pieces = NumberPieces(text, fs.DateSeparator);
  std::string order = PartOrder(fs.ShortDateFormat);
  if (pieces.size() == 2) order.erase(order.find('Y'), 1);
  int year = CurrentEnv()->Today().year, month = 0, day = 0;
  for (size_t k = 0; k < pieces.size(); ++k) {
    const int v = std::stoi(pieces[k]);
    if (order[k] == 'D') day = v;
    if (order[k] == 'M') month = v;
    if (order[k] == 'Y') year = pieces[k].size() <= 2 ? WindowedYear(v) : v;
  }
  TDateTime out = 0;
  if (!TryEncodeDate(year, month, day, out)) NotADate(text);
  return out;
}

}  // namespace ov
