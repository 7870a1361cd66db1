// The 6-byte real number format of older table tools.
//
//   byte 0      exponent, biased by 129; 0 means the value is 0
//   bytes 1..5  39-bit mantissa, little-endian, without its leading 1
//   byte 5 bit 7  sign (1 = negative)
//
// value = (-1)^sign * 2^(exponent - 129) * (1 + mantissa / 2^39)
//
// The format has no infinities, NaNs or subnormals: encoding rounds the
// mantissa to nearest, flushes magnitudes below the smallest normal value
// to 0, saturates magnitudes above the largest one, and maps NaN to 0.
#pragma once

#include <cstdint>

namespace ov {

void EncodeReal48(double x, uint8_t out[6]);
double DecodeReal48(const uint8_t in[6]);
// x with the precision and range the 6-byte format can hold.
double RoundToReal48(double x);

}  // namespace ov
