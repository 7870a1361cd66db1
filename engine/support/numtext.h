// Decimal text of numbers, shared by every writer of numbers (field values
// and the expression language's STR), so one value always prints the same
// way: rounded half away from zero on the shortest decimal form of the
// double, "." as decimal point whatever the locale, and no "-0".
#pragma once

#include <cstddef>
#include <string>

namespace ov {

inline constexpr size_t kMaxDecimalText = 255;

// Writes x with `decimals` decimals to `out` (at most `limit` characters,
// limit <= kMaxDecimalText) and answers the length; 0 when it is longer
// than `limit` or x is not finite. Allocates nothing.
size_t FixedDecimalText(double x, size_t decimals, size_t limit, char* out);

// The same as a string; empty when longer than kMaxDecimalText.
std::string DecimalText(double x, int decimals);

}  // namespace ov
