#include "dataset/field_type.h"

#include <cmath>

#include "engine/support/timedate.h"

namespace ov {

namespace {
// The engine's Julian day number of 30 December 1899.
constexpr double kJulianOf18991230 = 2415019.0;
}  // namespace

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  const double jd = YmdToDayNumber(year, month, day);
  if (jd >= 1e99 || year < 1 || year > 9999) return false;
  out = jd - kJulianOf18991230;
  return true;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
  if (!SplitDayNumber(std::floor(dt) + kJulianOf18991230, year, month, day)) year = month = day = 0;
}

}  // namespace ov
