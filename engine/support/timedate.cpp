#include "engine/support/timedate.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "engine/support/platform.h"

namespace ov {

namespace {

// ---- Name tables: fixed-width entries, OEM bytes (437; 866 for Russian).

struct NameTable {
  std::string_view text;
  size_t width;
};

struct Language {
  NameTable days;    // Sunday first
  NameTable months;  // January first
};

constexpr std::string_view kEnglishDays = "Sunday   Monday   Tuesday  WednesdayThursday Friday   Saturday ";
constexpr std::string_view kEnglishMonths =
    "January  February March    April    May      June     "
    "July     August   SeptemberOctober  November December ";
constexpr std::string_view kItalianDays = "Domenica Lunedi   Martedi  MercolediGiovedi  Venerdi  Sabato   ";
constexpr std::string_view kItalianMonths =
    "Gennaio  Febbraio Marzo    Aprile   Maggio   Giugno   "
    "Luglio   Agosto   SettembreOttobre  Novembre Dicembre ";
constexpr std::string_view kFrenchDays = "DimancheLundi   Mardi   MercrediJeudi   VendrediSamedi  ";
constexpr std::string_view kFrenchMonths =
    "Janvier  F\x82vrier  Mars     Avril    Mai      Juin     "
    "Juillet  Ao\x96t     SeptembreOctobre  Novembre D\x82"
    "cembre ";
constexpr std::string_view kGermanDays = "Sonntag   Montag    Dienstag  Mittwoch  DonnerstagFreitag   Samstag   ";
constexpr std::string_view kGermanMonths =
    "Januar   Februar  M\x84rz     April    Mai      Juni     "
    "Juli     August   SeptemberOktober  November Dezember ";
constexpr std::string_view kSpanishDays = "Domingo  Lunes    Martes   MiercolesJueves   Viernes  Sabado   ";
constexpr std::string_view kSpanishMonths =
    "Enero     Febrero   Marzo     Abril     Mayo      Junio     "
    "Julio     Agosto    SeptiembreOctubre   Noviembre Diciembre ";
constexpr std::string_view kRussianDays =
    "\x82\xAE\xE1\xAA\xE0\xA5\xE1\xA5\xAD\xEC\xA5"
    "\x8F\xAE\xAD\xA5\xA4\xA5\xAB\xEC\xAD\xA8\xAA"
    "\x82\xE2\xAE\xE0\xAD\xA8\xAA    "
    "\x91\xE0\xA5\xA4\xA0      "
    "\x97\xA5\xE2\xA2\xA5\xE0\xA3    "
    "\x8F\xEF\xE2\xAD\xA8\xE6\xA0    "
    "\x91\xE3\xA1\xA1\xAE\xE2\xA0    ";
constexpr std::string_view kRussianMonths =
    "\x9F\xAD\xA2\xA0\xE0\xEC  "
    "\x94\xA5\xA2\xE0\xA0\xAB\xEC "
    "\x8C\xA0\xE0\xE2    "
    "\x80\xAF\xE0\xA5\xAB\xEC  "
    "\x8C\xA0\xA9     "
    "\x88\xEE\xAD\xEC    "
    "\x88\xEE\xAB\xEC    "
    "\x80\xA2\xA3\xE3\xE1\xE2  "
    "\x91\xA5\xAD\xE2\xEF\xA1\xE0\xEC"
    "\x8E\xAA\xE2\xEF\xA1\xE0\xEC "
    "\x8D\xAE\xEF\xA1\xE0\xEC  "
    "\x84\xA5\xAA\xA0\xA1\xE0\xEC ";

static_assert(kEnglishDays.size() == 7 * 9 && kEnglishMonths.size() == 12 * 9);
static_assert(kItalianDays.size() == 7 * 9 && kItalianMonths.size() == 12 * 9);
static_assert(kFrenchDays.size() == 7 * 8 && kFrenchMonths.size() == 12 * 9);
static_assert(kGermanDays.size() == 7 * 10 && kGermanMonths.size() == 12 * 9);
static_assert(kSpanishDays.size() == 7 * 9 && kSpanishMonths.size() == 12 * 10);
static_assert(kRussianDays.size() == 7 * 11 && kRussianMonths.size() == 12 * 8);

constexpr Language kEnglish{{kEnglishDays, 9}, {kEnglishMonths, 9}};
constexpr Language kItalian{{kItalianDays, 9}, {kItalianMonths, 9}};
constexpr Language kFrench{{kFrenchDays, 8}, {kFrenchMonths, 9}};
constexpr Language kGerman{{kGermanDays, 10}, {kGermanMonths, 9}};
constexpr Language kSpanish{{kSpanishDays, 9}, {kSpanishMonths, 10}};
constexpr Language kRussian{{kRussianDays, 11}, {kRussianMonths, 8}};

// ---- Small text helpers.

DateSettings& Settings() { return Engine().dates; }

int NormalType(int type) { return type < 0 || type > 8 ? 0 : type; }

int CurrentType() { return NormalType(Settings().DateType); }

const Language& LanguageOf(int type) {
  static const Language* const kByType[9] = {&kEnglish, &kEnglish, &kEnglish, &kItalian, &kFrench,
                                             &kGerman,  &kSpanish, &kFrench,  &kRussian};
  return *kByType[NormalType(type)];
}

// The entry (1-based) with its trailing blanks; `i` must be in range.
std::string Entry(const NameTable& table, int i) {
  return std::string(table.text.substr(static_cast<size_t>(i - 1) * table.width, table.width));
}

// Date texts are short strings: a NUL ends them, and only 10 characters count.
std::string ShortText(const std::string& text) {
  std::string t = text.substr(0, text.find('\0'));
  if (t.size() > 10) t.resize(10);
  return t;
}

// Substring that is empty instead of throwing past the end.
std::string Sub(const std::string& s, size_t pos, size_t n = std::string::npos) {
  return pos >= s.size() ? std::string() : s.substr(pos, n);
}

std::string PadLeft(const std::string& s, size_t width, char fill = '0') {
  return s.size() >= width ? s : std::string(width - s.size(), fill) + s;
}

// Blank-padded or cut to exactly `width`.
std::string Fit(std::string s, size_t width) {
  s.resize(width, ' ');
  return s;
}

// Zero-padded decimal digits of a non-negative value (widened if needed).
std::string Digits(int value, size_t width) {
  std::string out(width, '0');
  for (size_t i = width; i > 0 && value > 0; --i, value /= 10) {
    out[i - 1] = static_cast<char>('0' + value % 10);
  }
  return value > 0 ? std::to_string(value) + out : out;
}

// A run of digits only (no sign, no blanks); false otherwise.
bool ReadDigits(const std::string& s, int& value) {
  if (s.empty() || s.size() > 9) return false;
  if (!std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  value = std::stoi(s);
  return true;
}

// Numeric value of a text part, surrounding blanks allowed; 0 when it is not
// a number.
int ValueOrZero(const std::string& s) {
  int value = 0;
  return ReadDigits(TrimText(s), value) ? value : 0;
}

struct Parts {
  std::string first, second, third;
  bool AllBlank() const { return TrimText(first + second + third).empty(); }
};

// Three parts at `sep`; anything after a third separator stays in the last
// part, so surplus separators make the date invalid rather than ignored.
Parts SplitAt(const std::string& text, char sep) {
  Parts parts;
  size_t p1 = text.find(sep);
  parts.first = text.substr(0, p1);
  if (p1 == std::string::npos) return parts;
  size_t p2 = text.find(sep, p1 + 1);
  parts.second = text.substr(p1 + 1, p2 == std::string::npos ? p2 : p2 - p1 - 1);
  if (p2 != std::string::npos) parts.third = text.substr(p2 + 1);
  return parts;
}

char SeparatorOf(const std::string& text) {
  for (char sep : {'/', '-', '.'}) {
    if (text.find(sep) != std::string::npos) return sep;
  }
  return 0;
}

// The year text as given, widened to 4 characters when CenturyOn is set.
std::string WidenYear(const std::string& year) {
  if (!Settings().CenturyOn || year.size() >= 4) return year;
  if (year.size() == 2) return CenturyDigits(year) + year;
  return PadLeft(year, 4);
}

std::string Assemble(int type, const std::string& m, const std::string& d, const std::string& y) {
  switch (NormalType(type)) {
    case 0: return m + "/" + d + "/" + y;
    case 1: return y + "." + m + "." + d;
    case 2: return d + "/" + m + "/" + y;
    case 3: return d + "-" + m + "-" + y;
    default: return d + "." + m + "." + y;
  }
}

// An empty date in canonical form, or nothing at all.
bool IsEmptyCanonical(const std::string& canonical) {
  return TrimText(canonical).empty() || TrimRightText(canonical) == "  /  /";
}

// ---- Calendar arithmetic.

constexpr int kDaysBeforeMonth[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
constexpr int64_t kDayNumberBase = 1721425;      // the day before 1 January of year 1
constexpr int64_t kMarchFirstOfYearZero = -305;  // its day number less kDayNumberBase

int MonthLength(int year, int month) {
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDaysBeforeMonth[month] - kDaysBeforeMonth[month - 1];
}

int64_t DaysBeforeYear(int year) {
  if (year <= 1) return 0;
  int64_t p = year - 1;
  return 365 * p + p / 4 - p / 100 + p / 400;
}

bool DayExists(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= MonthLength(year, month);
}

struct Ymd {
  int year = 0, month = 0, day = 0;
};

// Calendar date of a day number; false outside years 1..9999 (and NaN).
bool DayNumberToYmd(double number, Ymd& out) {
  if (!(number >= kFirstDayNumber && number < kLastDayNumber + 1)) return false;
  // Counted from 1 March of year 0 in 400-year cycles, so that the leap
  // day ends a year and each month's start follows from one formula.
  // Unsigned: every count is positive within the range, and unsigned
  // division by a constant is the shortest.
  const auto z = static_cast<uint32_t>(static_cast<int64_t>(number) - kDayNumberBase - kMarchFirstOfYearZero);
  const uint32_t cycle = z / 146097;
  const uint32_t day_of_cycle = z - cycle * 146097;
  const uint32_t year_of_cycle =
      (day_of_cycle - day_of_cycle / 1460 + day_of_cycle / 36524 - day_of_cycle / 146096) / 365;
  const uint32_t day_of_year = day_of_cycle - (365 * year_of_cycle + year_of_cycle / 4 - year_of_cycle / 100);
  const uint32_t month_from_march = (5 * day_of_year + 2) / 153;
  const int month = static_cast<int>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
  const int day = static_cast<int>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  out = Ymd{static_cast<int>(year_of_cycle + cycle * 400 + (month <= 2 ? 1 : 0)), month, day};
  return true;
}

// Zeller's congruence on numbers; 1 = Sunday .. 7 = Saturday.
int Weekday(int year, int month, int day) {
  int64_t c = year / 100, y = year % 100;
  int64_t m = month;
  if (month == 1 || month == 2) {
    m += 12;
    if (y == 0) {
      y = 99;
      --c;
    } else {
      --y;
    }
  }
  int64_t h = FloorMod(y + day + (26 * m + 26) / 10 + y / 4 + c / 4 - 2 * c, 7);
  return h == 0 ? 7 : static_cast<int>(h);
}

int WeekdayOfCanonical(const std::string& c) {
  std::string year_text = Sub(c, 6);
  int year = year_text.size() == 2 ? std::stoi(ExpandYear(year_text)) : ValueOrZero(year_text);
  return Weekday(year, ValueOrZero(Sub(c, 0, 2)), ValueOrZero(Sub(c, 3, 2)));
}

// Canonical text of a real calendar date (8 or 10 characters).
bool IsValidCanonical(const std::string& c) {
  if ((c.size() != 8 && c.size() != 10) || c[2] != '/' || c[5] != '/') return false;
  int month = 0, day = 0, year = 0;
  if (!ReadDigits(c.substr(0, 2), month) || !ReadDigits(c.substr(3, 2), day) || !ReadDigits(c.substr(6), year)) {
    return false;
  }
  if (c.size() == 8) year = std::stoi(ExpandYear(c.substr(6)));
  return DayExists(year, month, day);
}

// ---- Locale.

struct LocaleId {
  std::string language;   // lower case, "" for none
  std::string territory;  // upper case
};

// "language_TERRITORY.codeset@modifier"
LocaleId ParseLocale(const std::string& value) {
  LocaleId id;
  size_t end = value.find_first_of("_.@");
  id.language = value.substr(0, end);
  if (end != std::string::npos && value[end] == '_') {
    size_t stop = value.find_first_of(".@", end + 1);
    id.territory = value.substr(end + 1, stop == std::string::npos ? stop : stop - end - 1);
  }
  for (char& ch : id.language) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  for (char& ch : id.territory) {
    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  return id;
}

LocaleId UserLocale() {
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    std::string value = CurrentEnv()->GetEnvVar(name);
    if (value.empty() || value == "C" || value == "POSIX") continue;
    return ParseLocale(value);
  }
  return LocaleId{};
}

int DateTypeForLocale(const LocaleId& id) {
  const std::string& lang = id.language;
  if (lang == "de") return 5;
  if (lang == "en") return id.territory == "US" ? 0 : 2;
  if (lang == "es") return 6;
  if (lang == "fr") return id.territory == "CA" ? 7 : 4;
  if (lang == "it") return 3;
  if (lang == "ru") return 8;
  return 0;
}

}  // namespace

void InitDateSettings() {
  DateSettings& d = Settings();
  d.DateType = static_cast<uint8_t>(DateTypeForLocale(UserLocale()));
  switch (d.DateType) {
    case 3:
    case 4:
    case 5:
    case 6:
      d.DecimalPoint = ',';
      d.ThousandsSeparator = '.';
      break;
    case 8:
      d.DecimalPoint = '.';
      d.ThousandsSeparator = ' ';
      break;
    default: d.DecimalPoint = '.'; d.ThousandsSeparator = ',';
  }
  d.EpochYear = static_cast<uint16_t>(std::max(0, CurrentEnv()->Today().year - 70));
}

namespace {
// Counts SetDateType calls over the life of the process, so the dataset
// framework can adopt a format the engine set for it.
uint64_t g_format_generation = 0;
}  // namespace

void SetDateType(int type) {
  DateSettings& d = Settings();
  d.DateType = static_cast<uint8_t>(NormalType(type));
  const std::string year = d.CenturyOn ? "yyyy" : "yy";
  switch (d.DateType) {
    case 0:
      d.ShortDateFormat = "MM/dd/" + year;
      d.DateSeparator = '/';
      break;
    case 1:
      d.ShortDateFormat = year + ".MM.dd";
      d.DateSeparator = '.';
      break;
    case 2:
      d.ShortDateFormat = "dd/MM/" + year;
      d.DateSeparator = '/';
      break;
    case 3:
      d.ShortDateFormat = "dd-MM-" + year;
      d.DateSeparator = '-';
      break;
    default:
      d.ShortDateFormat = "dd.MM." + year;
      d.DateSeparator = '.';
      break;
  }
  ++g_format_generation;
}

uint64_t ShortDateFormatGeneration() { return g_format_generation; }

std::string DateTemplate(int type) {
  const std::string year(Settings().CenturyOn ? 4 : 2, ' ');
  return Assemble(type, "  ", "  ", year);
}

std::string DateToCanonical(const std::string& text) {
  const std::string t = ShortText(text);
  const char sep = SeparatorOf(t);
  if (sep == 0) return t;
  Parts p = SplitAt(t, sep);
  for (std::string* part : {&p.first, &p.second, &p.third}) *part = TrimText(*part).substr(0, 4);
  if (p.AllBlank()) return DateTemplate(0);
  for (std::string* part : {&p.first, &p.second, &p.third}) *part = PadLeft(*part, 2);
  switch (CurrentType()) {
    case 0: return p.first + "/" + p.second + "/" + WidenYear(p.third);
    case 1: return p.second + "/" + p.third + "/" + WidenYear(p.first);
    default: return p.second + "/" + p.first + "/" + WidenYear(p.third);
  }
}

std::string CanonicalToDate(const std::string& text) {
  Parts p = SplitAt(ShortText(text), '/');
  if (p.AllBlank()) return DateTemplate(CurrentType());
  return Assemble(CurrentType(), PadLeft(p.first, 2), PadLeft(p.second, 2), WidenYear(PadLeft(p.third, 2)));
}

size_t RecordDigitsToDate(const char* record, char* out) {
  // Eight digits, tested at once: no byte falls below '0' nor, with 0x46
  // added, reaches past 0x7F (so above '9').
  uint64_t eight = 0;
  std::memcpy(&eight, record, 8);
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  if (((eight - 0x3030303030303030ULL) | (eight + 0x4646464646464646ULL) | eight) & kHigh) return 0;
  // What CanonicalToDate makes of "MM/DD/" and the year as the setting
  // shows it: every part already has its full width.
  const bool century = Settings().CenturyOn;
  const size_t yl = century ? 4 : 2;
  const char* m = record + 4;
  const char* d = record + 6;
  // Parts of fixed width, copied as such.
  const auto two = [](char* to, const char* from) { std::memcpy(to, from, 2); };
  const auto year = [&](char* to) {
    if (century) {
      std::memcpy(to, record, 4);
    } else {
      two(to, record + 2);
    }
  };
  const int type = CurrentType();
  if (type == 1) {
    year(out);
    out[yl] = '.';
    two(out + yl + 1, m);
    out[yl + 3] = '.';
    two(out + yl + 4, d);
    return yl + 6;
  }
  const char sep = type == 0 || type == 2 ? '/' : (type == 3 ? '-' : '.');
  two(out, type == 0 ? m : d);
  out[2] = sep;
  two(out + 3, type == 0 ? d : m);
  out[5] = sep;
  year(out + 6);
  return yl + 6;
}

bool ValidDate(std::string& text) {
  const std::string t = ShortText(TrimText(text));
  // A text of blanks alone is an empty date, as is the blank template.
  std::string canonical = t.empty() ? DateTemplate(0) : DateToCanonical(t);
  if (canonical != DateTemplate(0)) {
    if (!IsValidCanonical(canonical)) return false;
    if (canonical.size() == 10 && !Settings().CenturyOn) canonical.erase(6, 2);
  }
  text = CurrentType() == 0 ? canonical : CanonicalToDate(canonical);
  return true;
}

std::string ExpandYear(const std::string& yy) {
  const int value = ValueOrZero(yy.substr(0, 2));
  const int epoch = Settings().EpochYear;
  const int century = epoch / 100 * 100 + (epoch % 100 > value ? 100 : 0);
  return Digits(century + value, 4);
}

std::string CenturyDigits(const std::string& yy) { return ExpandYear(yy).substr(0, 2); }

std::string DateToRecord(const std::string& text) {
  const std::string c = DateToCanonical(text);
  if (IsEmptyCanonical(c)) return std::string(8, ' ');
  std::string year = Sub(c, 6, 4);
  if (year.size() < 4) year = CenturyDigits(year) + year;
  return Fit(year, 4) + Fit(c.substr(0, 2), 2) + Fit(Sub(c, 3, 2), 2);
}

std::string DateToSortText(const std::string& text) {
  std::string c;
  {
    CenturyForced forced;
    c = DateToCanonical(text);
  }
  const std::string sort =
      Digits(ValueOrZero(Sub(c, 6)), 4) + Digits(ValueOrZero(Sub(c, 0, 2)), 2) + Digits(ValueOrZero(Sub(c, 3, 2)), 2);
  return sort == "00000000" ? std::string(8, ' ') : sort;
}

double RecordToDayNumber(const std::string& record) {
  const std::string r = ShortText(record);
  const int year = ValueOrZero(Sub(r, 0, 4));
  if (year == 0) return kNoDate;
  return YmdToDayNumber(year, ValueOrZero(Sub(r, 4, 2)), ValueOrZero(Sub(r, 6, 2)));
}

double YmdToDayNumber(int year, int month, int day) {
  if (!DayExists(year, month, day)) return kNoDate;
  const int doy = kDaysBeforeMonth[month - 1] + day + (month > 2 && IsLeapYear(year) ? 1 : 0);
  return static_cast<double>(doy + DaysBeforeYear(year) + kDayNumberBase);
}

double DateToDayNumber(const std::string& text) {
  std::string c;
  {
    CenturyForced forced;
    c = DateToCanonical(text);
  }
  return YmdToDayNumber(ValueOrZero(Sub(c, 6)), ValueOrZero(Sub(c, 0, 2)), ValueOrZero(Sub(c, 3, 2)));
}

std::string DayNumberToDate(double number) {
  Ymd v;
  if (!DayNumberToYmd(number, v)) return DateTemplate(CurrentType());
  const std::string y = Settings().CenturyOn ? Digits(v.year, 4) : Digits(v.year % 100, 2);
  const std::string m = Digits(v.month, 2), d = Digits(v.day, 2);
  // Russian dates come out with "/" here, unlike the other conversions.
  if (CurrentType() == 8) return d + "/" + m + "/" + y;
  return Assemble(CurrentType(), m, d, y);
}

std::string DayNumberToRecord(double number) {
  Ymd v;
  if (!DayNumberToYmd(number, v)) return std::string(8, ' ');
  return Digits(v.year, 4) + Digits(v.month, 2) + Digits(v.day, 2);
}

bool SplitDayNumber(double number, int& year, int& month, int& day) {
  Ymd v;
  if (!DayNumberToYmd(number, v)) return false;
  year = v.year;
  month = v.month;
  day = v.day;
  return true;
}

int DayOfWeek(const std::string& text) { return WeekdayOfCanonical(DateToCanonical(text)); }

std::string DayName(const std::string& text) {
  const std::string c = DateToCanonical(text);
  if (IsEmptyCanonical(c)) return std::string(10, ' ');
  return Entry(LanguageOf(CurrentType()).days, WeekdayOfCanonical(c));
}

std::string MonthName(const std::string& text) {
  const std::string c = DateToCanonical(text);
  const int month = ValueOrZero(Sub(c, 0, 2));
  // A month outside the table reads as no date rather than past its end.
  if (IsEmptyCanonical(c) || month < 1 || month > 12) return std::string(9, ' ');
  return Entry(LanguageOf(CurrentType()).months, month);
}

int MonthOf(const std::string& text) { return ValueOrZero(Sub(DateToCanonical(text), 0, 2)); }
int DayOf(const std::string& text) { return ValueOrZero(Sub(DateToCanonical(text), 3, 2)); }
int YearOf(const std::string& text) { return ValueOrZero(Sub(DateToCanonical(text), 6)); }

bool IsLeapYear(int year) { return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0); }

int64_t FloorMod(int64_t a, int64_t b) {
  if (b == 0 || b == -1) return 0;  // b == -1 also avoids INT64_MIN % -1
  int64_t r = a % b;
  if (r != 0 && ((r < 0) != (b < 0))) r += b;
  return r;
}

int64_t SecondsCounter() { return static_cast<int64_t>(CurrentEnv()->TickCountMs() / 1000); }

CenturyForced::CenturyForced() : saved_(Settings().CenturyOn) { Settings().CenturyOn = true; }
CenturyForced::~CenturyForced() { Settings().CenturyOn = saved_; }

}  // namespace ov
