// Index keys: the bytes a tag stores for a record, the rules that order
// them, search keys made from a caller's text, and keys shown as text.
//
//   type  length  stored bytes                       ascending order
//   C     1..100  OEM text, blank-padded             unsigned bytes
//   N, F  12      decimal form (below)               decimal comparison
//   D     8       day number, IEEE double, LE        numeric
// A descending tag stores the same bytes and compares with its operands
// exchanged.
//
// 12-byte decimal form:
//   byte 0      52 + digits before the point (for values below 1: minus
//               the zeros between the point and the first digit)
//   byte 1      bit 7 sign (1 negative), bits 2..6 significant digits
//               (0..20), bit 0 always 1
//   bytes 2..11 up to 20 digits, two per byte, high nibble first
//
// Character keys follow one rule wherever a key is made (building,
// maintenance, synchronising, searching): the key expression's text on the
// record as the work area presents it, cut or blank-padded to the key
// length, converted to the OEM code page. So every tag's keys are OEM
// whatever the table's language.
//
// Single-threaded; the evaluator's process-wide state is used while a key
// is made.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/expr/expr_types.h"

namespace ov {

inline constexpr size_t kDecimalKeyLength = 12;
inline constexpr size_t kMaxSearchText = 100;

// What a comparison needs to know of a tag's keys.
struct KeyFormat {
  char type = 'C';
  uint16_t length = 0;
  bool descending = false;
};

// Encodes a number written in fixed notation (at most 50 characters are
// looked at) with `decimals` decimals.
void EncodeDecimalText(std::string_view text, int decimals, uint8_t* out);
// Encodes a double with `decimals` decimals. Values the form cannot hold
// (infinities, more digits than 50 characters of text) are clamped to the
// largest magnitude it holds with their sign; NaN encodes as zero.
void EncodeNumberKey(double x, int decimals, uint8_t* out);

int CompareDecimalKeys(const uint8_t* a, const uint8_t* b);
int CompareCharKeys(const uint8_t* a, const uint8_t* b, size_t length);
int CompareDateKeys(const uint8_t* a, const uint8_t* b);
// Compares two keys of a tag in its index order (descending included).
inline int CompareKeys(const KeyFormat& f, const uint8_t* a, const uint8_t* b) {
  const uint8_t* x = f.descending ? b : a;
  const uint8_t* y = f.descending ? a : b;
  switch (f.type) {
    case 'C': return CompareCharKeys(x, y, f.length);
    case 'D': return CompareDateKeys(x, y);
    default: return CompareDecimalKeys(x, y);
  }
}

// Makes the key of the current record with a compiled key expression of
// the tag's type into `out` (key length bytes). Answers false when the
// evaluation failed (reported by the evaluator).
bool MakeKey(CompiledExpr* key_expr, const KeyFormat& f, uint8_t* out);
// Whether the current record passes a tag's FOR expression (none: true).
bool PassesFor(CompiledExpr* for_expr);

// A search key made from a caller's text.
struct SearchKey {
  std::array<uint8_t, kMaxSearchText + 1> bytes{};
  size_t significant = 0;  // leading bytes that must match
  bool valid = true;       // false: no key can match (a date text that is no date)
};
// C: the text cut to 100 characters (blank-padded to the key length in
// exact mode), converted to OEM, zero-padded; a descending tag pads a
// partial text with 0xFF so the search lands before every key that begins
// with it. N, F: the text encoded with 0 decimals. D: the text as a date
// of the current date format.
SearchKey MakeSearchKey(const std::string& text, const KeyFormat& f, bool exact);

// A key shown in messages: C its text up to the first zero byte; N and F
// the number in `width` with `decimals`; D the date text (blank for the
// empty date).
std::string KeyText(const uint8_t* key, const KeyFormat& f, int width, int decimals);
// Decodes a decimal key back into a number (for messages and checks).
double DecimalKeyValue(const uint8_t* key);

}  // namespace ov
