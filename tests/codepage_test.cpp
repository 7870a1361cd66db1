#include "engine/support/codepage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <utility>

namespace ov {
namespace {

// Every character of the upper halves that exists in both code pages:
// {ANSI byte, OEM byte}.
constexpr std::pair<uint8_t, uint8_t> kShared[] = {
    {0x83, 0x9F}, {0xA0, 0xFF}, {0xA1, 0xAD}, {0xA2, 0x9B}, {0xA3, 0x9C}, {0xA5, 0x9D},  // ƒ nbsp ¡ ¢ £ ¥
    {0xAA, 0xA6}, {0xAB, 0xAE}, {0xAC, 0xAA}, {0xB0, 0xF8}, {0xB1, 0xF1}, {0xB2, 0xFD},  // ª « ¬ ° ± ²
    {0xB5, 0xE6}, {0xB7, 0xFA}, {0xBA, 0xA7}, {0xBB, 0xAF}, {0xBC, 0xAC}, {0xBD, 0xAB},  // µ · º » ¼ ½
    {0xBF, 0xA8}, {0xC4, 0x8E}, {0xC5, 0x8F}, {0xC6, 0x92}, {0xC7, 0x80}, {0xC9, 0x90},  // ¿ Ä Å Æ Ç É
    {0xD1, 0xA5}, {0xD6, 0x99}, {0xDC, 0x9A}, {0xDF, 0xE1}, {0xE0, 0x85}, {0xE1, 0xA0},  // Ñ Ö Ü ß à á
    {0xE2, 0x83}, {0xE4, 0x84}, {0xE5, 0x86}, {0xE6, 0x91}, {0xE7, 0x87}, {0xE8, 0x8A},  // â ä å æ ç è
    {0xE9, 0x82}, {0xEA, 0x88}, {0xEB, 0x89}, {0xEC, 0x8D}, {0xED, 0xA1}, {0xEE, 0x8C},  // é ê ë ì í î
    {0xEF, 0x8B}, {0xF1, 0xA4}, {0xF2, 0x95}, {0xF3, 0xA2}, {0xF4, 0x93}, {0xF6, 0x94},  // ï ñ ò ó ô ö
    {0xF7, 0xF6}, {0xF9, 0x97}, {0xFA, 0xA3}, {0xFB, 0x96}, {0xFC, 0x81}, {0xFF, 0x98},  // ÷ ù ú û ü ÿ
};

TEST(CodepageTest, LowerHalfIsIdentity) {
  for (int c = 0; c < 0x80; ++c) {
    EXPECT_EQ(AnsiToOemChar(static_cast<uint8_t>(c)), c);
    EXPECT_EQ(OemToAnsiChar(static_cast<uint8_t>(c)), c);
  }
}

TEST(CodepageTest, SharedCharactersRoundTrip) {
  for (auto [ansi, oem] : kShared) {
    EXPECT_EQ(AnsiToOemChar(ansi), oem) << std::hex << int(ansi);
    EXPECT_EQ(OemToAnsiChar(oem), ansi) << std::hex << int(oem);
  }
}

TEST(CodepageTest, OtherCharactersNeverFakeARoundTrip) {
  std::set<int> ansi_shared, oem_shared;
  for (auto [ansi, oem] : kShared) {
    ansi_shared.insert(ansi);
    oem_shared.insert(oem);
  }
  for (int c = 0x80; c < 0x100; ++c) {
    auto b = static_cast<uint8_t>(c);
    if (!ansi_shared.count(c)) {
      EXPECT_NE(OemToAnsiChar(AnsiToOemChar(b)), b) << std::hex << c;
    }
    if (!oem_shared.count(c)) {
      EXPECT_NE(AnsiToOemChar(OemToAnsiChar(b)), b) << std::hex << c;
    }
    // A character without a counterpart lands in the lower half or on a
    // shared one, never on an unrelated character of the other page.
    uint8_t to_oem = AnsiToOemChar(b);
    EXPECT_TRUE(to_oem < 0x80 || oem_shared.count(to_oem)) << std::hex << c;
    uint8_t to_ansi = OemToAnsiChar(b);
    EXPECT_TRUE(to_ansi < 0x80 || ansi_shared.count(to_ansi)) << std::hex << c;
  }
}

TEST(CodepageTest, LookAlikesAndQuestionMarks) {
  EXPECT_EQ(AnsiToOemChar(0x8A), 'S');  // Š
  EXPECT_EQ(AnsiToOemChar(0xC3), 'A');  // Ã
  EXPECT_EQ(AnsiToOemChar(0x80), '?');  // €
  EXPECT_EQ(OemToAnsiChar(0xC4), '-');  // ─
  EXPECT_EQ(OemToAnsiChar(0xB3), '|');  // │
  EXPECT_EQ(OemToAnsiChar(0xC5), '+');  // ┼
}

TEST(CodepageTest, BufferFormsMapEveryByte) {
  char text[] = "caf\xE9 \xDF\xFF";
  AnsiToOemBuf(text, sizeof text - 1);
  EXPECT_STREQ(text, "caf\x82 \xE1\x98");
  OemToAnsiBuf(text, sizeof text - 1);
  EXPECT_STREQ(text, "caf\xE9 \xDF\xFF");
}

bool ExpectedLetter(int c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  if (c >= 0xC0) return c != 0xD7 && c != 0xF7;
  return c == 0x8A || c == 0x8C || c == 0x8E || c == 0x9A || c == 0x9C || c == 0x9E || c == 0x9F;
}

TEST(CodepageTest, LetterTest) {
  for (int c = 0; c < 0x100; ++c) EXPECT_EQ(IsAlphaAnsi(static_cast<uint8_t>(c)), ExpectedLetter(c)) << std::hex << c;
}

TEST(CodepageTest, CasePairs) {
  const std::pair<uint8_t, uint8_t> pairs[] = {{'A', 'a'},   {'Z', 'z'},   {0xC0, 0xE0}, {0xC9, 0xE9},
                                               {0xD6, 0xF6}, {0xD8, 0xF8}, {0xDE, 0xFE}, {0x8A, 0x9A},
                                               {0x8C, 0x9C}, {0x8E, 0x9E}, {0x9F, 0xFF}};
  for (auto [upper, lower] : pairs) {
    EXPECT_EQ(UpperAnsi(lower), upper) << std::hex << int(lower);
    EXPECT_EQ(LowerAnsi(upper), lower) << std::hex << int(upper);
    EXPECT_EQ(UpperAnsi(upper), upper);
    EXPECT_EQ(LowerAnsi(lower), lower);
  }
  EXPECT_EQ(UpperAnsi(0xDF), 0xDF);  // ß has no capital
  EXPECT_EQ(LowerAnsi(0xDF), 0xDF);
}

TEST(CodepageTest, NonLettersKeepTheirCase) {
  for (int c = 0; c < 0x100; ++c) {
    if (ExpectedLetter(c)) continue;
    EXPECT_EQ(UpperAnsi(static_cast<uint8_t>(c)), c) << std::hex << c;
    EXPECT_EQ(LowerAnsi(static_cast<uint8_t>(c)), c) << std::hex << c;
  }
}

}  // namespace
}  // namespace ov
