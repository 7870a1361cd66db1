// The table component's production index: CreateIndex and IndexList at
// open, the header flag, the make-index events and progress, leftover
// semaphore files, damaged and missing index files, and Find, FindExact,
// Locate and the walking order through the component.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dataset/db_error.h"
#include "dataset/format_settings.h"
#include "dataset/ucommon.h"
#include "dataset/uovfds.h"
#include "dataset/warnings.h"
#include "engine/dbf/dbf4.h"
#include "engine/index/index_semaphore.h"
#include "engine/support/engine_state.h"
#include "engine/support/platform.h"
#include "tests/dataset_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

namespace fs = std::filesystem;
using CI = TCreateIndexType;

const TStrings kFields = {"title, C, 20, 0", "year, N, 4, 0"};
const TStrings kTags = {"TITLE,F,F,UPPER(TITLE)", "", "YEAR,T,F,YEAR", "YEAR > 2002"};
const std::vector<std::string> kTitles = {"delta", "Alpha", "charlie", "Bravo", "alpha"};

class IndexPolicyTest : public test::DatasetTest {
 protected:
  void SetUp() override {
    test::DatasetTest::SetUp();
    SetWarningHook([this](const std::string& text) { warnings_.push_back(text); });
    path_ = Path("movie.dbf");
    EXPECT_TRUE(CreateTableFromFields("t", path_, &kFields));
    Select(33);
    USE(path_ + " EXCLUSIVE");
    for (size_t i = 0; i < kTitles.size(); ++i) {
      ClearRecord();
      SetFieldText(1, kTitles[i]);
      SetFieldNumber(2, 2001 + static_cast<double>(i));
      Append();
    }
    CloseArea();
    Select(1);
  }
  void TearDown() override {
    Engine().ui.ProgressOpen = nullptr;
    Engine().ui.ProgressStep = nullptr;
    Engine().ui.ProgressClose = nullptr;
    SetWarningHook(nullptr);
    test::DatasetTest::TearDown();
  }
  // Opens `dbf` on the table with `tags` and `policy`, counting builds.
  void Open(TOvDbf& dbf, const TStrings& tags, CI policy = CI::ciNotFound) {
    dbf.SetDbfFileName(path_);
    dbf.IndexList() = tags;
    dbf.SetCreateIndex(policy);
    dbf.OnBeforeMakeIndex = [this](const std::string& name, bool& can_make) {
      ++builds_;
      made_name_ = name;
      can_make = can_make_;
    };
    dbf.Open();
  }
  std::string Mdx() const { return Path("movie.MDX"); }
  uint8_t Byte28() const { return test::ReadAll(path_)[28]; }
  void PokeByte28(uint8_t value) {
    std::vector<uint8_t> b = test::ReadAll(path_);
    b[28] = value;
    test::WriteAll(path_, b);
  }
  static std::vector<std::string> Titles(TDataSet& ds) {
    std::vector<std::string> out;
    for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName("title")->AsString());
    return out;
  }
  static std::string Title(TDataSet& ds) { return ds.FieldByName("title")->AsString(); }

  std::string path_;
  int builds_ = 0;
  bool can_make_ = true;
  std::string made_name_;
  std::vector<std::string> warnings_;
};

// ---- Set-up at open ----

TEST_F(IndexPolicyTest, NoTagsAndNoFlagOpenNothing) {
  TOvDbf dbf("D");
  Open(dbf, {});
  EXPECT_FALSE(fs::exists(Mdx()));
  EXPECT_EQ(dbf.IndexOrder(), "");
  EXPECT_TRUE(dbf.IsSequenced());
  EXPECT_EQ(builds_, 0);
}

