// The table component: its properties, opening and creating the table, the
// writes under locks with their events and warnings, appending from another
// table, and changing HideDeletedRecs and Exclusive on an open component.
#include "dataset/uovfds.h"

#include <string>
#include <vector>

#include "dataset/format_settings.h"
#include "dataset/ucommon.h"
#include "dataset/warnings.h"
#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_search.h"
#include "tests/dataset_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

class Probe : public TOvDbf {
 public:
  using TOvDbf::TOvDbf;
  using TOvFileDataSet::s_DeleteWithLock;
  using TOvFileDataSet::s_RestoreWithLock;
};

const TStrings kFields = {"title, C, 20, 0", "year, N, 4, 0", "plot, M, 10, 0"};

class OvDbfTest : public test::DatasetTest {
 protected:
  void SetUp() override {
    test::DatasetTest::SetUp();
    SetWarningHook([this](const std::string& text) { warnings_.push_back(text); });
  }
  void TearDown() override {
    SetWarningHook(nullptr);
    test::DatasetTest::TearDown();
  }

  // A table with the given titles (year = 2000 + position).
  std::string MakeTable(const std::vector<std::string>& titles, const std::string& name = "movie.dbf") {
    const std::string path = Path(name);
    EXPECT_TRUE(CreateTableFromFields("t", path, &kFields));
    Select(33);
    USE(path + " EXCLUSIVE");
    for (size_t i = 0; i < titles.size(); ++i) {
      ClearRecord();
      SetFieldText(1, titles[i]);
      SetFieldNumber(2, 2001 + static_cast<double>(i));
      Append();
    }
    CloseArea();
    Select(1);
    return path;
  }
  static std::string Title(TDataSet& ds) { return ds.FieldByName("title")->AsString(); }
  static std::vector<std::string> Titles(TDataSet& ds) {
    std::vector<std::string> out;
    for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(Title(ds));
    return out;
  }
  // The stored title of record n, read through an area of its own.
  std::string StoredTitle(const std::string& path, int32_t n) {
    const int saved = SelectedArea();
    Select(30);
    USE(path + " ALIAS CHECKER");
    GO(n);
    const std::string text = TrimText(GetFieldText(1));
    CloseArea();
    Select(saved);
    return text;
  }
  // Record n's bytes as the file holds them.
  static std::string RawRecord(const std::string& path, int32_t n) {
    const std::vector<uint8_t> b = test::ReadAll(path);
    const size_t header = b[8] | (b[9] << 8), length = b[10] | (b[11] << 8);
    const size_t at = header + static_cast<size_t>(n - 1) * length;
    return at + length <= b.size() ? std::string(b.begin() + at, b.begin() + at + length) : std::string();
  }
  // Takes the record lock of record n in the component's work area.
  static void HoldRecord(TOvDbf& holder, int32_t n) {
    Select(holder.WorkArea());
    GO(n);
    ASSERT_TRUE(RLock());
  }
  static void Release(TOvDbf& holder) {
    Select(holder.WorkArea());
    Unlock();
  }

  std::vector<std::string> warnings_;
};

// ---- Properties ----

TEST_F(OvDbfTest, PropertiesStartWithTheirDefaults) {
  TOvDbf dbf;
  EXPECT_EQ(dbf.Name(), "");
  EXPECT_TRUE(dbf.DbfFields().Count() == 0 && dbf.IndexList().Count() == 0);
  EXPECT_EQ(dbf.DbfFileName(), "");
  EXPECT_FALSE(dbf.HideDeletedRecs());
  EXPECT_TRUE(dbf.ShowProgress());
  EXPECT_EQ(dbf.TableLanguage(), TOvTableLanguage::tlOem);
  EXPECT_FALSE(dbf.ReadOnly());
  EXPECT_FALSE(dbf.AutoFixRecCount());
  EXPECT_EQ(dbf.CreateIndex(), TCreateIndexType::ciNotFound);
  EXPECT_TRUE(dbf.CreateIfNotFound());
  EXPECT_FALSE(dbf.Exclusive());
  EXPECT_TRUE(dbf.AutoCalcFields());
  EXPECT_EQ(dbf.WorkArea(), 0);
  EXPECT_TRUE(dbf.IsLive());
  try {
    dbf.Open();
    FAIL() << "opened without a file name";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Missing DbfFilename property");
  }
}

