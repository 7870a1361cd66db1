// ASCII-only letter case, for text that is ASCII by definition (keywords,
// option words, format letters, file names on disk). Text of the user goes
// through the code page's case mapping instead (codepage.h).
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace ov {

constexpr bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string AsciiUpperText(std::string s) {
  for (char& c : s) c = AsciiUpper(c);
  return s;
}

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiUpper(x) == AsciiUpper(y); });
}

}  // namespace ov
