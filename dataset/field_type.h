// Field kinds of the dataset framework and its date-time representation.
//
// A date-time is a double counting days since 30 December 1899 (the
// fraction is the time of day). Field buffers carry dates in a native form:
// a date as a day number counted from 1 January of year 1 (= day 1), a time
// as milliseconds of the day, a date-time as milliseconds since day 0.
#pragma once

#include <cstdint>

namespace ov {

enum class TFieldType : uint8_t {
  ftUnknown,
  ftString,
  ftInteger,
  ftFloat,
  ftBoolean,
  ftDate,
  ftTime,
  ftDateTime,
  ftMemo,
};

using TDateTime = double;

// Days from 1 January of year 1 (day 1) to 30 December 1899.
inline constexpr int32_t kDateDelta = 693594;
inline constexpr double kMsPerDay = 86400000.0;

// Calendar date to a date-time (time 0); false for an impossible date.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
// Date-time to its calendar date (the time part is ignored).
void DecodeDate(TDateTime dt, int& year, int& month, int& day);

}  // namespace ov
