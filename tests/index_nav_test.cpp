// Ordered navigation and Find over indexes built here: every tag walked both
// ways against a sorted model of its keys, the Find and order-selection
// edge cases, and damaged trees that must be reported, never walked.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/index/ovndx.h"
#include "engine/index/umakemdx.h"
#include "engine/support/coding.h"
#include "tests/test_support.h"

namespace ov {
namespace {

struct Row {
  std::string name;
  double amount;
  bool deleted;
};

class IndexNavTest : public test::EngineTest {
 protected:
  // A table of `rows`, then an index with the given tags, opened.
  void Make(const std::vector<Row>& rows, const std::vector<TagDef>& tags) {
    DbfFile dbf;
    CreateDbf(dbf, Path("t.dbf"), std::vector<FieldDef>{{"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 8, 2}});
    CloseDbf(dbf);
    USE(Path("t.dbf") + " EXCLUSIVE");
    for (const Row& r : rows) {
      ClearRecord();
      SetFieldText(1, r.name);
      SetFieldNumber(2, r.amount);
      Append();
      if (r.deleted) DeleteRec();
    }
    ASSERT_TRUE(MakeMdx(tags, "", true));
    ASSERT_TRUE(SetIndexTo(""));
  }

  std::string MdxPath() const { return IndexFileName(Path("t.dbf"), ""); }

  // Record numbers from GoTop to the end (or GoBottom to the start).
  std::vector<int32_t> Walk(bool forward) {
    std::vector<int32_t> out;
    forward ? GoTop() : GoBottom();
    while (!(forward ? dEOF() : dBOF()) && RecNo() >= 1 && RecNo() <= RecCount()) {
      out.push_back(RecNo());
      if (out.size() > 100000) break;
      SKIP(forward ? 1 : -1);
    }
    return out;
  }
};

std::vector<Row> RandomRows(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<Row> rows;
  for (size_t i = 0; i < n; ++i) {
    std::string name = "K" + std::to_string(rng() % (n / 3 + 1));  // many equal keys
    rows.push_back({name, (static_cast<int>(rng() % 20001) - 10000) / 100.0, rng() % 9 == 0});
  }
  return rows;
}

// GoTop + SKIP and GoBottom + SKIP(-1) in every tag give the model's order:
// keys sorted (descending tags reversed), equal keys by record number,
// deleted records hidden, FOR records only. Trees of height 3 included.
TEST_F(IndexNavTest, EveryTagWalksInKeyOrderBothWays) {
  const std::vector<Row> rows = RandomRows(3000, 11);
  Make(rows, {{"NAME", "NAME", "", false, false},
              {"AMOUNT", "AMOUNT", "", false, false},
              {"DNAME", "NAME", "", true, false},
              {"POS", "NAME", "AMOUNT > 0", false, false},
              {"UNAME", "UPPER(NAME)", "", false, true}});
  SetIgnoreDel(true);
  struct Expect {
    int order;
    std::function<bool(size_t, size_t)> less;  // on 0-based rows
    std::function<bool(size_t)> in;
    bool unique;
  };
  auto name_less = [&](size_t a, size_t b) { return std::tie(rows[a].name, a) < std::tie(rows[b].name, b); };
  const std::vector<Expect> expects = {
      {1, name_less, [](size_t) { return true; }, false},
      {2, [&](size_t a, size_t b) { return std::tie(rows[a].amount, a) < std::tie(rows[b].amount, b); },
       [](size_t) { return true; }, false},
      {3, [&](size_t a, size_t b) { return rows[a].name != rows[b].name ? rows[a].name > rows[b].name : a < b; },
       [](size_t) { return true; }, false},
      {4, name_less, [&](size_t i) { return rows[i].amount > 0; }, false},
      {5, name_less, [](size_t) { return true; }, true},
  };
  for (const Expect& e : expects) {
    Set_Order_To(e.order);
    std::vector<size_t> model;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (e.in(i)) model.push_back(i);
    }
    std::sort(model.begin(), model.end(), e.less);
    if (e.unique) {
      model.erase(
          std::unique(model.begin(), model.end(), [&](size_t a, size_t b) { return rows[a].name == rows[b].name; }),
          model.end());
    }
    std::vector<int32_t> want;
    for (size_t i : model) {
      if (!rows[i].deleted) want.push_back(static_cast<int32_t>(i + 1));
    }
    EXPECT_EQ(Walk(true), want) << "order " << e.order;
    std::reverse(want.begin(), want.end());
    EXPECT_EQ(Walk(false), want) << "order " << e.order;
  }
  // Natural order with the tags still open: record numbers, ends included.
  Set_Order_To(0);
  std::vector<int32_t> natural;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (!rows[i].deleted) natural.push_back(static_cast<int32_t>(i + 1));
  }
  EXPECT_EQ(Walk(true), natural);
  EXPECT_TRUE(dEOF());
}

TEST_F(IndexNavTest, FindAndOrderSelection) {
  Make({{"ALPHA", 1, false}, {"BETA", 2, true}, {"BETA", 3, false}, {"GAMMA", 4, false}, {"BETAMAX", 5, false}},
       {{"NAME", "NAME", "", false, false}, {"AMOUNT", "AMOUNT", "", false, false}});
  SetIgnoreDel(true);
  EXPECT_EQ(CurrentOrder(), 1);
  GO(4);
  EXPECT_FALSE(Find(""));  // nothing sought, nothing moved
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(Find("BETA"));  // record 2 is deleted: the first visible BETA
  EXPECT_EQ(RecNo(), 3);
  SKIP(1);
  EXPECT_EQ(RecNo(), 5);  // BETAMAX follows in key order
  EXPECT_TRUE(Find("BET"));
  EXPECT_FALSE(FindExact("BET"));
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), RecCount() + 1);
  EXPECT_FALSE(Find("ZULU"));  // above every key
  EXPECT_TRUE(dEOF());
  Dbf4RawGo(1);  // moved without the index: the next step starts from there
  SKIP(1);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(FindExact("GAMMA"));
  SKIP(1);  // the last key: next runs off the end and stays there
  EXPECT_TRUE(dEOF());
  Set_Order_To(0);
  EXPECT_EQ(CurrentOrder(), 0);
  EXPECT_THROW(Find("BETA"), EOrvelError);
  EXPECT_EQ(Errors().DbfError, err::kInternal);
  Set_Order_To(2);
  EXPECT_EQ(CurrentOrder(), 2);
  EXPECT_TRUE(Find("4"));
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(SetOrderToTag("na"));
  EXPECT_EQ(CurrentTagName(), "NAME");
  EXPECT_THROW(Set_Order_To(-1), EOrvelError);
  EXPECT_EQ(Errors().DbfError, err::kBadParameter);
  EXPECT_THROW(Set_Order_To(3), EOrvelError);
  EXPECT_THROW(SetOrderToTag("ZZ"), EOrvelError);
  EXPECT_EQ(IndexTagList(""), (std::vector<std::string>{"NAME,F,F,NAME", "", "AMOUNT,F,F,AMOUNT", ""}));
}

// Many short walks, each started by a Find, are each one walk: the guard
// against trees that lead round in circles counts steps per walk.
TEST_F(IndexNavTest, ManyWalksFromFindAreEachBoundedAlone) {
  Make(RandomRows(10, 5), {{"NAME", "NAME", "", false, false}});
  for (int walk = 0; walk < 30; ++walk) {
    ASSERT_TRUE(Find("K"));
    int steps = 0;
    for (; !dEOF(); SKIP(1)) ++steps;
    ASSERT_EQ(steps, 10) << "walk " << walk;
  }
}

TEST_F(IndexNavTest, EmptyTableAndNoIndex) {
  Make({}, {{"NAME", "NAME", "", false, false}});
  GoTop();
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(dBOF());
  EXPECT_FALSE(Find("A"));
  CloseIndexes();
  EXPECT_EQ(CurrentOrder(), 0);
  EXPECT_THROW(Set_Order_To(1), EOrvelError);
  EXPECT_EQ(Errors().DbfError, err::kIndexNotOpen);
  EXPECT_THROW(SetIndexTo("absent"), EOrvelError);
  EXPECT_EQ(Errors().DbfError, err::kFileNotFound);
}

// Damaged nodes are reported (222, or 254 for a child pointer of 0), never
// walked for ever; a file cut short does not open.
TEST_F(IndexNavTest, DamagedTreesAreReported) {
  const std::vector<Row> rows = RandomRows(400, 3);
  struct Damage {
    const char* name;
    uint32_t value;  // written over the root's first child pointer (or count)
    bool count;
  };
  const Damage damages[] = {{"count beyond the block", 0xFFFF, true},
                            {"child 0", 0, false},
                            {"child past the file", 0x7FFFFFF0, false},
                            {"cycle", 0, false}};
  for (const Damage& d : damages) {
    Make(rows, {{"NAME", "NAME", "", false, false}});
    CloseIndexes();
    CloseArea();
    std::vector<uint8_t> mdx = test::ReadAll(MdxPath());
    ASSERT_GT(mdx.size(), 4096u);
    const uint32_t header_block = GetLe32(&mdx[512 + 32]);
    ASSERT_LT(header_block * 512 + 4, mdx.size());
    const uint32_t root = GetLe32(&mdx[header_block * 512]);
    ASSERT_LT(root * 512 + 1024, mdx.size() + 1);
    uint8_t* node = &mdx[root * 512];
    const std::string name = d.name;
    if (d.count) {
      PutLe16(node, static_cast<uint16_t>(d.value));
    } else {
      PutLe32(node + 8, name == "cycle" ? root : d.value);
    }
    test::WriteAll(MdxPath(), mdx);
    USE(Path("t.dbf") + " EXCLUSIVE");
    EXPECT_THROW(SetIndexTo(""), EOrvelError) << d.name;
    EXPECT_NE(Errors().DbfError, 0) << d.name;
    EXPECT_EQ(CurrentOrder(), 0) << d.name;  // not left open
    CloseArea();
  }
  std::vector<uint8_t> mdx = test::ReadAll(MdxPath());
  mdx.resize(3000);
  test::WriteAll(MdxPath(), mdx);
  USE(Path("t.dbf") + " EXCLUSIVE");
  EXPECT_THROW(SetIndexTo(""), EOrvelError);
  EXPECT_EQ(Errors().DbfError, err::kBadIndex);
}

}  // namespace
}  // namespace ov
