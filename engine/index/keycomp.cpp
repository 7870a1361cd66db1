#include "engine/index/keycomp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/expr/evaluate.h"
#include "engine/support/codepage.h"
#include "engine/support/coding.h"
#include "engine/support/ovutils.h"
#include "engine/support/timedate.h"

namespace ov {

namespace {

constexpr size_t kMaxNumberText = 50;
constexpr int kMaxDigits = 20;
constexpr uint8_t kSignBit = 0x80;

int DigitCount(const uint8_t* key) { return (key[1] >> 2) & 0x1F; }

}  // namespace

void EncodeDecimalText(std::string_view text, int decimals, uint8_t* out) {
  std::memset(out, 0, kDecimalKeyLength);
  text = text.substr(0, kMaxNumberText);
  size_t i = 0;
  auto at = [&](size_t k) { return k < text.size() ? text[k] : '\0'; };
  while (at(i) == ' ') ++i;
  if (at(i) == '+') {
    ++i;
  } else if (at(i) == '-') {
    out[1] |= kSignBit;
    ++i;
  }
  while (at(i) == ' ' || at(i) == '0') ++i;
  out[0] = 52;
  bool point = false;
  if (at(i) == '.') {
    point = true;
    ++i;
    int zeros = 0;
    while (at(i) == '0') ++zeros, ++i;
    if (i < text.size()) out[0] = static_cast<uint8_t>(out[0] - zeros);
  }
  int stored = 0, trailing = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    trailing = c == '0' ? trailing + 1 : 0;
    if (stored == kMaxDigits) break;
    const auto digit = static_cast<uint8_t>(c - '0');
    out[2 + stored / 2] |= static_cast<uint8_t>(stored % 2 == 0 ? digit << 4 : digit);
    if (!point) ++out[0];
    ++stored;
  }
  out[1] |= 1;
  int significant = stored;
  if (!(point && trailing < decimals)) {
    significant = stored - trailing;
    if (significant < 10 && stored > 0) significant = 10;
  }
  significant = std::min(significant, kMaxDigits);
  if (significant != 0)
    out[1] |= static_cast<uint8_t>(significant << 2);
  else
    out[1] &= static_cast<uint8_t>(~kSignBit);
}

void EncodeNumberKey(double x, int decimals, uint8_t* out) {
  decimals = std::clamp(decimals, 0, 18);
  // Room for the sign, the integer digits and the point with its decimals
  // in 50 characters; beyond it the value is clamped, never cut.
  const int int_digits = static_cast<int>(kMaxNumberText) - 1 - (decimals > 0 ? decimals + 1 : 0);
  if (std::isnan(x)) x = 0;
  char buf[kMaxNumberText + 8];
  if (!std::isfinite(x) || std::fabs(x) >= std::pow(10.0, int_digits)) {
    std::string t = x < 0 ? "-" : "";
    t += std::string(static_cast<size_t>(int_digits), '9');
    if (decimals > 0) t += "." + std::string(static_cast<size_t>(decimals), '9');
    EncodeDecimalText(t, decimals, out);
    return;
  }
  const int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
  EncodeDecimalText(std::string_view(buf, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buf) - 1))),
                    decimals, out);
}

