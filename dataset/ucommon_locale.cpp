// The dataset layer's locale set-up and the date rules of date fields.
#include <cctype>

#include "dataset/dataset_state.h"
#include "dataset/format_settings.h"
#include "dataset/ucommon.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/timedate.h"

namespace ov {

namespace {

constexpr size_t kLogicalWordMax = 20;

bool HasCenturyYear(const std::string& format) { return UpperText(format).find("YYYY") != std::string::npos; }

// The engine's date type that reads text laid out like `format`.
int DateTypeFor(const std::string& format, char separator) {
  const char first = format.empty() ? '\0' : format[0];
  if (first == 'D' || first == 'd') return separator == '-' ? 3 : separator == '.' ? 5 : 2;
  if (first == 'Y' || first == 'y') return 1;
  return 0;
}

}  // namespace

LogicalWords& LogicalTexts() { return DatasetGlobals().logical_words; }

void DatasetLocaleSetup() {
  LogicalWords& w = LogicalTexts();
  w.Yes = OemToStr("yes").substr(0, kLogicalWordMax);
  w.No = OemToStr("no").substr(0, kLogicalWordMax);
  w.True = std::string("True").substr(0, kLogicalWordMax);
  w.False = std::string("False").substr(0, kLogicalWordMax);
  const TFormatSettings& fs = FormatSettings();
  DateSettings& d = Engine().dates;
  d.CenturyOn = HasCenturyYear(fs.ShortDateFormat);
  d.DateType = static_cast<uint8_t>(DateTypeFor(fs.ShortDateFormat, fs.DateSeparator));
  d.DecimalPoint = fs.DecimalSeparator;
  // The engine keeps its own record of the framework's date format.
  d.ShortDateFormat = fs.ShortDateFormat;
  d.DateSeparator = fs.DateSeparator;
}

std::string DateFieldDisplayText(const std::string& framework_text) {
  std::string text = framework_text.substr(0, 10);
  return ValidDate(text) ? text : framework_text;
}

bool DateFieldTextToValue(const std::string& text, TDateTime& out) {
  const std::string t = RightTrim(text).substr(0, 10);
  // Blank text and the empty template (as an edit mask leaves it) clear.
  if (TrimText(t).empty() || t == RightTrim(DateTemplate(Engine().dates.DateType))) return false;
  std::string probe = t;
  // Four-digit years: the check would otherwise cut a typed century away
  // when the display shows two digits, and the year would land in the
  // epoch window instead.
  CenturyForced full;
  if (ValidDate(probe)) {
    const double jd = DateToDayNumber(probe);
    if (jd < kNoDate) {
      out = jd - kJulianOfDateTimeZero;
      return true;
    }
    // Valid without a day: an empty date in another layout ("  /  /").
    return false;
  }
  out = StrToDate(text);
  return true;
}

}  // namespace ov
