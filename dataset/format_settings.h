// The dataset framework's format settings and its date text routines.
//
// Like a desktop framework's global format variables, the settings are
// process-wide and taken from the user's locale when first used: the short
// date format is the locale's date layout (LC_TIME) written in the format
// letters below, the decimal separator is the locale's radix (LC_NUMERIC).
// The C and POSIX locales give "MM/dd/yy", "/" and ".".
//
// Format letters: "d" day, "dd" day with 2 digits, "M" month, "MM" month
// with 2 digits, "yy" year with 2 digits, "yyyy" year with 4 digits. Every
// other character is copied as it stands (the separators). Day and month
// names are not part of this framework.
//
// Single-threaded, process-wide state.
#pragma once

#include <stdexcept>
#include <string>

#include "dataset/db_error.h"
#include "dataset/field_type.h"

namespace ov {

// The framework's conversion error (bad date text and the like).
// A text that is not a valid value; a dataset error like every other one
// that leaves the dataset layer.
class EConvertError : public EDatabaseError {
 public:
  explicit EConvertError(const std::string& text) : EDatabaseError(text) {}
};

struct TFormatSettings {
  std::string ShortDateFormat = "MM/dd/yy";
  char DateSeparator = '/';
  char DecimalSeparator = '.';
};

// The process-wide settings; read from the locale on first use.
TFormatSettings& FormatSettings();
// Reads the settings from the locale again (the LC_ALL, LC_TIME,
// LC_NUMERIC and LANG values of the platform's environment) and stores
// them. The process's own locale is not changed.
void LoadFormatSettings();
// The settings a locale name gives (an unknown or empty name: C locale).
TFormatSettings LocaleFormatSettings(const std::string& time_locale, const std::string& numeric_locale);
// A C library date layout ("%d.%m.%Y") in format letters ("dd.MM.yyyy").
std::string FrameworkDateFormat(const std::string& d_fmt);
// The first separator character of a date format, "/" when it has none.
char DateSeparatorOf(const std::string& format);

// The date part of `value` in `format`. Years outside 1..9999 print as 0.
std::string FormatDateTime(const std::string& format, TDateTime value);
// The same for a calendar date.
std::string FormatDate(const std::string& format, int year, int month, int day);
// Reads date text in the order of the short date format (day, month and
// year separated by the date separator; a missing year is this year's; a
// 2-digit year lies within 50 years of today). Raises EConvertError
// "'<text>' is not a valid date" for anything else.
TDateTime StrToDate(const std::string& text);

}  // namespace ov