int CompareDecimalKeys(const uint8_t* a, const uint8_t* b) {
  const int sa = (a[1] & kSignBit) != 0 ? -1 : 1;
  const int sb = (b[1] & kSignBit) != 0 ? -1 : 1;
  if (sa != sb) return sa;
  const int na = DigitCount(a), nb = DigitCount(b);
  const int ea = na != 0 ? a[0] : 0, eb = nb != 0 ? b[0] : 0;
  if (ea != eb) return ea < eb ? -sa : sa;
  const size_t span = std::min<size_t>((static_cast<size_t>(std::max(na, nb)) + 1) / 2, kDecimalKeyLength - 2);
  const uint8_t* x = sa < 0 ? b + 2 : a + 2;
  const uint8_t* y = sa < 0 ? a + 2 : b + 2;
  for (size_t i = 0; i < span; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

int CompareCharKeys(const uint8_t* a, const uint8_t* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (a[i] != b[i]) return static_cast<int>(a[i]) - static_cast<int>(b[i]);
  }
  return 0;
}

int CompareDateKeys(const uint8_t* a, const uint8_t* b) {
  const double x = GetLeDouble(a), y = GetLeDouble(b);
  return x == y ? 0 : x > y ? 1 : -1;
}

bool MakeKey(CompiledExpr* key_expr, const KeyFormat& f, uint8_t* out) {
  const void* r = Evaluate(key_expr);
  if (r == nullptr) return false;
  if (f.type == 'C') {
    // Only the text up to its terminator: a shorter result (TRIM, a
    // concatenation) must not carry what the pool held beyond it.
    const char* text = static_cast<const char*>(r);
    const size_t n = strnlen(text, f.length);
    std::memcpy(out, text, n);
    std::memset(out + n, ' ', f.length - n);
    AnsiToOemBuf(reinterpret_cast<char*>(out), f.length);
    return true;
  }
  const double x = *static_cast<const double*>(r);
  if (f.type == 'D')
    PutLeDouble(out, x);
  else
    EncodeNumberKey(x, key_expr->decimals, out);
  return true;
}

bool PassesFor(CompiledExpr* for_expr) {
  if (for_expr == nullptr) return true;
  const void* r = Evaluate(for_expr);
  return r != nullptr && *static_cast<const int32_t*>(r) != 0;
}

SearchKey MakeSearchKey(const std::string& text, const KeyFormat& f, bool exact) {
  SearchKey k;
  if (f.type == 'N' || f.type == 'F') {
    EncodeDecimalText(text, 0, k.bytes.data());
    k.significant = kDecimalKeyLength;
    return k;
  }
  if (f.type == 'D') {
    std::string t = text;
    k.valid = ValidDate(t);
    PutLeDouble(k.bytes.data(), k.valid ? DateToDayNumber(t) : kNoDate);
    k.significant = 8;
    return k;
  }
  std::string t = text.substr(0, kMaxSearchText);
  if (t.size() > f.length) {
    // Beyond the key only blanks can match.
    k.valid = t.find_first_not_of(' ', f.length) == std::string::npos;
    t.resize(f.length);
  }
  if (exact) t.resize(f.length, ' ');
  AnsiToOemBuf(t.data(), t.size());
  std::memcpy(k.bytes.data(), t.data(), t.size());
  k.significant = t.size();
  // Positioning in a descending tag: a partial text padded with the highest
  // byte stands before every key that begins with the text.
  if (f.descending)
    std::fill(k.bytes.begin() + static_cast<std::ptrdiff_t>(t.size()), k.bytes.begin() + f.length, 0xFF);
  return k;
}

double DecimalKeyValue(const uint8_t* key) {
  const int n = std::min(DigitCount(key), kMaxDigits);
  double v = 0;
  for (int i = 0; i < n; ++i) {
    const uint8_t byte = key[2 + i / 2];
    v = v * 10 + (i % 2 == 0 ? byte >> 4 : byte & 0x0F);
  }
  if (n == 0) return 0;
  v *= std::pow(10.0, key[0] - 52 - n);
  return (key[1] & kSignBit) != 0 ? -v : v;
}

std::string KeyText(const uint8_t* key, const KeyFormat& f, int width, int decimals) {
  switch (f.type) {
    case 'C': {
      const size_t n = strnlen(reinterpret_cast<const char*>(key), f.length);
      return std::string(reinterpret_cast<const char*>(key), n);
    }
    case 'D': return DayNumberToDate(GetLeDouble(key));
    default: return FloatToText(width, decimals, DecimalKeyValue(key));
  }
}

}  // namespace ov
