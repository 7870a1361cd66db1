// Sequential search and direct field access of the work areas: Locate and
// its options, Continue, the value-based locates, Peek with and without
// its cache, and Poke.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_search.h"
#include "engine/support/ovcommon.h"
#include "engine/support/platform.h"
#include "engine/support/timedate.h"
#include "tests/test_support.h"

namespace ov {
namespace {

class LocateTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Search() = SearchState{};
    SetDateType(0);
    Engine().dates.CenturyOn = false;
  }
  void TearDown() override {
    Search() = SearchState{};
    EngineTest::TearDown();
  }

  // NAME C(10), QTY N(5,0), OK L(1), BORN D(8), NOTE M(10), PRICE N(7,2).
  void Open(const std::string& options = " EXCLUSIVE") {
    if (!created_) {
      DbfFile dbf;
      const std::vector<FieldDef> defs = {{"NAME", 'C', 10, 0}, {"QTY", 'N', 5, 0},   {"OK", 'L', 1, 0},
                                          {"BORN", 'D', 8, 0},  {"NOTE", 'M', 10, 0}, {"PRICE", 'N', 7, 2}};
      CreateDbf(dbf, path(), defs);
      created_ = true;
    }
    USE(path() + options);
  }
  std::string path() const { return Path("PEOPLE.DBF"); }

  void AddRow(const std::string& name, int qty, bool ok = false, double born = kNoDate) {
    ClearRecord();
    SetFieldText(1, name);
    SetFieldNumber(2, qty);
    SetFieldLogical(3, ok);
    if (born != kNoDate) SetFieldText(4, DayNumberToDate(born));
    SetFieldNumber(6, qty / 4.0);
    Append();
  }
  // Smith, SMYTHE, Jones, Keith, Smithers; reopened with `options`.
  void OpenPeople(const std::string& options = " EXCLUSIVE") {
    Open();
    AddRow("Smith", 10, true, YmdToDayNumber(1999, 3, 15));
    AddRow("SMYTHE", 20);
    AddRow("Jones", 30, true);
    AddRow("Keith", 40, false, YmdToDayNumber(2001, 1, 2));
    AddRow("Smithers", 50);
    if (options == " EXCLUSIVE") return;
    CloseArea();
    Open(options);
  }
  // Locates `text` in NAME with the option words; answers RecNo.
  int32_t Find(const std::string& text, const std::string& options = "") {
    const int field = LocateField("name" + options);
    Search().text = text;
    Locate(1, field);
    return RecNo();
  }
  bool AtPhantom() { return dEOF() && RecNo() == RecCount() + 1; }

  // Runs a command expected to report `code`; answers the context.
  template <typename F>
  std::string Reported(uint16_t code, F command) {
    QuietErrors quiet;
    command();
    EXPECT_EQ(Errors().DbfError, code);
    return Errors().ErrorContext;
  }

  bool created_ = false;
};

TEST_F(LocateTest, LocateFieldParsesOptionWords) {
  Open();
  EXPECT_EQ(LocateField(" qty "), 2);
  EXPECT_TRUE(Search().case_sensitive);
  EXPECT_FALSE(Search().exact || Search().contained);
  EXPECT_EQ(LocateField("name exact nocase"), 1);
  EXPECT_FALSE(Search().case_sensitive);
  EXPECT_TRUE(Search().exact);
  EXPECT_FALSE(Search().contained);
  EXPECT_EQ(LocateField("NAME CONTAINED"), 1);
  EXPECT_TRUE(Search().case_sensitive);
  EXPECT_TRUE(Search().contained);
  EXPECT_FALSE(Search().exact);
}

TEST_F(LocateTest, LocateFieldReportsBadArguments) {
  Reported(215, [] { LocateField("name"); });
  Open();
  EXPECT_EQ(Reported(220, [] { LocateField("   "); }), "No field name specified [Locate/Count/Sum]");
  EXPECT_EQ(Reported(220, [] { LocateField("colour nocase"); }),
            "Unrecognized field name [Locate/Count/Sum(colour nocase)]");
  EXPECT_EQ(Reported(220, [] { LocateField("nocase"); }).substr(0, 23), "Unrecognized field name");
}