TEST_F(IndexPolicyTest, BuildSetsOnlyTheFlagBitShowsProgressAndTellsTheEvents) {
  PokeByte28(0x02);  // another bit of the byte (the memo bit of 0x30 tables)
  std::vector<std::string> progress;
  int steps = 0;
  Engine().ui.ProgressOpen = [&](const std::string& caption) { progress.push_back(caption); };
  Engine().ui.ProgressStep = [&] { ++steps; };
  Engine().ui.ProgressClose = [&] { progress.push_back("closed"); };
  std::string after;
  TOvDbf dbf("D");
  dbf.OnAfterMakeIndex = [&](const std::string& name) { after = name; };
  Open(dbf, kTags);
  EXPECT_EQ(builds_, 1);
  EXPECT_EQ(made_name_, ForceExt(path_, "MDX"));
  EXPECT_EQ(after, made_name_);
  EXPECT_EQ(progress, (std::vector<std::string>{"Indexing " + made_name_ + "...", "closed"}));
  EXPECT_GT(steps, 0);
  EXPECT_EQ(Byte28(), 0x03) << "the flag reaches the disk and the other bits stay";
  EXPECT_EQ(dbf.IndexOrder(), "TITLE");
  EXPECT_FALSE(dbf.IsSequenced());
  EXPECT_EQ(Titles(dbf), (std::vector<std::string>{"Alpha", "alpha", "Bravo", "charlie", "delta"}));
  dbf.Close();
  dbf.SetShowProgress(false);
  dbf.SetCreateIndex(CI::ciAlways);
  progress.clear();
  dbf.Open();
  EXPECT_EQ(builds_, 2);
  EXPECT_TRUE(progress.empty()) << "ShowProgress off";
}

TEST_F(IndexPolicyTest, PolicyDecidesWhetherAnExistingIndexIsRebuilt) {
  const TStrings lower = {"title,f,f,upper(title)", "", "year,t,f,year", "year > 2002"};
  const TStrings other = {"TITLE,F,F,TITLE", "", "YEAR,T,F,YEAR", "YEAR > 2002"};
  struct Case {
    const char* name;
    CI policy;
    const TStrings& tags;
    int builds;
  } cases[] = {
      {"not found: opened as it is", CI::ciNotFound, other, 0},
      {"verify, letter case only", CI::ciVerifyHeader, lower, 0},
      {"verify, another key", CI::ciVerifyHeader, other, 1},
      {"always", CI::ciAlways, kTags, 1},
      {"never", CI::ciNever, other, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      TOvDbf first("D");
      Open(first, kTags);
    }
    builds_ = 0;
    TOvDbf dbf("D");
    Open(dbf, c.tags, c.policy);
    EXPECT_EQ(builds_, c.builds);
    EXPECT_TRUE(dbf.CanModify());
  }
}

TEST_F(IndexPolicyTest, DeclinedBuildClearsTheFlagAndFlagAloneOpensTheIndex) {
  {
    TOvDbf dbf("D");
    Open(dbf, kTags);
  }
  ASSERT_EQ(Byte28() & 1, 1);
  builds_ = 0;
  {
    TOvDbf dbf("D");  // no IndexList: the flag opens the index as it is
    Open(dbf, {}, CI::ciAlways);
    EXPECT_EQ(builds_, 0);
    EXPECT_EQ(dbf.IndexOrder(), "TITLE");
  }
  fs::remove(Mdx());
  can_make_ = false;
  TOvDbf dbf("D");
  Open(dbf, kTags);
  EXPECT_EQ(builds_, 1);  // asked, declined
  EXPECT_FALSE(fs::exists(Mdx()));
  EXPECT_EQ(Byte28() & 1, 0);
  EXPECT_EQ(dbf.IndexOrder(), "");
}