TEST_F(OvDbfTest, FileNameGetsItsExtensionAndTrimmed) {
  TOvDbf dbf;
  dbf.SetDbfFileName("movie");
  EXPECT_EQ(dbf.DbfFileName(), "movie.DBF");
  dbf.SetDbfFileName("data.");
  EXPECT_EQ(dbf.DbfFileName(), "data.");
  dbf.SetDbfFileName(" x.dbf ");
  EXPECT_EQ(dbf.DbfFileName(), "x.dbf");
  dbf.SetDbfFileName("dir.v2/movie");
  EXPECT_EQ(dbf.DbfFileName(), "dir.v2/movie.DBF");
  dbf.SetDbfFileName("   ");
  EXPECT_EQ(dbf.DbfFileName(), "");
}

TEST_F(OvDbfTest, NewFileNameReopensAndEmptyNameCloses) {
  const std::string first = MakeTable({"One"}, "one.dbf");
  const std::string second = MakeTable({"Two", "Three"}, "two.dbf");
  TOvDbf dbf("OvDbf1");
  dbf.SetDbfFileName(first);
  dbf.Open();
  dbf.SetDbfFileName(second.substr(0, second.size() - 4));
  EXPECT_TRUE(dbf.Active());
  EXPECT_EQ(dbf.RecordCount(), 2);
  dbf.SetDbfFileName("");
  EXPECT_FALSE(dbf.Active());
}

// ---- Opening ----

TEST_F(OvDbfTest, ComponentNameBecomesTheAlias) {
  const std::string path = MakeTable({"One"});
  TOvDbf dbf(" OvDbf1 ");
  dbf.SetDbfFileName(path);
  dbf.Open();
  Select(dbf.WorkArea());
  EXPECT_EQ(Alias(), "OVDBF1");
  EXPECT_FALSE(CurrentArea()->exclusive);
  TOvDbf unnamed;
  unnamed.SetDbfFileName(path);
  unnamed.Open();
  Select(unnamed.WorkArea());
  EXPECT_EQ(Alias(), "MOVIE");
  EXPECT_NE(unnamed.WorkArea(), dbf.WorkArea());
}

