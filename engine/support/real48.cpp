#include "engine/support/real48.h"

#include <cmath>

namespace ov {

namespace {

constexpr int kBias = 129;
constexpr int kMantissaBits = 39;
constexpr uint64_t kMantissaMask = (uint64_t{1} << kMantissaBits) - 1;

void Store(uint8_t exponent, uint64_t mantissa, bool negative, uint8_t out[6]) {
  out[0] = exponent;
  for (int i = 1; i <= 5; ++i) {
    out[i] = static_cast<uint8_t>(mantissa & 0xFF);
    mantissa >>= 8;
  }
  if (negative) out[5] |= 0x80;
}

}  // namespace

void EncodeReal48(double x, uint8_t out[6]) {
  if (std::isnan(x) || x == 0.0) {
    Store(0, 0, false, out);
    return;
  }
  bool negative = std::signbit(x);
  if (std::isinf(x)) {
    Store(255, kMantissaMask, negative, out);
    return;
  }
  int exp2 = 0;
  double frac = std::frexp(std::fabs(x), &exp2);  // |x| = frac * 2^exp2, frac in [0.5, 1)
  // Exact in double: frac has 53 bits, so this only shifts them.
  double scaled = std::ldexp(2.0 * frac - 1.0, kMantissaBits);
  auto mantissa = static_cast<uint64_t>(std::nearbyint(scaled));
  int exponent = exp2 - 1 + kBias;
  if (mantissa > kMantissaMask) {  // rounded up to the next power of two
    mantissa = 0;
    ++exponent;
  }
  if (exponent < 1) {
    Store(0, 0, false, out);
  } else if (exponent > 255) {
    Store(255, kMantissaMask, negative, out);
  } else {
    Store(static_cast<uint8_t>(exponent), mantissa, negative, out);
  }
}

double DecodeReal48(const uint8_t in[6]) {
  if (in[0] == 0) return 0.0;
  uint64_t mantissa = 0;
  for (int i = 5; i >= 1; --i) mantissa = (mantissa << 8) | in[i];
  bool negative = (mantissa & (uint64_t{1} << kMantissaBits)) != 0;
  mantissa &= kMantissaMask;
  double value = std::ldexp(1.0 + std::ldexp(static_cast<double>(mantissa), -kMantissaBits), in[0] - kBias);
  return negative ? -value : value;
}

double RoundToReal48(double x) {
  uint8_t bytes[6];
  EncodeReal48(x, bytes);
  return DecodeReal48(bytes);
}

}  // namespace ov
