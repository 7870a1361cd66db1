// A whole life of an indexed table through the table component only:
// creation with three tags, 10,000 records appended and some re-keyed
// through the dataset, searches, a walk in every order against a model, a
// reopen that verifies the index, and finally the index check and Perl
// XBase walking every tag in the order the component walks it.
#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dataset/format_settings.h"
#include "dataset/ucommon.h"
#include "dataset/uovfds.h"
#include "dataset/warnings.h"
#include "engine/dbf/dbf4.h"
#include "engine/index/index_check.h"
#include "engine/support/ovutils.h"
#include "tests/dataset_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

constexpr int kRecords = 10000;
const TStrings kFields = {"name, C, 20, 0", "qty, N, 6, 0", "day, D, 8, 0"};
const TStrings kTags = {"NAME,F,F,UPPER(NAME)", "", "QTY,T,F,QTY", "", "DAY,F,F,DAY", "QTY > 5000"};

struct Rec {
  std::string name;
  int qty = 0;
  std::string day;  // MM/dd/yy
};

// Sortable form of a MM/dd/yy date of the 1980s and 1990s.
std::string DayKey(const std::string& d) { return d.substr(6, 2) + d.substr(0, 2) + d.substr(3, 2); }

class IndexLifeTest : public test::DatasetTest {
 protected:
  void SetUp() override {
    test::DatasetTest::SetUp();
    SetWarningHook([](const std::string& text) { ADD_FAILURE() << "warning: " << text; });
  }
  void TearDown() override {
    SetWarningHook(nullptr);
    test::DatasetTest::TearDown();
  }
  void Configure(TOvDbf& dbf, TCreateIndexType policy) {
    dbf.SetDbfFileName(Path("LIFE.DBF"));
    dbf.DbfFields() = kFields;
    dbf.IndexList() = kTags;
    dbf.SetCreateIndex(policy);
    dbf.OnBeforeMakeIndex = [this](const std::string&, bool&) { ++builds_; };
  }
  static void Put(TOvDbf& dbf, const Rec& r) {
    dbf.FieldByName("name")->SetAsString(r.name);
    dbf.FieldByName("qty")->SetAsInteger(r.qty);
    dbf.FieldByName("day")->SetAsString(r.day);
  }
  // The record numbers along the walk of `tag`.
  static std::vector<int32_t> Walk(TOvDbf& dbf, const std::string& tag) {
    dbf.SetIndexOrder(tag);
    std::vector<int32_t> recs;
    for (dbf.First(); !dbf.Eof(); dbf.Next()) recs.push_back(dbf.RecNo());
    return recs;
  }
  // The model's record numbers in each tag's order (names and quantities
  // are unique; equal days keep whatever order the walk has).
  std::vector<int32_t> Expected(const std::string& tag) const {
    std::vector<int32_t> recs;
    for (int32_t n = 1; n <= kRecords; ++n) {
      if (tag != "DAY" || model_[n - 1].qty > 5000) recs.push_back(n);
    }
    const auto& m = model_;
    auto by = [&](auto key) {
      std::stable_sort(recs.begin(), recs.end(), [&](int32_t a, int32_t b) { return key(m[a - 1]) < key(m[b - 1]); });
    };
    if (tag == "NAME") by([](const Rec& r) { return UpperText(r.name); });
    if (tag == "QTY") by([](const Rec& r) { return -r.qty; });
    if (tag == "DAY") by([](const Rec& r) { return DayKey(r.day); });
    return recs;
  }
  void CheckOrders(TOvDbf& dbf, std::map<std::string, std::vector<int32_t>>& walks) {
    for (const char* tag : {"NAME", "QTY", "DAY"}) {
      SCOPED_TRACE(tag);
      walks[tag] = Walk(dbf, tag);
      std::vector<int32_t> want = Expected(tag);
      if (std::string(tag) == "DAY") {
        // Equal days: compare the days along the walk and the records held.
        auto days = [&](const std::vector<int32_t>& v) {
          std::vector<std::string> d;
          for (int32_t n : v) d.push_back(DayKey(model_[n - 1].day));
          return d;
        };
        EXPECT_EQ(days(walks[tag]), days(want));
        std::vector<int32_t> got = walks[tag];
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want);
      } else {
        EXPECT_EQ(walks[tag], want);
      }
    }
  }

  std::vector<Rec> model_;
  int builds_ = 0;
};