TEST_F(OvDbfTest, ExclusiveKeepsOthersOut) {
  const std::string path = MakeTable({"One"});
  TOvDbf owner("Owner");
  owner.SetExclusive(true);
  owner.SetDbfFileName(path);
  owner.Open();
  Select(owner.WorkArea());
  EXPECT_TRUE(CurrentArea()->exclusive);
  TOvDbf other("Other");
  other.SetDbfFileName(path);
  try {
    other.Open();
    FAIL() << "opened beside an exclusive user";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("Dataset error: File sharing violation"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(other.Active());
  EXPECT_EQ(other.WorkArea(), 0);
  // The failed open left no table behind in any area.
  int open_areas = 0;
  for (int n = 1; n <= kCallerAreas; ++n) open_areas += Areas().slots[n] ? 1 : 0;
  EXPECT_EQ(open_areas, 1);
}

TEST_F(OvDbfTest, ReadOnlyOpensForReadingAndRefusesEdits) {
  const std::string path = MakeTable({"One"});
  struct Case {
    bool exclusive;
    uint16_t mode;
  };
  for (const Case c : {Case{false, 64}, Case{true, 0}}) {
    Probe dbf("Ro");
    dbf.SetReadOnly(true);
    dbf.SetExclusive(c.exclusive);
    dbf.SetDbfFileName(path);
    dbf.Open();
    Select(dbf.WorkArea());
    EXPECT_EQ(CurrentArea()->table.open_mode, c.mode);
    EXPECT_EQ(AreaConfig().OpenModeOverride, 0xFFFF);
    EXPECT_FALSE(dbf.CanModify());
    EXPECT_THROW(dbf.Edit(), EDatabaseError);
    EXPECT_FALSE(dbf.s_DeleteWithLock());
    EXPECT_TRUE(warnings_.empty());
  }
  EXPECT_EQ(StoredTitle(path, 1), "One");
}

TEST_F(OvDbfTest, AutoFixRecCountRepairsForTheOpenOnly) {
  const std::string path = MakeTable({"One", "Two", "Three"});
  std::vector<uint8_t> bytes = test::ReadAll(path);
  bytes[4] = 1;  // the header claims one record
  test::WriteAll(path, bytes);
  TOvDbf dbf("Fix");
  dbf.SetExclusive(true);
  dbf.SetAutoFixRecCount(true);
  dbf.SetDbfFileName(path);
  dbf.Open();
  EXPECT_EQ(dbf.RecordCount(), 3);
  EXPECT_FALSE(Engine().table.RepairRecCount);
}

TEST_F(OvDbfTest, MissingTableIsCreatedFromCorrectedDefinitions) {
  TOvDbf dbf("OvDbf1");
  dbf.DbfFields() = TStrings{"title, C, 20, 0", "amount, N, 25, 3", "dummy, X, 1, 0", "notes, B, 10, 0"};
  dbf.SetDbfFileName(Path("fresh"));
  dbf.Open();
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_EQ(warnings_[0],
            "Invalid field definition for OvDbf1: amount,N,25,3. Will use corrected definition: amount,N,20,3");
  TStrings listing;
  dbf.StructureListing(listing, false);
  EXPECT_EQ(listing, (TStrings{"title, C, 20, 0", "amount, N, 20, 3", "notes, M, 10, 0"}));
  EXPECT_TRUE(dbf.IsEmpty());
}

TEST_F(OvDbfTest, UncreatableTableWarnsAndTheOpenFails) {
  TOvDbf dbf("OvDbf1");
  dbf.DbfFields() = TStrings{"title, C, 20, 0", "a,C,10"};
  dbf.SetDbfFileName(Path("broken"));
  EXPECT_THROW(dbf.Open(), EDatabaseError);
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_EQ(warnings_[0], "Could not create \"" + Path("broken.DBF") + "\"");
  EXPECT_FALSE(dbf.Active());

  warnings_.clear();
  TOvDbf plain("Plain");
  plain.SetCreateIfNotFound(false);
  plain.DbfFields() = kFields;
  plain.SetDbfFileName(Path("absent"));
  try {
    plain.Open();
    FAIL() << "opened a missing table";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Dataset error: File not found", 0), 0u) << e.what();
  }
  EXPECT_TRUE(warnings_.empty());
  EXPECT_FALSE(FileExistsResolved(Path("absent.DBF")));
}

// ---- Writes under locks ----

TEST_F(OvDbfTest, RefusedPostLockWarnsOnceAndShowsTheStoredRecord) {
  const std::string path = MakeTable({"One", "Two"});
  TOvDbf holder("Holder");
  holder.SetDbfFileName(path);
  holder.Open();
  TOvDbf dbf("Editor");
  dbf.SetDbfFileName(path);
  dbf.Open();
  HoldRecord(holder, 1);
  dbf.First();
  dbf.Edit();
  dbf.FieldByName("title")->SetAsString("Changed");
  EXPECT_NO_THROW(dbf.Post());
  EXPECT_EQ(warnings_, std::vector<std::string>{"Lock failed [Post]"});
  EXPECT_EQ(dbf.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(Title(dbf), "One");
  EXPECT_EQ(StoredTitle(path, 1), "One");
  // Once the lock is free the same edit goes through.
  Release(holder);
  dbf.Edit();
  dbf.FieldByName("title")->SetAsString("Changed");
  dbf.Post();
  EXPECT_EQ(StoredTitle(path, 1), "Changed");
  EXPECT_EQ(warnings_.size(), 1u);
}

TEST_F(OvDbfTest, LockEventRetriesWhileAsked) {
  const std::string path = MakeTable({"One", "Two"});
  TOvDbf holder("Holder");
  holder.SetDbfFileName(path);
  holder.Open();
  TOvDbf dbf("Editor");
  dbf.SetDbfFileName(path);
  dbf.Open();
  HoldRecord(holder, 2);
  int calls = 0;
  TDataSet* sender = nullptr;
  dbf.OnRLockFailedOnPost = [&](TDataSet& ds, bool& retry) {
    sender = &ds;
    if (++calls == 2) Release(holder);  // the second wait frees it
    retry = true;
  };
  dbf.Last();
  dbf.Edit();
  dbf.FieldByName("year")->SetAsInteger(1999);
  dbf.Post();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(sender, &dbf);
  EXPECT_TRUE(warnings_.empty());
  EXPECT_EQ(dbf.FieldByName("year")->AsInteger(), 1999);

  // An event that does not ask again gives up quietly.
  HoldRecord(holder, 2);
  calls = 0;
  dbf.OnRLockFailedOnPost = [&](TDataSet&, bool&) { ++calls; };
  dbf.Edit();
  dbf.FieldByName("year")->SetAsInteger(1);
  dbf.Post();
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(warnings_.empty());
  EXPECT_EQ(dbf.FieldByName("year")->AsInteger(), 1999);
}

TEST_F(OvDbfTest, RefusedAppendAndDeleteLocksLeaveTheTableAlone) {
  const std::string path = MakeTable({"One", "Two"});
  TOvDbf holder("Holder");
  holder.SetDbfFileName(path);
  holder.Open();
  Probe dbf("Editor");
  dbf.SetDbfFileName(path);
  dbf.Open();
  Select(holder.WorkArea());
  ASSERT_TRUE(ALock());
  dbf.Append();
  dbf.FieldByName("title")->SetAsString("Three");
  dbf.Post();
  EXPECT_EQ(warnings_, std::vector<std::string>{"Lock failed [Insert]"});
  EXPECT_EQ(dbf.RecordCount(), 2);
  EXPECT_EQ(Title(dbf), "Two");  // a real record, not a blank one past the end
  EXPECT_EQ(Titles(dbf), (std::vector<std::string>{"One", "Two"}));
  Release(holder);

  warnings_.clear();
  HoldRecord(holder, 1);
  dbf.First();
  dbf.Delete();
  EXPECT_EQ(warnings_, std::vector<std::string>{"Lock failed [Delete]"});
  Select(dbf.WorkArea());
  GO(1);
  EXPECT_FALSE(GetDeletedFlag());
  Release(holder);
}

TEST_F(OvDbfTest, RestoreRecallsUnderTheRecordLock) {
  const std::string path = MakeTable({"One", "Two"});
  TOvDbf holder("Holder");
  holder.SetDbfFileName(path);
  holder.Open();
  Probe dbf("Editor");
  dbf.SetDbfFileName(path);
  dbf.Open();
  dbf.First();
  dbf.Delete();
  Select(dbf.WorkArea());
  ASSERT_TRUE(GetDeletedFlag());
  HoldRecord(holder, 1);
  EXPECT_FALSE(dbf.s_RestoreWithLock());
  EXPECT_EQ(warnings_, std::vector<std::string>{"Lock failed [Restore]"});
  Release(holder);
  EXPECT_TRUE(dbf.s_RestoreWithLock());
  Select(dbf.WorkArea());
  EXPECT_FALSE(GetDeletedFlag());
  EXPECT_TRUE(CurrentArea()->record_locks.empty());
}

TEST_F(OvDbfTest, DeleteWithHiddenRecordsStepsOffAndUnlocks) {
  const std::string path = MakeTable({"One", "Two", "Three"});
  TOvDbf dbf("Editor");
  dbf.SetHideDeletedRecs(true);
  dbf.SetDbfFileName(path);
  dbf.Open();
  dbf.First();
  dbf.Next();
  dbf.Delete();
  EXPECT_EQ(Title(dbf), "Three");
  dbf.Delete();
  EXPECT_EQ(Title(dbf), "One");
  EXPECT_EQ(Titles(dbf), std::vector<std::string>{"One"});
  Select(dbf.WorkArea());
  EXPECT_TRUE(CurrentArea()->record_locks.empty());
  EXPECT_EQ(CurrentArea()->lock_state, 0);
}

// ---- Changing properties on an open component ----

TEST_F(OvDbfTest, HideDeletedRecsTakesEffectAtOnce) {
  const std::string path = MakeTable({"One", "Two", "Three"});
  TOvDbf dbf("Editor");
  dbf.SetDbfFileName(path);
  dbf.Open();
  dbf.First();
  dbf.Next();
  dbf.Delete();  // visible still: deleted records are shown
  EXPECT_EQ(Title(dbf), "Two");
  int scrolls = 0;
  dbf.AfterScroll = [&](TDataSet&) { ++scrolls; };
  dbf.SetHideDeletedRecs(true);
  EXPECT_EQ(scrolls, 1);
  EXPECT_EQ(Title(dbf), "Three");
  EXPECT_EQ(Titles(dbf), (std::vector<std::string>{"One", "Three"}));
  dbf.SetHideDeletedRecs(false);
  EXPECT_EQ(Titles(dbf), (std::vector<std::string>{"One", "Two", "Three"}));
}

TEST_F(OvDbfTest, HidingEveryRecordEmptiesTheWindowAndShowingBringsThemBack) {
  const std::string path = MakeTable({"One", "Two"});
  TOvDbf dbf("Editor");
  dbf.SetDbfFileName(path);
  dbf.Open();
  dbf.First();
  dbf.Delete();
  dbf.Next();
  dbf.Delete();
  dbf.SetHideDeletedRecs(true);
  EXPECT_TRUE(dbf.IsEmpty());
  EXPECT_TRUE(dbf.Eof() && dbf.Bof());
  dbf.SetHideDeletedRecs(false);
  EXPECT_FALSE(dbf.IsEmpty());
  EXPECT_EQ(Title(dbf), "One");
  EXPECT_EQ(Titles(dbf), (std::vector<std::string>{"One", "Two"}));
}

TEST_F(OvDbfTest, ExclusiveChangeReopensTheTable) {
  const std::string path = MakeTable({"One", "Two"});
  TOvDbf dbf("Editor");
  dbf.SetDbfFileName(path);
  dbf.Open();
  int opens = 0;
  dbf.AfterOpen = [&](TDataSet&) { ++opens; };
  dbf.SetExclusive(true);
  EXPECT_EQ(opens, 1);
  EXPECT_TRUE(dbf.Active());
  Select(dbf.WorkArea());
  EXPECT_TRUE(CurrentArea()->exclusive);
  dbf.SetExclusive(true);
  EXPECT_EQ(opens, 1);
  dbf.SetExclusive(false);
  Select(dbf.WorkArea());
  EXPECT_FALSE(CurrentArea()->exclusive);
  EXPECT_EQ(Titles(dbf), (std::vector<std::string>{"One", "Two"}));
}

// ---- Table language ----

TEST_F(OvDbfTest, TableLanguageDecidesTheStoredCharacters) {
  for (TOvTableLanguage language : {TOvTableLanguage::tlOem, TOvTableLanguage::tlAnsi}) {
    const std::string path = MakeTable({}, language == TOvTableLanguage::tlOem ? "oem.dbf" : "ansi.dbf");
    {
      TOvDbf dbf("Lang");
      dbf.SetTableLanguage(language);
      dbf.SetDbfFileName(path);
      dbf.Open();
      dbf.Append();
      dbf.FieldByName("title")->SetAsString("caf\xe9");
      dbf.Post();
      EXPECT_EQ(Title(dbf), "caf\xe9");
    }
    const std::vector<uint8_t> bytes = test::ReadAll(path);
    const size_t header = bytes[8] | (bytes[9] << 8);
    const uint8_t stored = bytes[header + 1 + 3];
    EXPECT_EQ(stored, language == TOvTableLanguage::tlOem ? 0x82 : 0xE9);
  }
}

// ---- Appending from another table ----

TEST_F(OvDbfTest, AppendFromReturnsToTheActiveRecord) {
  const std::string path = MakeTable({"One", "Two", "Three"});
  const std::string source = Path("src.dbf");
  TStrings other = {"year, N, 4, 0", "title, C, 10, 0", "extra, L, 1, 0"};
  ASSERT_TRUE(CreateTableFromFields("t", source, &other));
  Select(33);
  USE(source + " EXCLUSIVE");
  for (const char* t : {"Four", "Five"}) {
    ClearRecord();
    SetFieldText(2, t);
    SetFieldNumber(1, 1950);
    Append();
  }
  CloseArea();

  TOvDbf dbf("Target");
  dbf.SetDbfFileName(path);
  dbf.Open();
  dbf.First();
  dbf.Next();
  dbf.AppendFrom(source);
  EXPECT_EQ(Title(dbf), "Two");
  EXPECT_EQ(dbf.RecordCount(), 5);
  EXPECT_EQ(Titles(dbf), (std::vector<std::string>{"One", "Two", "Three", "Four", "Five"}));
  Select(dbf.WorkArea());
  EXPECT_EQ(CurrentArea()->lock_state, 0);

  dbf.First();
  EXPECT_THROW(dbf.AppendFrom(Path("nothing.dbf")), EDatabaseError);
  EXPECT_EQ(Title(dbf), "One");
  EXPECT_EQ(dbf.RecordCount(), 5);
}

// ---- What a user stored stays as stored ----

// Typed date text keeps a four-digit year on disk whatever the short date
// format shows; two digits follow the epoch window.
TEST_F(OvDbfTest, TypedDatesKeepTheirCenturyOnDisk) {
  Engine().dates.EpochYear = 1950;
  struct Case {
    const char* text;
    const char* stored;
  };
  const Case cases[] = {{"01/02/1850", "18500102"}, {"01/01/2060", "20600101"}, {"12/31/1949", "19491231"},
                        {"01/02/50", "19500102"},   {"12/31/49", "20491231"},   {"", "        "}};
  const std::string path = Path("dates.dbf");
  TOvDbf dbf("Dates");
  dbf.DbfFields() = TStrings{"title, C, 10, 0", "premiere, D, 8, 0"};
  dbf.SetDbfFileName(path);
  dbf.Open();
  for (const Case& c : cases) {
    dbf.Append();
    dbf.FieldByName("premiere")->SetText(c.text);
    dbf.Post();
  }
  // Editing another field leaves the date's century alone.
  dbf.First();
  dbf.Edit();
  dbf.FieldByName("title")->SetAsString("edited");
  dbf.Post();
  TDateTime first = 0;
  ASSERT_TRUE(TryEncodeDate(1850, 1, 2, first));
  EXPECT_EQ(dbf.FieldByName("premiere")->AsDateTime(), first);
  dbf.Close();
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(RawRecord(path, static_cast<int32_t>(i + 1)).substr(11, 8), cases[i].stored) << cases[i].text;
  }
  EXPECT_TRUE(warnings_.empty());
}

// Several key fields find a record only where every one of them matches.
TEST_F(OvDbfTest, LocateAndLookupWithSeveralFieldsMatchAll) {
  TOvDbf dbf("Multi");
  dbf.SetDbfFileName(MakeTable({"Jones", "Smith", "Jones"}));  // years 2001, 2002, 2003
  dbf.Open();
  struct Case {
    const char* fields;
    std::vector<TVarValue> values;
    TLocateOptions options;
    int recno;  // 0: not found
  };
  const Case cases[] = {
      {"title;year", {std::string("Jones"), int64_t{2002}}, {}, 0},
      {"title;year", {std::string("Jones"), int64_t{2003}}, {}, 3},
      {"year;title", {int64_t{2001}, std::string("Smith")}, {}, 0},
      {"title;year", {std::string("jo"), int64_t{2003}}, {.case_insensitive = true, .partial_key = true}, 3},
      {"title;year", {std::string("Smith")}, {}, 0},
      {"title", {std::string("Smith")}, {}, 2},
  };
  for (const Case& c : cases) {
    dbf.First();
    EXPECT_EQ(dbf.Locate(c.fields, c.values, c.options), c.recno != 0) << c.fields;
    EXPECT_EQ(dbf.RecNo(), c.recno != 0 ? c.recno : 1) << c.fields;
    if (c.options.partial_key) continue;
    const std::vector<TVarValue> hit = dbf.Lookup(c.fields, c.values, "year");
    ASSERT_EQ(hit.size(), c.recno != 0 ? 1u : 0u) << c.fields;
    if (c.recno != 0) {
      EXPECT_EQ(std::get<int64_t>(hit[0]), 2000 + c.recno);
    }
  }
}

// Definitions the component could not open again are refused before any
// file exists, with the engine's code for a bad field definition.
TEST_F(OvDbfTest, CreationRefusesDefinitionsTheOpenCouldNotTake) {
  const TStrings cases[] = {
      {"title, C, 20, 0", "amount, F, 21, 2"},
      {"title, C, 20, 0", "count, F, 30, 0"},
      {"title, C, 20, 0", "Title, N, 4, 0"},
      {"longername1, C, 5, 0", "longername2, C, 5, 0"},  // the same name once cut to 10
      {"title, C, 20, 0", "my field, C, 5, 0"},
  };
  for (const TStrings& lines : cases) {
    warnings_.clear();
    const std::string path = Path(lines[1].substr(0, 5) + ".DBF");
    TOvDbf dbf("OvDbf1");
    dbf.DbfFields() = lines;
    dbf.SetDbfFileName(path);
    try {
      dbf.Open();
      ADD_FAILURE() << "opened " << lines[1];
    } catch (const EDatabaseError& e) {
      EXPECT_NE(std::string(e.what()).find("Invalid dBASE field definition"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Errors().DbfError, 211) << lines[1];
    EXPECT_FALSE(FileExistsResolved(path)) << lines[1];
    EXPECT_EQ(warnings_, std::vector<std::string>{"Could not create \"" + path + "\""});
  }
  TOvDbf widest("OvDbf1");
  widest.DbfFields() = TStrings{"amount, F, 20, 2", "count, F, 20, 0"};
  widest.SetDbfFileName(Path("widest"));
  widest.Open();
  EXPECT_EQ(widest.FieldByName("amount")->Size(), 20);
}

// A number too wide for its field is refused and the record stays as it
// was; posting another field leaves stored numbers the dataset cannot hold
// (asterisks, beyond 32 bits, blank, an unknown logical) byte for byte.
TEST_F(OvDbfTest, PostingKeepsStoredNumbersTheDatasetCannotHold) {
  const TStrings fields = {"title, C, 10, 0", "small, N, 3, 0", "big, N, 12, 0",
                           "money, N, 15, 2", "empty, N, 5, 0", "flag, L, 1, 0"};
  const std::string path = Path("numbers.dbf");
  ASSERT_TRUE(CreateTableFromFields("t", path, &fields));
  USE(path + " EXCLUSIVE");
  ClearRecord();
  Append();
  for (const auto& [field, text] : std::vector<std::pair<int, std::string>>{
           {2, "***"}, {3, "  9876543210"}, {4, "  1234567890.12"}, {5, "     "}, {6, "?"}}) {
    Poke(text, field, 1);
  }
  CloseArea();
  const std::string before = RawRecord(path, 1);

  TOvDbf dbf("Numbers");
  dbf.SetDbfFileName(path);
  dbf.Open();
  dbf.Edit();
  dbf.FieldByName("small")->SetAsInteger(12345);
  EXPECT_THROW(dbf.Post(), std::exception);
  dbf.Cancel();
  EXPECT_EQ(RawRecord(path, 1), before);
  dbf.Edit();
  dbf.FieldByName("title")->SetAsString("renamed");
  dbf.Post();
  dbf.Close();
  const std::string after = RawRecord(path, 1);
  EXPECT_EQ(after.substr(1, 10), "renamed   ");
  EXPECT_EQ(after.substr(11), before.substr(11));
}

}  // namespace
}  // namespace ov
