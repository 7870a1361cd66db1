#include "engine/support/codepage.h"

namespace ov {

namespace {
#include "engine/support/codepage_tables.inc"
}  // namespace

uint8_t AnsiToOemChar(uint8_t c) { return c < 0x80 ? c : kAnsiToOemHigh[c - 0x80]; }
uint8_t OemToAnsiChar(uint8_t c) { return c < 0x80 ? c : kOemToAnsiHigh[c - 0x80]; }

void AnsiToOemBuf(char* buf, size_t n) {
  for (size_t i = 0; i < n; ++i) buf[i] = static_cast<char>(AnsiToOemChar(static_cast<uint8_t>(buf[i])));
}

void OemToAnsiBuf(char* buf, size_t n) {
  for (size_t i = 0; i < n; ++i) buf[i] = static_cast<char>(OemToAnsiChar(static_cast<uint8_t>(buf[i])));
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
