// Calendar dates: the process-wide date settings, the text forms of a date
// and the conversions between them.
#pragma once

namespace ov {

// Reads the user's language and sets DateType, DecimalPoint,
// ThousandsSeparator and EpochYear (current year - 70).
void InitDateSettings();

}  // namespace ov