TEST_F(IndexLifeTest, ThreeTagsTenThousandRecordsThroughTheComponent) {
  TOvDbf dbf("LIFE");
  Configure(dbf, TCreateIndexType::ciNotFound);
  dbf.Open();
  EXPECT_EQ(builds_, 1);
  char buf[32];
  for (int i = 0; i < kRecords; ++i) {
    std::snprintf(buf, sizeof buf, "%c%c%05d", "aBcDeF"[i % 6], "xYz"[(i / 7) % 3], (i * 7919) % 99991);
    Rec r{buf, (i * 7919) % 10007, ""};
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", 1 + i % 12, 1 + i % 28, 80 + (i / 12) % 20);
    r.day = buf;
    model_.push_back(r);
    dbf.Append();
    Put(dbf, r);
    dbf.Post();
  }
  // Re-key every 37th record: a new name, a quantity above all others.
  dbf.SetIndexOrder("");
  for (int32_t n = 1, k = 0; n <= kRecords; n += 37, ++k) {
    dbf.SetRecNo(n);
    Rec& r = model_[n - 1];
    r.name = "Q" + std::to_string(100000 + k);
    r.qty = 20000 + k;
    dbf.Edit();
    Put(dbf, r);
    dbf.Post();
  }
  std::map<std::string, std::vector<int32_t>> walks;
  CheckOrders(dbf, walks);

  dbf.SetIndexOrder("NAME");
  const Rec& hit = model_[41];
  EXPECT_TRUE(dbf.FindExact(UpperText(hit.name)));
  EXPECT_EQ(dbf.RecNo(), 42);
  EXPECT_TRUE(dbf.Find(UpperText(hit.name.substr(0, 4))));
  EXPECT_FALSE(dbf.FindExact(UpperText(hit.name.substr(0, 4))));
  EXPECT_FALSE(dbf.Find("ZZZ"));
  EXPECT_TRUE(dbf.Locate("name", {hit.name}, TLocateOptions{true, false}));
  EXPECT_EQ(dbf.RecNo(), 42);
  dbf.SetIndexOrder("QTY");
  EXPECT_TRUE(dbf.Locate("qty", {int64_t{20001}}, {}));
  EXPECT_EQ(dbf.RecNo(), 38);
  EXPECT_FALSE(dbf.Locate("qty", {int64_t{19999}}, {}));
  EXPECT_TRUE(dbf.Locate("name", {model_[99].name}, {}));
  EXPECT_EQ(dbf.RecNo(), 100);
  dbf.Close();

  builds_ = 0;
  Configure(dbf, TCreateIndexType::ciVerifyHeader);
  dbf.Open();
  EXPECT_EQ(builds_, 0) << "the index matches its list: no rebuild";
  CheckOrders(dbf, walks);
  Select(dbf.WorkArea());
  EXPECT_TRUE(CheckIndex().empty());
  dbf.Close();

  std::string out;
  const std::string cmd = "perl " + std::string(OV_ORACLE_DIR) + "/dump_mdx.pl " + Path("LIFE.MDX") + " " +
                          Path("LIFE.DBF") +
                          " | /usr/bin/python3 -c 'import json,sys\n"
                          "for t in json.load(sys.stdin)[\"tags\"]: print(t[\"name\"], *(t[\"recnos\"] or []))'";
  ASSERT_EQ(test::RunCommand(cmd, &out), 0) << out;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    std::istringstream ls(line);
    std::string name;
    ls >> name;
    std::vector<int32_t> recs;
    for (int32_t r = 0; ls >> r;) recs.push_back(r);
    EXPECT_EQ(recs, walks[name]) << "Perl XBase walks tag " << name << " otherwise";
    walks.erase(name);
  }
  EXPECT_TRUE(walks.empty()) << "tags Perl XBase did not list";
}

}  // namespace
}  // namespace ov
