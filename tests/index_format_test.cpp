// Index file bytes and keys: the file header and tag table with its name
// tree, tag header geometry, the decimal key form, key comparisons and
// search keys.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/index/keycomp.h"
#include "engine/index/ovndxlow.h"
#include "tests/test_support.h"

namespace ov {
namespace {

using Key = std::vector<uint8_t>;

Key Decimal(double x, int d) {
  Key k(12);
  EncodeNumberKey(x, d, k.data());
  return k;
}

TEST(IndexKeys, DecimalFormWorkedValues) {
  struct Case {
    double x;
    int d;
    Key want;
  } cases[] = {
      {5, 0, {0x35, 0x29, 0x50, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {0, 0, {0x34, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {-1.5, 1, {0x35, 0x89, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {0.05, 2, {0x33, 0x05, 0x50, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {-0.0, 2, {0x34, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(Decimal(c.x, c.d), c.want) << c.x << " with " << c.d;
  const Key a = Decimal(100, 0), b = Decimal(100, 2);
  EXPECT_EQ(a[0], 55);
  EXPECT_EQ(b[0], 55);
  EXPECT_EQ(CompareDecimalKeys(a.data(), b.data()), 0);
}

TEST(IndexKeys, DecimalOrderFollowsTheNumbers) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<double, int>> sorted = {
      {-1e250, 0}, {-1e10, 0}, {-2, 0},  {-1.5, 1}, {-1, 0}, {-0.05, 2}, {0, 0},         {0.0001, 4}, {0.05, 2},
      {0.5, 1},    {1, 0},     {1.5, 1}, {2, 0},    {10, 0}, {100, 2},   {123456789, 0}, {1e40, 0}};
  for (size_t i = 0; i < sorted.size(); ++i) {
    for (size_t j = 0; j < sorted.size(); ++j) {
      const Key a = Decimal(sorted[i].first, sorted[i].second), b = Decimal(sorted[j].first, sorted[j].second);
      const int c = CompareDecimalKeys(a.data(), b.data());
      EXPECT_EQ(c < 0, i < j) << sorted[i].first << " vs " << sorted[j].first;
      EXPECT_EQ(c == 0, i == j) << sorted[i].first << " vs " << sorted[j].first;
    }
  }
  // What the form cannot hold is clamped with its sign; NaN is zero.
  EXPECT_EQ(Decimal(inf, 2), Decimal(1e300, 2));
  EXPECT_EQ(Decimal(-inf, 0), Decimal(-1e250, 0));
  EXPECT_EQ(Decimal(std::nan(""), 0), Decimal(0, 0));
  EXPECT_NEAR(DecimalKeyValue(Decimal(-1.5, 1).data()), -1.5, 1e-12);
  EXPECT_NEAR(DecimalKeyValue(Decimal(0.05, 2).data()), 0.05, 1e-12);
}

TEST(IndexKeys, ComparisonsAndDescendingTags) {
  const uint8_t a[] = {'A', 0x00}, b[] = {'A', 0xFF};
  EXPECT_LT(CompareCharKeys(a, b, 2), 0);
  Key d1(8), d2(8);
  PutLeDouble(d1.data(), 2451545);
  PutLeDouble(d2.data(), 2299161);
  EXPECT_GT(CompareDateKeys(d1.data(), d2.data()), 0);
  const KeyFormat up{'D', 8, false}, down{'D', 8, true};
  EXPECT_GT(CompareKeys(up, d1.data(), d2.data()), 0);
  EXPECT_LT(CompareKeys(down, d1.data(), d2.data()), 0);
}

TEST(IndexKeys, SearchKeys) {
  const KeyFormat c5{'C', 5, false}, c5down{'C', 5, true};
  SearchKey k = MakeSearchKey("AB", c5, false);
  EXPECT_EQ(k.significant, 2u);
  EXPECT_EQ(std::string(k.bytes.begin(), k.bytes.begin() + 5), std::string("AB\0\0\0", 5));
  k = MakeSearchKey("AB", c5, true);
  EXPECT_EQ(k.significant, 5u);
  EXPECT_EQ(std::string(k.bytes.begin(), k.bytes.begin() + 5), "AB   ");
  // A descending partial key stands before every key that begins with it.
  k = MakeSearchKey("AB", c5down, false);
  EXPECT_EQ(std::string(k.bytes.begin(), k.bytes.begin() + 5), std::string("AB\xFF\xFF\xFF", 5));
  EXPECT_EQ(k.significant, 2u);
  EXPECT_TRUE(MakeSearchKey("ABCDE   ", c5, false).valid);
  EXPECT_FALSE(MakeSearchKey("ABCDEF", c5, false).valid);
  EXPECT_EQ(MakeSearchKey(std::string(150, 'x'), KeyFormat{'C', 100, false}, false).significant, 100u);
  EXPECT_EQ(MakeSearchKey("\xE9", c5, false).bytes[0], 0x82);  // e acute, OEM
  k = MakeSearchKey("1.5", KeyFormat{'N', 12, false}, false);
  const Key stored = Decimal(1.5, 1);
  EXPECT_EQ(CompareDecimalKeys(k.bytes.data(), stored.data()), 0);
  EXPECT_FALSE(MakeSearchKey("13/45/99", KeyFormat{'D', 8, false}, false).valid);
  EXPECT_TRUE(MakeSearchKey("01/02/99", KeyFormat{'D', 8, false}, false).valid);
}

TEST(IndexKeys, KeyTexts) {
  Key d(8);
  PutLeDouble(d.data(), 1e100);
  EXPECT_EQ(TrimText(KeyText(d.data(), KeyFormat{'D', 8, false}, 8, 0)), "/  /");
  EXPECT_EQ(KeyText(Decimal(-1.5, 1).data(), KeyFormat{'N', 12, false}, 6, 1), "  -1.5");
  const uint8_t c[] = {'A', 'B', 0, 'X'};
  EXPECT_EQ(KeyText(c, KeyFormat{'C', 4, false}, 4, 0), "AB");
}

TEST(IndexFile, TagGeometry) {
  struct Case {
    char type;
    uint16_t length, entry, keys;
  } cases[] = {{'C', 1, 8, 126}, {'C', 10, 16, 63}, {'C', 100, 104, 9}, {'N', 12, 16, 63}, {'D', 8, 12, 84}};
  for (const Case& c : cases) {
    mdx::TagHeader t;
    t.key_type = c.type;
    t.key_length = c.length;
    t.key_expr = "K";
    const mdx::Block b = mdx::EncodeTagHeader(t);
    EXPECT_EQ(GetLe16(&b[18]), c.entry) << c.type << c.length;
    EXPECT_EQ(GetLe16(&b[14]), c.keys) << c.type << c.length;
    EXPECT_EQ(GetLe16(&b[16]), c.type == 'D' ? 1 : 0);
    EXPECT_EQ(b[8], 0x10);
    mdx::TagHeader back;
    EXPECT_TRUE(mdx::DecodeTagHeader(b.data(), back));
  }
}

TEST(IndexFile, HeaderAndNameTree) {
  mdx::MdxHeader h = mdx::MdxHeader::New("A_VERY_LONG_TABLE_NAME", LocalDate{2024, 3, 9, 0});
  const uint8_t head[] = {2, 124, 3, 9};
  EXPECT_TRUE(std::equal(head, head + 4, h.bytes.begin()));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h.bytes[4])), "A_VERY_LONG_TAB");
  EXPECT_EQ(GetLe16(&h.bytes[20]), 2);
  EXPECT_EQ(GetLe16(&h.bytes[22]), 1024);
  EXPECT_EQ(h.bytes[24], 1);
  EXPECT_EQ(h.bytes[25], 48);
  EXPECT_EQ(GetLe16(&h.bytes[26]), 32);
  EXPECT_EQ(h.bytes[44], 124);
  for (const char* name : {"name", "CITY", "AGE", "ZIP", "NAMES"}) ASSERT_TRUE(h.AddTag({8, name, 'C'}));
  // Slot links (left, right, parent) of slots 0..5.
  const int links[6][3] = {{0, 1, 0}, {2, 4, 0}, {3, 0, 1}, {0, 0, 2}, {5, 0, 1}, {0, 0, 4}};
  for (int i = 0; i <= 5; ++i) {
    const uint8_t* s = &h.bytes[512 + 32 * i];
    EXPECT_EQ(s[16], links[i][0]) << i;
    EXPECT_EQ(s[17], links[i][1]) << i;
    EXPECT_EQ(s[18], links[i][2]) << i;
    EXPECT_EQ(s[19], i > 0 ? 2 : 0);
  }
  EXPECT_EQ(h.slot(1).name, "NAME");
  EXPECT_EQ(h.FindTag("names"), 5);
  EXPECT_EQ(h.FindTag("NAM"), 0);  // equal names only, never a prefix
  h.RemoveTag(1);
  EXPECT_EQ(h.tag_count(), 4);
  EXPECT_EQ(h.slot(1).name, "NAMES");
}

TEST(IndexFile, FortySevenTagsFillTheTable) {
  mdx::MdxHeader h = mdx::MdxHeader::New("T", LocalDate{2024, 1, 1, 0});
  for (int i = 1; i <= 47; ++i) ASSERT_TRUE(h.AddTag({static_cast<uint32_t>(4 + 2 * i), "T" + std::to_string(i), 'N'}));
  EXPECT_FALSE(h.AddTag({200, "T48", 'N'}));
  EXPECT_EQ(h.tag_count(), 47);
  EXPECT_EQ(h.bytes[2047 - 31 + 20], 'N');  // the 47th slot ends at byte 2047
  EXPECT_EQ(mdx::NextBlock(2048), 4u);
  EXPECT_EQ(mdx::NextBlock(3072 + 100), 8u);  // a partial block is never overlapped
}

}  // namespace
}  // namespace ov
