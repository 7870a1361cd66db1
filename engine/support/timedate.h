// Calendar dates: the process-wide date settings, the text forms of a date
// and the conversions between them, validation, weekday arithmetic and the
// day and month names.
//
// Text forms of a date:
//   display text   the layout of `DateType` (table below), 8 characters with
//                  a 2-digit year or 10 with `CenturyOn`; an empty date is
//                  the type's template ("  /  /  " and the like)
//   canonical text MM/DD/yy, the common form every parse goes through
//   record text    YYYYMMDD as stored in a date field; empty = 8 blanks
//   day number     Julian day number of the proleptic Gregorian calendar,
//                  1721426 (1 Jan 1) .. 5373484 (31 Dec 9999); `kNoDate`
//                  stands for "no valid date"
//
//   DateType  layout     names
//   0         MM/DD/yy   English
//   1         yy.MM.DD   English
//   2         DD/MM/yy   English
//   3         DD-MM-yy   Italian
//   4, 7      DD.MM.yy   French
//   5         DD.MM.yy   German
//   6         DD.MM.yy   Spanish
//   8         DD.MM.yy   Russian (code page 866)
//
// Nothing here reports an error: bad input gives `false`, `kNoDate`, an
// empty template or blanks. Text arguments longer than 10 characters are
// cut to their first 10.
//
// Single-threaded, process-wide state: the settings live in
// `Engine().dates`; conversions that force `CenturyOn` restore it after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ov {

inline constexpr double kNoDate = 1e100;
inline constexpr double kFirstDayNumber = 1721426;  // 1 January of year 1
inline constexpr double kLastDayNumber = 5373484;   // 31 December 9999

// Reads the user's language and sets DateType, DecimalPoint,
// ThousandsSeparator and EpochYear (current year - 70). The framework's
// date format is left alone until `SetDateType`.
void InitDateSettings();

// Forces four-digit years for the life of the object, so date text that
// carries its century keeps it; the previous setting comes back after.
class CenturyForced {
 public:
  CenturyForced();
  ~CenturyForced();
  CenturyForced(const CenturyForced&) = delete;
  CenturyForced& operator=(const CenturyForced&) = delete;

 private:
  bool saved_;
};

// Stores the type (values outside 0..8 become 0) and rewrites the
// framework's short date format and date separator to match.
void SetDateType(int type);
// Changes with every SetDateType: the framework's short date format and
// separator in the date settings were rewritten.
uint64_t ShortDateFormatGeneration();
// The empty-date display text of a type, 8 or 10 characters by CenturyOn.
std::string DateTemplate(int type);

// Display text of the current type -> canonical text. Any of "/", "-", "."
// is accepted as separator; a text without one comes back unchanged.
std::string DateToCanonical(const std::string& text);
// Canonical text -> display text of the current type.
std::string CanonicalToDate(const std::string& text);
// Checks a display text and, when it is a date (or empty), rewrites it in
// the current layout and returns true. Otherwise `text` stays as it was.
bool ValidDate(std::string& text);

// The 2-digit year (first two characters; not a number counts as 0) placed
// in the 100-year window starting at EpochYear, as 4 digits.
std::string ExpandYear(const std::string& yy);
// The first two digits of `ExpandYear`.
std::string CenturyDigits(const std::string& yy);

// Display text -> YYYYMMDD; an empty date gives 8 blanks.
std::string DateToRecord(const std::string& text);
// The display text of a record text of eight digits, written to `out`
// (room for 10) without building strings; answers its length, or 0 when
// `record` is not eight digits (then the general conversion applies).
size_t RecordDigitsToDate(const char* record, char* out);
// Display text -> zero-padded YYYYMMDD, or 8 blanks for no date.
std::string DateToSortText(const std::string& text);

double RecordToDayNumber(const std::string& record);
// `kNoDate` unless year 1..9999, month 1..12 and the day exists.
double YmdToDayNumber(int year, int month, int day);
double DateToDayNumber(const std::string& text);
// Display text of the current type; the empty template when the number is
// not a day of years 1..9999.
std::string DayNumberToDate(double number);
// YYYYMMDD, or 8 blanks when the number is not a day of years 1..9999.
std::string DayNumberToRecord(double number);
// Year, month and day of a day number; false (nothing set) when it is not
// a day of years 1..9999.
bool SplitDayNumber(double number, int& year, int& month, int& day);

// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(const std::string& text);
// Fixed-width name entries of the current type's language, trailing blanks
// kept; blanks for an empty date.
std::string DayName(const std::string& text);
std::string MonthName(const std::string& text);
int MonthOf(const std::string& text);
int DayOf(const std::string& text);   // 0 when not a number
int YearOf(const std::string& text);  // 0 when not a number

bool IsLeapYear(int year);
// a - b * floor(a / b): never negative for b > 0. b == 0 gives 0.
int64_t FloorMod(int64_t a, int64_t b);
// Whole seconds of the monotonic clock.
int64_t SecondsCounter();

}  // namespace ov
