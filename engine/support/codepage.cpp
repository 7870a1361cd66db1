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

// ASCII is the same in both code pages: runs of eight ASCII bytes, most of
// every record, are passed over whole.
template <uint8_t (*Map)(uint8_t)>
void MapBuf(char* buf, size_t n) {
  constexpr uint64_t kHighBits = 0x8080808080808080ULL;
  for (size_t i = 0; i < n;) {
    uint64_t eight = kHighBits;
    if (n - i >= 8) std::memcpy(&eight, buf + i, 8);
    if ((eight & kHighBits) == 0) {
      i += 8;
      continue;
    }
    for (const size_t end = std::min(n, i + 8); i < end; ++i) {
      buf[i] = static_cast<char>(Map(static_cast<uint8_t>(buf[i])));
    }
  }
}

}  // namespace

void AnsiToOemBuf(char* buf, size_t n) { MapBuf<AnsiToOemChar>(buf, n); }

void OemToAnsiBuf(char* buf, size_t n) { MapBuf<OemToAnsiChar>(buf, n); }

bool HasHighBytes(const char* buf, size_t n) {
  constexpr uint64_t kHighBits = 0x8080808080808080ULL;
  size_t i = 0;
  for (uint64_t eight = 0; i + 8 <= n; i += 8) {
    std::memcpy(&eight, buf + i, 8);
    if ((eight & kHighBits) != 0) return true;
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