TEST_F(IndexPolicyTest, DamagedOrMissingIndexIsRebuiltOrRefusedByPolicy) {
  struct Case {
    const char* name;
    CI policy;
    bool missing;  // else damaged
    bool rebuilt;  // else the open fails with the engine's error
  } cases[] = {
      {"not found, damaged", CI::ciNotFound, false, true},  {"not found, missing", CI::ciNotFound, true, true},
      {"verify, damaged", CI::ciVerifyHeader, false, true}, {"always, damaged", CI::ciAlways, false, true},
      {"never, damaged", CI::ciNever, false, false},        {"never, missing", CI::ciNever, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      TOvDbf first("D");
      Open(first, kTags);
    }
    if (c.missing) {
      fs::remove(Mdx());
    } else {
      std::vector<uint8_t> bytes = test::ReadAll(Mdx());
      std::fill(bytes.begin() + 512, bytes.end(), uint8_t{0xEE});
      test::WriteAll(Mdx(), bytes);
    }
    builds_ = 0;
    TOvDbf dbf("D");
    if (c.rebuilt) {
      Open(dbf, kTags, c.policy);
      EXPECT_EQ(builds_, 1);
      EXPECT_EQ(Titles(dbf).front(), "Alpha");
    } else {
      EXPECT_THROW(Open(dbf, kTags, c.policy), EDatabaseError);
      EXPECT_FALSE(dbf.Active());
    }
  }
}

TEST_F(IndexPolicyTest, LeftoverSemaphoreIsErasedButNeverRebuiltUnderAnotherProgram) {
  {
    TOvDbf dbf("D");
    Open(dbf, kTags);
  }
  const std::string sema = SemaphoreFileName(path_);
  test::WriteAll(sema, {1, 0, 0, 0});
  {
    TOvDbf dbf("D");
    Open(dbf, kTags, CI::ciAlways);
    dbf.Close();
    EXPECT_EQ(builds_, 2);
  }
  test::ChildHolder other([&] {
    static std::unique_ptr<TOvDbf> keep;  // held until the child is released
    keep = std::make_unique<TOvDbf>("O");
    keep->SetDbfFileName(path_);
    keep->IndexList() = kTags;
    keep->Open();
    return keep->Active();
  });
  ASSERT_TRUE(other.ready());
  builds_ = 0;
  TOvDbf dbf("D");
  Open(dbf, kTags, CI::ciAlways);
  EXPECT_EQ(builds_, 0);
  EXPECT_TRUE(fs::exists(sema));
}

}  // namespace
}  // namespace ov

