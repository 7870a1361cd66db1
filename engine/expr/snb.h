// String and number helpers of the expression evaluator.
//
// Everything here works on caller-supplied fixed buffers and allocates
// nothing, because the evaluator runs once per record: number text to and
// from doubles without the locale ("." is always the decimal point),
// truncation that never overflows, the cutting ROUND, SOUNDEX, and the
// record form of dates (YYYYMMDD) without going through strings.
//
// Single-threaded, process-wide state: the case tables are built once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ov {

// Longest string value of an expression; scratch areas hold this plus NUL.
inline constexpr size_t kMaxExprText = 255;
inline constexpr size_t kExprScratch = kMaxExprText + 1;

// Number text -> double: leading blanks, an optional sign, then the
// longest prefix that reads as a decimal number ("12abc" is 12, ".5" is
// 0.5); anything else, or a value out of range, is 0.
double TextToNumber(std::string_view text);

// Integer part of x, clamped to +-9e18 so that every later integer
// operation is defined; NaN gives 0.
int64_t TruncToInt(double x);

// A count argument (LEFT, SPACE, ...) as 0..kMaxExprText: trunc(x),
// negative as 0, anything beyond the string limit as the limit.
size_t CountArg(double x);

// ROUND: x cut (not rounded) to trunc(d) decimals; d < 1 gives trunc(x).
double CutDecimals(double x, double d);

// STR: x right-aligned in `width` characters with `decimals` decimals and
// "." as decimal point; w asterisks when it does not fit (and for values
// that are not finite). Writes at most kMaxExprText characters to `out`
// (no NUL) and answers the length.
size_t FormatNumber(double x, double width, double decimals, char* out);

// The 4-character SOUNDEX code of `text` into out[0..3].
void Soundex(std::string_view text, char* out);

// Day number of a date field's record text; 8 digits take a fast path,
// every other text goes through the date unit's own conversion.
double RecordTextToDayNumber(std::string_view record);
// YYYYMMDD of a day number into out[0..7]; 8 blanks outside years
// 1..9999.
void DayNumberToRecordText(double day_number, char* out);

// Case mapping of the system code page: 256-entry tables indexed by the
// unsigned character code, and single characters through them.
const char* UpperCaseMap();
const char* LowerCaseMap();
inline char UpperCase(char c) { return UpperCaseMap()[static_cast<unsigned char>(c)]; }
inline char LowerCase(char c) { return LowerCaseMap()[static_cast<unsigned char>(c)]; }

}  // namespace ov
