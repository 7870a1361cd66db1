// Character tables of the two code pages a table's text can be in.
//
// OEM is code page 437, ANSI is code page 1252. Bytes below 0x80 map to
// themselves; every character present in both code pages round-trips;
// the rest map to their closest look-alike, or "?" when there is none.
// Case mapping and the letter test follow code page 1252.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ov {

uint8_t AnsiToOemChar(uint8_t c);
uint8_t OemToAnsiChar(uint8_t c);
void AnsiToOemBuf(char* buf, size_t n);
void OemToAnsiBuf(char* buf, size_t n);
// OemToAnsiBuf of src into dst, n bytes; the two do not overlap.
void OemToAnsiCopy(const char* src, char* dst, size_t n);
// Whether any byte of buf lies outside ASCII (the part both code pages
// share).
bool HasHighBytes(const char* buf, size_t n);

uint8_t UpperAnsi(uint8_t c);
uint8_t LowerAnsi(uint8_t c);
bool IsAlphaAnsi(uint8_t c);

}  // namespace ov