namespace ov {
namespace {

TEST_F(IndexPolicyTest, IndexHeldByAnotherProgramLeavesTheTableReadOnly) {
  {
    TOvDbf dbf("D");
    Open(dbf, kTags);
  }
  test::ChildHolder other([&] {
    static std::unique_ptr<File> held;
    return CurrentEnv()->Open(ResolveName(Mdx()), fmode::kReadWrite | fmode::kDenyAll, Disposition::kOpenExisting,
                              held) == 0;
  });
  ASSERT_TRUE(other.ready());
  builds_ = 0;
  TOvDbf dbf("D");
  Open(dbf, kTags);
  EXPECT_EQ(builds_, 0);
  EXPECT_EQ(dbf.IndexFailure(), 32);
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_NE(warnings_[0].find("read-only"), std::string::npos);
  EXPECT_FALSE(dbf.CanModify());
  EXPECT_THROW(dbf.Edit(), EDatabaseError);
  EXPECT_EQ(Titles(dbf), kTitles) << "still readable, in natural order";
}

// ---- Searches and order ----

TEST_F(IndexPolicyTest, FindAndFindExactSearchTheActiveOrder) {
  TOvDbf dbf("D");
  Open(dbf, kTags);
  struct Case {
    const char* key;
    bool exact, found;
    const char* title;  // where the dataset stands afterwards
  } cases[] = {
      {"AL", false, true, "Alpha"},   {"ALPHA", true, true, "Alpha"},  {"AL", true, false, "delta"},
      {"CH", false, true, "charlie"}, {"ZULU", false, false, "delta"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    dbf.First();
    EXPECT_EQ(c.exact ? dbf.FindExact(c.key) : dbf.Find(c.key), c.found);
    EXPECT_EQ(Title(dbf), c.title);
  }
  dbf.FindExact("BRAVO");
  dbf.Next();
  EXPECT_EQ(Title(dbf), "charlie") << "navigation goes on in key order";
}

TEST_F(IndexPolicyTest, LocateUsesTheIndexOnlyForTheKeyItsTagIsMadeOf) {
  TOvDbf dbf("D");
  Open(dbf, {"TITLE,F,F,UPPER(TITLE)", "", "YEAR,T,F,YEAR", "YEAR > 2002", "NUM,F,F,YEAR", ""});
  struct Case {
    const char* order;
    const char* fields;
    TVarValue value;
    bool case_insensitive;
    const char* title;  // "" = not found
  } cases[] = {
      {"TITLE", "title", std::string("alpha"), true, "Alpha"},   // UPPER(TITLE), any case: the index
      {"TITLE", "title", std::string("alpha"), false, "alpha"},  // exact case: record by record
      {"TITLE", "year", int64_t{2004}, false, "Bravo"},          // another field: record by record
      {"YEAR", "year", int64_t{2004}, false, "Bravo"},           // a FOR tag: record by record
      {"YEAR", "year", int64_t{2001}, false, ""},                // outside the walk of the order
      {"NUM", "year", int64_t{2003}, false, "charlie"},          // the index
      {"NUM", "year", int64_t{1999}, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.order) + " " + c.fields);
    dbf.SetIndexOrder(c.order);
    dbf.First();
    const std::string before = Title(dbf);
    const bool found = dbf.Locate(c.fields, {c.value}, TLocateOptions{c.case_insensitive, false});
    EXPECT_EQ(found, *c.title != '\0');
    EXPECT_EQ(Title(dbf), found ? c.title : before);
  }
}

TEST_F(IndexPolicyTest, IndexOrderChoosesTheWalkAndBookmarksFollowIt) {
  TOvDbf dbf("D");
  dbf.SetIndexOrder("YEAR");
  Open(dbf, kTags);
  EXPECT_EQ(dbf.IndexOrder(), "YEAR");
  EXPECT_EQ(Titles(dbf), (std::vector<std::string>{"alpha", "Bravo", "charlie"}));
  dbf.SetIndexOrder("TITLE");
  dbf.FindExact("CHARLIE");
  const TBookmark mark = dbf.GetBookmark();
  dbf.First();
  dbf.GotoBookmark(mark);
  dbf.Next();
  EXPECT_EQ(Title(dbf), "delta");
  dbf.Prior();
  dbf.Prior();
  EXPECT_EQ(Title(dbf), "Bravo");
  dbf.SetIndexOrder("");
  EXPECT_TRUE(dbf.IsSequenced());
  EXPECT_EQ(Title(dbf), "Bravo") << "an order change keeps the record";
  EXPECT_EQ(Titles(dbf), kTitles);
  EXPECT_THROW(dbf.SetIndexOrder("NOSUCH"), EDatabaseError);
}

TEST_F(IndexPolicyTest, KeyPostedByAnotherComponentOrProcessIsFound) {
  TOvDbf a("A"), b("B");
  Open(a, kTags);
  Open(b, kTags);
  ASSERT_TRUE(a.FindExact("DELTA"));
  a.Edit();
  a.FieldByName("title")->SetAsString("Echo");
  a.Post();
  EXPECT_TRUE(b.FindExact("ECHO"));
  EXPECT_EQ(Title(b), "Echo");
  EXPECT_FALSE(b.FindExact("DELTA"));
  test::ChildHolder other([&] {
    static std::unique_ptr<TOvDbf> c;
    c = std::make_unique<TOvDbf>("C");
    c->SetDbfFileName(path_);
    c->IndexList() = kTags;
    c->Open();
    if (!c->FindExact("ECHO")) return false;
    c->Edit();
    c->FieldByName("title")->SetAsString("Foxtrot");
    c->Post();
    return true;
  });
  ASSERT_TRUE(other.ready());
  EXPECT_TRUE(b.FindExact("FOXTROT"));
  EXPECT_EQ(Title(b), "Foxtrot");
  EXPECT_FALSE(a.Find("ECHO"));
}

}  // namespace
}  // namespace ov
