#include "engine/support/numtext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace ov {

// Fixed-point text of x with `d` decimals, rounded half away from zero on
// the shortest decimal form of x (so 2.675 shows as 2.68 and 2.5 as 3, as
// a reader of the number expects); 0 when it would be longer than `limit`.
size_t FixedDecimalText(double x, size_t d, size_t limit, char* out) {
  if (!std::isfinite(x)) return 0;
  // The shortest form of any double in fixed notation fits here.
  char digits[800];
  // Whole numbers (years, counts) skip the general conversion.
  const bool whole_number = std::fabs(x) < 1e15 && x == std::trunc(x);
  const auto res = whole_number ? std::to_chars(digits, digits + sizeof digits, static_cast<int64_t>(x))
                                : std::to_chars(digits, digits + sizeof digits, x, std::chars_format::fixed);
  if (res.ec != std::errc()) return 0;
  const std::string_view all(digits, static_cast<size_t>(res.ptr - digits));
  const bool negative = all[0] == '-';
  const std::string_view body = all.substr(negative ? 1 : 0);
  const size_t dot = std::min(body.find('.'), body.size());
  const std::string_view whole = body.substr(0, dot);
  const std::string_view frac = dot < body.size() ? body.substr(dot + 1) : std::string_view();
  // One spare place at the front for a carry.
  const size_t n = 1 + whole.size() + (d > 0 ? d + 1 : 0);
  if (n - 1 > limit) return 0;
  char buf[kMaxDecimalText + 2];
  buf[0] = '0';
  std::memcpy(buf + 1, whole.data(), whole.size());
  if (d > 0) {
    buf[1 + whole.size()] = '.';
    char* f = buf + 2 + whole.size();
    for (size_t i = 0; i < d; ++i) f[i] = i < frac.size() ? frac[i] : '0';
  }
  if (frac.size() > d && frac[d] >= '5') {
    for (size_t i = n; i-- > 0;) {
      if (buf[i] == '.') continue;
      if (buf[i] != '9') {
        ++buf[i];
        break;
      }
      buf[i] = '0';
    }
  }
  const size_t skip = buf[0] == '0' ? 1 : 0;
  const bool zero = std::string_view(buf, n).find_first_not_of("0.") == std::string_view::npos;
  // A negative value that shows as zero ("-0", "-0.00") loses its sign.
  const size_t sign = negative && !zero ? 1 : 0;
  const size_t length = sign + n - skip;
  if (length > limit) return 0;
  if (sign != 0) out[0] = '-';
  std::memcpy(out + sign, buf + skip, n - skip);
  return length;
}

std::string DecimalText(double x, int decimals) {
  char buf[kMaxDecimalText];
  const size_t n = FixedDecimalText(x, static_cast<size_t>(std::clamp(decimals, 0, 64)), sizeof buf, buf);
  return std::string(buf, n);
}

}  // namespace ov