TEST_F(LocateTest, CaseExactAndPrefixRules) {
  OpenPeople();
  Find("SMI");
  EXPECT_TRUE(AtPhantom()) << "case-sensitive: Smith and SMYTHE do not start with SMI";
  EXPECT_EQ(Find("SMI", " NOCASE"), 1);
  Find("SMI", " NOCASE EXACT");
  EXPECT_TRUE(AtPhantom());
  EXPECT_EQ(Find("Smith   ", ""), 1) << "trailing blanks of the text are not significant";
  EXPECT_EQ(Find("Smith", " EXACT"), 1) << "the whole field, blank-padded, is compared";
  EXPECT_EQ(Find("Smith           ", " EXACT"), 1) << "padding longer than the field";
  EXPECT_EQ(Find("smithers", " EXACT NOCASE"), 5);
  Find("Smit", " EXACT");
  EXPECT_TRUE(AtPhantom());
}

TEST_F(LocateTest, ContainedMatchesInsideTheField) {
  OpenPeople();
  EXPECT_EQ(Find("ITH", " CONTAINED NOCASE"), 1);
  EXPECT_EQ(Find("ith", " CONTAINED"), 1);
  EXPECT_EQ(Find("eit", " CONTAINED"), 4);
  Find("ITH", " CONTAINED");
  EXPECT_TRUE(AtPhantom());
}

TEST_F(LocateTest, OemTextIsComparedInTheCallersCharacterSet) {
  OpenPeople();
  ASSERT_TRUE(CurrentArea()->table.oem);
  AddRow("M\xFCller", 60);
  EXPECT_NE(Peek(1, 6), "M\xFCller    ") << "stored in OEM";
  EXPECT_EQ(Find("M\xDCLLER", " NOCASE"), 6);
}

TEST_F(LocateTest, ContinueWalksTheHitsAndThenEnds) {
  OpenPeople();
  EXPECT_NE(Reported(220, [] { Continue(); }).find("Call to CONTINUE not preceeded by call to LOCATE. [Continue]"),
            std::string::npos);
  EXPECT_EQ(Find("SM", " NOCASE"), 1);
  Continue();
  EXPECT_EQ(RecNo(), 2);
  Continue();
  EXPECT_EQ(RecNo(), 5);
  Continue();
  EXPECT_TRUE(AtPhantom());
  EXPECT_EQ(Search().field, 0);
  Reported(220, [] { Continue(); });
}

TEST_F(LocateTest, NoHitEndsOnThePhantomRecordEvenWhenNothingIsVisible) {
  OpenPeople();
  Find("Nobody");
  EXPECT_TRUE(AtPhantom());
  EXPECT_EQ(TrimRightText(GetFieldText(1)), "");
  // Every record hidden: the end position must not come from a SKIP past
  // the end, which would report.
  SetFilter([] { return false; });
  GO(1);
  Find("Nobody");
  EXPECT_TRUE(AtPhantom());
}

TEST_F(LocateTest, LocateOnAnEmptyTableEndsAtEnd) {
  Open();
  Find("x");
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(Errors().DbfError, 0);
}

TEST_F(LocateTest, LocateIgnoresVisibilityButLocateValueSkipsHidden) {
  OpenPeople();
  GO(1);
  DeleteRec();
  SetIgnoreDel(true);
  EXPECT_EQ(Find("Smith"), 1);
  EXPECT_TRUE(LocateValue("name", std::string("Smith"), false, false));
  EXPECT_EQ(RecNo(), 5);
  EXPECT_FALSE(LocateValue("name", std::string("Smith"), false, true));
  EXPECT_TRUE(dEOF());
}

TEST_F(LocateTest, LocateValueConvertsValuesToTheStoredForm) {
  OpenPeople();
  EXPECT_TRUE(LocateValue("qty", 30.0, false, false));
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(LocateValue(" qty extra words", std::string("40"), false, true));
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(LocateValue("price", 12.5, false, true));
  EXPECT_EQ(RecNo(), 5);
  EXPECT_TRUE(LocateValue("ok", false, false, true));
  EXPECT_EQ(RecNo(), 2);
  EXPECT_TRUE(LocateValue("born", YmdToDayNumber(2001, 1, 2), false, true));
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(LocateValue("born", std::string("03/15/99"), false, true));
  EXPECT_EQ(RecNo(), 1);
  EXPECT_TRUE(LocateValue("name", std::string("jones"), true, true));
  EXPECT_EQ(RecNo(), 3);
  EXPECT_FALSE(LocateValue("  ", std::string("x"), false, false));
  EXPECT_FALSE(LocateValue("qty", 31.0, false, true));
  EXPECT_TRUE(dEOF());
}

