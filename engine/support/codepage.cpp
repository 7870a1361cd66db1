#include "engine/support/codepage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace ov {

namespace {
#include "engine/support/codepage_tables.inc"
}  // namespace

uint8_t AnsiToOemChar(uint8_t c) { return c < 0x80 ? c : kAnsiToOemHigh[c - 0x80]; }
uint8_t OemToAnsiChar(uint8_t c) { return c < 0x80 ? c : kOemToAnsiHigh[c - 0x80]; }

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ULL;
constexpr size_t kBlock = 32;

// Whether the 32 bytes at p are all ASCII.
bool AsciiBlock(const char* p) {
  uint64_t w[4];
  std::memcpy(w, p, sizeof w);
  return ((w[0] | w[1] | w[2] | w[3]) & kHighBits) == 0;
}

// Maps n bytes of src into dst (which may be src). ASCII is the same in
// both code pages: blocks of it, most of every record, are copied whole.
template <uint8_t (*Map)(uint8_t)>
void MapCopy(const char* src, char* dst, size_t n) {
  size_t i = 0;
  while (n - i >= kBlock && AsciiBlock(src + i)) {
    if (dst != src) std::memcpy(dst + i, src + i, kBlock);
    i += kBlock;
  }
  for (; n - i >= 8; i += 8) {
    uint64_t eight = 0;
    std::memcpy(&eight, src + i, 8);
    if ((eight & kHighBits) == 0) {
      if (dst != src) std::memcpy(dst + i, &eight, 8);
      continue;
    }
    for (size_t k = i; k < i + 8; ++k) dst[k] = static_cast<char>(Map(static_cast<uint8_t>(src[k])));
  }
  for (; i < n; ++i) dst[i] = static_cast<char>(Map(static_cast<uint8_t>(src[i])));
}

}  // namespace

void AnsiToOemBuf(char* buf, size_t n) { MapCopy<AnsiToOemChar>(buf, buf, n); }

void OemToAnsiBuf(char* buf, size_t n) { MapCopy<OemToAnsiChar>(buf, buf, n); }

void OemToAnsiCopy(const char* src, char* dst, size_t n) { MapCopy<OemToAnsiChar>(src, dst, n); }

bool HasHighBytes(const char* buf, size_t n) {
  size_t i = 0;
  for (; i + kBlock <= n; i += kBlock) {
    if (!AsciiBlock(buf + i)) return true;
  }
  for (uint64_t eight = 0; i + 8 <= n; i += 8) {
    std::memcpy(&eight, buf + i, 8);
    if ((eight & kHighBits) != 0) return true;
  }
  if (i < n && n >= 8) {
    // The last bytes as the last eight, read again in part.
    uint64_t eight = 0;
    std::memcpy(&eight, buf + n - 8, 8);
    return (eight & kHighBits) != 0;
  }
  return std::any_of(buf + i, buf + n, [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Code page 1252 letters: ASCII, Latin-1 0xC0..0xFE except the two
// operators, and the letter pairs Š/š, Œ/œ, Ž/ž, Ÿ/ÿ. ß has no capital.
bool IsAlphaAnsi(uint8_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  if (c >= 0xC0 && c != 0xD7 && c != 0xF7) return true;
  return c == 0x8A || c == 0x9A || c == 0x8C || c == 0x9C || c == 0x8E || c == 0x9E || c == 0x9F;
}

uint8_t UpperAnsi(uint8_t c) {
  if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<uint8_t>(c - 32);
  switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
  }
}

uint8_t LowerAnsi(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<uint8_t>(c + 32);
  switch (c) {
    case 0x8A: return 0x9A;
    case 0x8C: return 0x9C;
    case 0x8E: return 0x9E;
    case 0x9F: return 0xFF;
    default: return c;
  }
}

}  // namespace ov