TEST_F(LocateTest, LocateFieldsMatchesAllNamesAndReturnsWhenAsked) {
  OpenPeople();
  GO(2);
  int hooks = 0;
  SetRelationHook([&hooks] { ++hooks; });
  hooks = 0;
  // "Smi" starts Smith (10) and Smithers (50): the second field picks one.
  EXPECT_TRUE(LocateFields("name;qty", {std::string("Smi"), 50.0}, false, false, true));
  EXPECT_EQ(RecNo(), 5);
  EXPECT_EQ(hooks, 0) << "the relation hook rests during the search";
  EXPECT_TRUE(LocateFields("qty;name", {40.0, std::string("keith")}, true, true, true));
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(LocateFields("qty", {30.0}, false, false, false));
  EXPECT_EQ(RecNo(), 4) << "without move the area stays";
  // One field matching is not enough, in either order.
  EXPECT_FALSE(LocateFields("name;qty", {std::string("Jones"), 40.0}, false, true, true));
  EXPECT_FALSE(LocateFields("qty;name", {40.0, std::string("Jones")}, false, true, true));
  EXPECT_EQ(RecNo(), 4) << "nothing found returns to the record";
  // More names than values: a name without its value matches nothing.
  EXPECT_FALSE(LocateFields("name;qty", {std::string("Keith")}, false, false, true));
  EXPECT_EQ(RecNo(), 4);
  SetRelationHook(nullptr);
  GoBottom();
  SKIP(1);
  EXPECT_FALSE(LocateFields("name", {std::string("Nobody")}, false, false, true));
  EXPECT_TRUE(AtPhantom()) << "a search started on the phantom record returns there";
}

TEST_F(LocateTest, MemoFieldsAreSearchedLineByLine) {
  OpenPeople();
  std::map<int32_t, std::string> memos = {{7, "first line\r\nthe Plot thickens\r\n"}, {9, "plot"}};
  Areas().memo.read_text = [&memos](WorkArea&, int32_t block) { return memos[block]; };
  Poke("         7", 5, 2);
  Poke("         9", 5, 4);
  const int field = LocateField("note nocase");
  Search().text = "PLOT THICK";
  Locate(1, field);
  EXPECT_EQ(RecNo(), 2);
  Continue();
  EXPECT_TRUE(AtPhantom()) << "a hit needs the whole text within one line";
  LocateField("note");
  Search().text = "plot";
  Locate(1, field);
  EXPECT_EQ(RecNo(), 4);
}

TEST_F(LocateTest, PeekReadsStoredBytesWithoutMoving) {
  OpenPeople();
  GO(2);
  EXPECT_EQ(Peek(1, 4), "Keith     ");
  EXPECT_EQ(Peek(2, 3), "   30");
  EXPECT_EQ(Peek(4, 1), "19990315");
  EXPECT_EQ(Peek(0, 1), " ");
  EXPECT_EQ(RecNo(), 2);
  EXPECT_EQ(TrimRightText(GetFieldText(1)), "SMYTHE");
  EXPECT_EQ(Peek(7, 1), "");
  EXPECT_EQ(Peek(-1, 1), "");
  EXPECT_EQ(Peek(1, 0), "");
  EXPECT_EQ(Peek(1, 6), "");
}

TEST_F(LocateTest, PeekReportsAFailedRead) {
  OpenPeople();
  env_.ShortReadsFrom(1);
  EXPECT_EQ(Reported(100, [] { Peek(1, 5); }), "DBF: " + DbfName() + " [Peek(1,5)]");
}

// Writes bytes into the table file behind the engine's back.
void WriteBehind(const std::string& path, uint64_t offset, const std::string& bytes) {
  std::unique_ptr<File> f;
  ASSERT_EQ(CurrentEnv()->Open(path, fmode::kReadWrite | fmode::kDenyNone, Disposition::kOpenExisting, f), 0);
  ASSERT_EQ(f->WriteAt(offset, bytes.data(), bytes.size()), 0);
  ASSERT_EQ(f->Close(), 0);
}

TEST_F(LocateTest, PeekCacheServesHitsAndReloadsOnMisses) {
  OpenPeople("");
  const DbfFile& t = CurrentArea()->table;
  Search().PeekCacheSize = static_cast<uint16_t>(t.record_length * 2 + 3);
  EXPECT_EQ(Peek(1, 1), "Smith     ");
  EXPECT_EQ(Search().cache.first, 1);
  EXPECT_EQ(Search().cache.count, 2);
  WriteBehind(DbfName(), t.RecordOffset(2) + 1, "CHANGED");
  EXPECT_EQ(Peek(1, 2), "SMYTHE    ") << "served from the cache";
  EXPECT_EQ(Peek(1, 3), "Jones     ");
  EXPECT_EQ(Search().cache.first, 3);
  EXPECT_EQ(Peek(1, 2), "CHANGED   ") << "a miss reloads from the file";
  EXPECT_EQ(Peek(1, 5), "Smithers  ");
  EXPECT_EQ(Search().cache.count, 1) << "the last block ends with the table";
}

TEST_F(LocateTest, EditsKeepThePeekCacheCurrent) {
  OpenPeople();
  Search().PeekCacheSize = 4000;
  EXPECT_EQ(Peek(1, 3), "Jones     ");
  GO(3);
  SetFieldText(1, "Jonas");
  Replace();
  EXPECT_EQ(Peek(1, 3), "Jonas     ");
  DeleteRec();
  EXPECT_EQ(Peek(0, 3), "*");
  RecallRec();
  EXPECT_EQ(Peek(0, 3), " ");
  Poke("Zed", 1, 4);
  EXPECT_EQ(Peek(1, 4), "Zedth     ");
}

TEST_F(LocateTest, PeekCacheBelongsToOneAlias) {
  OpenPeople("");
  Search().PeekCacheSize = 4000;
  Peek(1, 1);
  EXPECT_EQ(Search().cache.alias, "PEOPLE");
  DropPeekCacheFor("OTHER");
  EXPECT_EQ(Search().cache.alias, "PEOPLE");
  DropPeekCacheFor("PEOPLE");
  EXPECT_TRUE(Search().cache.alias.empty());
  Peek(1, 1);
  Select(2);
  USE(path() + " ALIAS SECOND");
  EXPECT_EQ(Peek(1, 2), "SMYTHE    ");
  EXPECT_EQ(Search().cache.alias, "SECOND");
}

TEST_F(LocateTest, PeekCacheTooSmallForOneRecordReports217) {
  OpenPeople();
  Search().PeekCacheSize = 10;
  EXPECT_EQ(Reported(217, [] { Peek(1, 1); }), "Insufficient memory for cache [Peek]");
}

TEST_F(LocateTest, PokeWritesStoredTextCutToTheField) {
  OpenPeople();
  Poke("Bartholomew!", 1, 2);
  Poke("*", 0, 3);
  Poke("x", 1, 0);
  Poke("x", 1, 6);
  Poke("x", 7, 1);
  EXPECT_EQ(Peek(1, 2), "Bartholome");
  EXPECT_EQ(Peek(2, 2), "   20") << "the next field is untouched";
  EXPECT_EQ(Peek(0, 3), "*");
  EXPECT_EQ(RecCount(), 5);
  GO(3);
  EXPECT_TRUE(GetDeletedFlag());
}

TEST_F(LocateTest, SharedPokeNeedsTheRecordLock) {
  Open();
  AddRow("Ann", 1);
  CloseArea();
  Open("");
  const std::string context = Reported(1200, [] { Poke("Bob", 1, 1); });
  EXPECT_EQ(context, "Record not locked [Poke(Bob,1,1)]");
  const std::string long_text(200, 'y');
  EXPECT_EQ(Reported(1200, [&] { Poke(long_text, 1, 1); }).size(), 18u + 100u);
  GO(1);
  ASSERT_TRUE(RLock());
  Poke("Bob", 1, 1);
  EXPECT_EQ(Peek(1, 1), "Bob       ");
}

TEST_F(LocateTest, PokeReportsAShortWrite) {
  OpenPeople();
  env_.FailWriteAfter(1);
  EXPECT_EQ(Reported(101, [] { Poke("Zed", 1, 1); }), "[Poke(Zed,1,1)]");
}

}  // namespace
}  // namespace ov
