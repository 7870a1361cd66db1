// The table dataset's engine operations: the cracks, moves, bookmarks,
// searching, field values, memo texts, writes and the dataset that is not
// live.
#include "dataset/ovdataset.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dataset/format_settings.h"
#include "dataset/ovfields.h"
#include "dataset/ucommon.h"
#include "dataset/uovfds.h"
#include "dataset/warnings.h"
#include "engine/dbf/dbf4.h"
#include "engine/dbf/ovdbflow.h"
#include "engine/memo/memo_area.h"
#include "tests/dataset_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

// The protected operations, opened up for the tests.
class Probe : public TOvDbf {
 public:
  using TOvDataSet::AtBeginning;
  using TOvDataSet::AtEnd;
  using TOvDataSet::InternalInitFieldDefs;
  using TOvDataSet::OviGetNextRecord;
  using TOvDataSet::OviGetPriorRecord;
  using TOvDataSet::OviGetRecord;
  using TOvDataSet::OviSetToBegin;
  using TOvDataSet::OviSetToEnd;
  using TOvDataSet::s_IsEmptyDbf;
  using TOvDataSet::SafeGo;
  using TOvDataSet::SetDesignTime;
  using TOvDbf::TOvDbf;
};

struct Movie {
  std::string title;
  int year = 0;
  double price = 0;
  std::string premiere;  // engine date text, "" for none
  std::string plot;
};

const TStrings kFields = {"title, C, 20, 0", "year, N, 4, 0",     "price, N, 8, 2",
                          "seen, L, 1, 0",   "premiere, D, 8, 0", "plot, M, 10, 0"};

class OvDataSetTest : public test::DatasetTest {
 protected:
  void SetUp() override {
    test::DatasetTest::SetUp();
    Engine().dates.EpochYear = 1950;
    SetWarningHook([this](const std::string& text) { warnings_.push_back(text); });
  }
  void TearDown() override {
    SetWarningHook(nullptr);
    test::DatasetTest::TearDown();
  }

  // A table of movies, written by the engine directly.
  std::string MakeTable(const std::vector<Movie>& rows, const std::string& name = "movie.dbf") {
    const std::string path = Path(name);
    EXPECT_TRUE(CreateTableFromFields("t", path, &kFields));
    Select(33);
    USE(path + " EXCLUSIVE");
    for (const Movie& m : rows) {
      ClearRecord();
      SetFieldText(1, m.title);
      SetFieldNumber(2, m.year);
      SetFieldNumber(3, m.price);
      SetFieldText(5, m.premiere);
      SetFieldNumber(6, m.plot.empty() ? 0 : AddMemo(m.plot));
      Append();
    }
    CloseArea();
    Select(1);
    return path;
  }
  std::string ThreeMovies() {
    return MakeTable({{"Alpha", 1990, 0.1, "12/24/95", "first plot"},
                      {"Beta   ", 1991, 2.5, "", ""},
                      {"Gamma", 1992, 7.25, "01/02/03", ""}});
  }
  static std::string Title(TDataSet& ds) { return ds.FieldByName("title")->AsString(); }
  static std::vector<std::string> Titles(TDataSet& ds) {
    std::vector<std::string> out;
    for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(Title(ds));
    return out;
  }
  void Open(Probe& ds, const std::string& path) {
    ds.SetDbfFileName(path);
    ds.Open();
  }

  std::vector<std::string> warnings_;
};

// ---- The cracks ----

TEST_F(OvDataSetTest, PriorAfterSetToEndGivesLastThenTheOneBefore) {
  Probe ds("Mov");
  Open(ds, ThreeMovies());
  int32_t recno = 0;
  ASSERT_EQ(ds.OviSetToEnd(), 0);
  EXPECT_TRUE(ds.AtEnd());
  EXPECT_EQ(ds.OviGetPriorRecord(nullptr, recno), 0);
  EXPECT_EQ(recno, 3);
  EXPECT_FALSE(ds.AtEnd());
  EXPECT_EQ(ds.OviGetPriorRecord(nullptr, recno), 0);
  EXPECT_EQ(recno, 2);
  ds.OviGetPriorRecord(nullptr, recno);
  EXPECT_EQ(ds.OviGetPriorRecord(nullptr, recno), kOviAtBeginning);
  EXPECT_TRUE(ds.AtBeginning());
  EXPECT_EQ(ds.OviGetRecord(nullptr, recno), kOviAtBeginning);
  // From the crack before the first record, next is the first record.
  EXPECT_EQ(ds.OviGetNextRecord(nullptr, recno), 0);
  EXPECT_EQ(recno, 1);
}

TEST_F(OvDataSetTest, NextOnLastRecordLeavesTheAreaOnIt) {
  Probe ds("Mov");
  Open(ds, ThreeMovies());
  int32_t recno = 0;
  ASSERT_EQ(ds.SafeGo(3), 0);
  EXPECT_EQ(ds.OviGetNextRecord(nullptr, recno), kOviAtEnd);
  EXPECT_TRUE(ds.AtEnd());
  Select(ds.WorkArea());
  EXPECT_EQ(RecNo(), 3);
  EXPECT_FALSE(dEOF());
  EXPECT_EQ(ds.OviGetNextRecord(nullptr, recno), kOviAtEnd);
  EXPECT_EQ(ds.OviGetPriorRecord(nullptr, recno), 0);
  EXPECT_EQ(recno, 3);
}

TEST_F(OvDataSetTest, NextOnEmptyTableSetsAtEndWithoutSteppingBack) {
  Probe ds("Mov");
  Open(ds, MakeTable({}));
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof() && ds.Bof());
  int32_t recno = 0;
  ASSERT_EQ(ds.OviSetToBegin(), 0);
  EXPECT_EQ(ds.OviGetNextRecord(nullptr, recno), kOviAtEnd);
  EXPECT_TRUE(ds.AtEnd());
  EXPECT_TRUE(ds.s_IsEmptyDbf());
  EXPECT_EQ(ds.OviGetPriorRecord(nullptr, recno), kOviAtBeginning);
  EXPECT_EQ(ds.RecordCount(), 0);
}

TEST_F(OvDataSetTest, SafeGoOutsideTheTableGoesToTheEndQuietly) {
  Probe ds("Mov");
  Open(ds, ThreeMovies());
  for (int32_t n : {0, -5, 4, 1000}) {
    ASSERT_EQ(ds.SafeGo(2), 0);
    EXPECT_FALSE(ds.AtEnd());
    EXPECT_EQ(ds.SafeGo(n), 0) << n;
    EXPECT_TRUE(ds.AtEnd()) << n;
    EXPECT_FALSE(ds.AtBeginning()) << n;
  }
  EXPECT_EQ(Errors().DbfError, 0);
  // Through the framework: the window shows the last record.
  ds.First();
  ds.SetRecNo(99);
  EXPECT_EQ(Title(ds), "Gamma");
}

TEST_F(OvDataSetTest, PostingWhileAtEndIsRefusedWith1403) {
  Probe ds("Mov");
  Open(ds, ThreeMovies());
  ds.Edit();
  ds.FieldByName("title")->SetAsString("Changed");
  ds.OviSetToEnd();
  try {
    ds.Post();
    FAIL() << "post went through";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Dataset error: 1403");
  }
  ds.Cancel();
  EXPECT_EQ(Titles(ds), (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
}

// ---- Without a work area ----

TEST_F(OvDataSetTest, OperationsWithoutAWorkAreaReport1103) {
  Probe ds("Mov");
  try {
    ds.OviSetToBegin();
    FAIL() << "no report";
  } catch (const EDatabaseError& e) {
    const std::string text = e.what();
    EXPECT_NE(text.find("1103"), std::string::npos) << text;
    EXPECT_NE(text.find("Database is not open [Mov.OviSetToBegin]"), std::string::npos) << text;
  }
  try {
    ds.DirectOpenClose(true);
    FAIL() << "no report";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("DataSet must be active. Mov"), std::string::npos) << e.what();
  }
}

TEST_F(OvDataSetTest, WithoutRaisingTheErrorStateAsksToTerminate) {
  Probe ds("Mov");
  SetRaiseErrors(false);
  int status = -1;
  Engine().ui.Terminate = [&](int code) { status = code; };
  Engine().ui.ShowMessageBox = [](const std::string&, const std::string&, unsigned) {};
  int32_t recno = 0;
  EXPECT_EQ(ds.OviGetRecord(nullptr, recno), 1103);
  EXPECT_EQ(status, 255);
  EXPECT_TRUE(Errors().Halted);
}

TEST_F(OvDataSetTest, FieldDefinitionsNeedAnOpenedTable) {
  Probe ds("Mov");
  try {
    ds.InternalInitFieldDefs();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Mov.DbfFields undefined. Set Active to TRUE");
  }
}

// ---- Bookmarks and searching ----

TEST_F(OvDataSetTest, BookmarksAreRecordNumbers) {
  Probe ds("Mov");
  Open(ds, ThreeMovies());
  ds.First();
  ds.Next();
  const TBookmark b2 = ds.GetBookmark();
  ds.Last();
  const TBookmark b3 = ds.GetBookmark();
  EXPECT_EQ(ds.CompareBookmarks(b2, b3), -1);
  EXPECT_EQ(ds.CompareBookmarks(b3, b2), 1);
  EXPECT_EQ(ds.CompareBookmarks(b2, b2), 0);
  ds.GotoBookmark(b2);
  EXPECT_EQ(Title(ds), "Beta");
  EXPECT_TRUE(ds.BookmarkValid(b3));
  EXPECT_FALSE(ds.BookmarkValid(TBookmark{9, 0, 0, 0}));
}

TEST_F(OvDataSetTest, LocateMovesOnlyWhenFound) {
  Probe ds("Mov");
  Open(ds, ThreeMovies());
  EXPECT_TRUE(ds.Locate("title", {std::string("gam")}, {.case_insensitive = true, .partial_key = true}));
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_FALSE(ds.Locate("title", {std::string("gam")}, {}));
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_TRUE(ds.Locate("year", {int64_t{1991}}, {}));
  EXPECT_EQ(Title(ds), "Beta");
  TDateTime christmas = 0;
  ASSERT_TRUE(TryEncodeDate(1995, 12, 24, christmas));
  EXPECT_TRUE(ds.Locate("premiere", {christmas}, {}));
  EXPECT_EQ(Title(ds), "Alpha");
  const std::vector<TVarValue> found = ds.Lookup("title", {std::string("Gamma")}, "year");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(std::get<int64_t>(found[0]), 1992);
  EXPECT_EQ(Title(ds), "Alpha");
}

// ---- Field values ----

TEST_F(OvDataSetTest, FieldsGetTheTableClassesAndValues) {
  Probe ds("Mov");
  Open(ds, ThreeMovies());
  auto* year = dynamic_cast<TOvIntegerField*>(ds.FieldByName("year"));
  auto* price = dynamic_cast<TOvFloatField*>(ds.FieldByName("price"));
  auto* premiere = dynamic_cast<TOvDateField*>(ds.FieldByName("premiere"));
  ASSERT_TRUE(year && price && premiere);
  EXPECT_EQ(year->Size(), 4);
  EXPECT_EQ(price->Size(), 8);
  EXPECT_NE(dynamic_cast<TBooleanField*>(ds.FieldByName("seen")), nullptr);
  EXPECT_NE(dynamic_cast<TMemoField*>(ds.FieldByName("plot")), nullptr);
  ds.First();
  EXPECT_EQ(year->AsInteger(), 1990);
  EXPECT_EQ(price->AsFloat(), 0.1);  // through its 2-decimal text
  EXPECT_EQ(premiere->DisplayText(), "12/24/95");
  ds.Next();
  EXPECT_EQ(Title(ds), "Beta");  // trailing blanks dropped
  EXPECT_TRUE(premiere->IsNull());
  EXPECT_EQ(premiere->DisplayText(), "");
}

// Every field of a record as the whole-record conversion gives it, read in
// an area of its own: what the component must answer for that record
// whichever buffer of its window holds it and however the area has moved.
std::vector<std::string> EagerValues(const std::string& path, int32_t recno) {
  Select(20);
  USE(path);
  GO(recno);
  auto props = TDbfFieldProps::FromCurrentArea(true);
  const FieldDataLayout layout = LayOutFieldData(*props);
  std::vector<uint8_t> buffer(layout.record_size, 0);
  CopyRecordToBuffer(*props, layout, buffer.data());
  std::vector<std::string> out;
  for (int n = 1; n <= props->Count(); ++n) {
    const FieldSlot& slot = *layout.Slot(n);
    char value[64] = {};
    const size_t size = slot.kind == TFieldType::ftString ? static_cast<size_t>(slot.framework_size) + 1 : slot.size;
    const bool has = GetFieldValue(buffer.data() + slot.offset, slot, slot.kind, value, size);
    int32_t i32 = 0;
    double f64 = 0;
    std::memcpy(&i32, value, 4);
    std::memcpy(&f64, value, 8);
    switch (slot.kind) {
      case TFieldType::ftString: out.push_back(value); break;
      case TFieldType::ftInteger: out.push_back(has ? std::to_string(i32) : ""); break;
      case TFieldType::ftFloat: out.push_back(has ? FloatToStr(f64) : ""); break;
      case TFieldType::ftBoolean: out.push_back(!has ? "" : value[0] != 0 ? "True" : "False"); break;
      case TFieldType::ftDate: {
        const TDateTime dt = i32 - static_cast<double>(kDateDelta);
        out.push_back(has ? FormatDateTime(FormatSettings().ShortDateFormat, dt) + " " + FloatToStr(dt) : "");
        break;
      }
      default: out.push_back("");  // memo: no memo file is written
    }
  }
  CloseArea();
  Select(1);
  return out;
}

TEST_F(OvDataSetTest, EveryBufferOfTheWindowAnswersItsOwnRecord) {
  // Stored bytes other programs write: control characters, a NUL inside a
  // text, overflowed and blank numbers, odd logicals, dates blank, before
  // 1900 (the display hides the century), impossible, and the framework's
  // day zero.
  const char* const rows[][5] = {
      {"Alpha", "1990", "    0.10", "T", "19951224"},      {"Beta\x01  ", "  -7", "        ", "F", "        "},
      {"x\0yz", "****", "   12.5 ", "?", "18991230"},      {"", "    ", "   -0.00", " ", "18500704"},
      {"\x8e\x99nn", "9999", "99999.99", "Y", "20240230"}, {"Twelve chars", "   1", "    1.00", "t", "20000229"}};
  const std::string path = Path("odd.dbf");
  ASSERT_TRUE(CreateTableFromFields("t", path, &kFields));
  {
    DbfFile dbf;
    dbf.path = path;
    dbf.open_mode = fmode::kReadWrite | fmode::kDenyAll;
    OpenDbf(dbf);
    for (int k = 0; k < 13; ++k) {
      const auto& row = rows[k % 6];
      std::fill(dbf.record.begin(), dbf.record.end(), ' ');
      const size_t widths[] = {20, 4, 8, 1, 8};
      size_t at = 1;
      for (int f = 0; f < 5; ++f) {
        const size_t len = f == 0 && k % 6 == 2 ? 4 : std::strlen(row[f]);  // the NUL is stored
        std::memcpy(dbf.record.data() + at, row[f], len);
        at += widths[f];
      }
      AppendDbfRecord(dbf);
    }
    CloseDbf(dbf);
  }
  ASSERT_EQ(Errors().DbfError, 0);
  std::vector<std::vector<std::string>> expected{{}};
  for (int32_t r = 1; r <= 13; ++r) expected.push_back(EagerValues(path, r));

  Probe ds("Odd");
  TDataLink grid;
  grid.SetBufferCount(5);
  grid.SetDataSet(&ds);
  Open(ds, path);
  const auto check = [&] {
    const int32_t r = ds.RecNo();
    ASSERT_TRUE(r >= 1 && r <= 13);
    for (int n = 1; n <= 6; ++n) {
      TField* f = ds.Fields()[static_cast<size_t>(n - 1)];
      std::string got = f->AsString();
      if (f->DataType() == TFieldType::ftDate && !f->IsNull()) got += " " + FloatToStr(f->AsDateTime());
      EXPECT_EQ(got, expected[static_cast<size_t>(r)][static_cast<size_t>(n - 1)]) << "record " << r << " field " << n;
    }
  };
  // Forward the window fills ahead of the active record; backward the
  // buffers read earlier are shown again.
  for (ds.First(); !ds.Eof(); ds.Next()) check();
  for (ds.Last(); !ds.Bof(); ds.Prior()) check();
  // An edit of one field keeps every other as read.
  ds.First();
  ds.Edit();
  ds.FieldByName("title")->SetAsString("Edited");
  expected[1][0] = "Edited";
  check();
  ds.Cancel();
  grid.SetDataSet(nullptr);
  ds.Close();
}

TEST_F(OvDataSetTest, DateTextIsReadTheEngineWay) {
  Probe ds("Mov");
  const std::string path = ThreeMovies();
  Open(ds, path);
  ds.First();
  ds.Edit();
  TField* premiere = ds.FieldByName("premiere");
  premiere->SetAsString("  /  /  ");
  EXPECT_TRUE(premiere->IsNull());
  premiere->SetAsString("3/4/99");
  EXPECT_EQ(premiere->AsString(), "03/04/99");
  EXPECT_THROW(premiere->SetAsString("not a date"), EConvertError);
  premiere->Clear();
  ds.Post();
  ds.Close();
  Select(20);
  USE(path);
  EXPECT_EQ(GetFieldText(5), "  /  /  ");
  CloseArea();
}

TEST_F(OvDataSetTest, StructureListingOutlivesTheOpen) {
  Probe ds("Mov");
  TStrings lines{"stale"};
  ds.StructureListing(lines, false);
  EXPECT_EQ(lines.Count(), 0);
  Open(ds, ThreeMovies());
  ds.Close();
  ds.StructureListing(lines, true);
  EXPECT_EQ(lines, (TStrings{"plot, M, 10, 0", "premiere, D, 8, 0", "price, N, 8, 2", "seen, L, 1, 0",
                             "title, C, 20, 0", "year, N, 4, 0"}));
}

// ---- Writes ----

TEST_F(OvDataSetTest, AppendEditAndDeleteReachTheTable) {
  Probe ds("Mov");
  const std::string path = ThreeMovies();
  Open(ds, path);
  ds.Append();
  ds.FieldByName("title")->SetAsString("Delta");
  ds.FieldByName("year")->SetAsInteger(2001);
  ds.FieldByName("price")->SetAsFloat(3.14159);
  ds.Post();
  EXPECT_EQ(ds.RecordCount(), 4);
  EXPECT_EQ(ds.RecNo(), 4);
  EXPECT_EQ(ds.FieldByName("price")->AsFloat(), 3.14);
  ds.First();
  ds.Edit();
  ds.FieldByName("title")->SetAsString("Alpha 2");
  ds.Post();
  ds.Next();
  ds.Delete();
  ds.Close();

  Select(20);
  USE(path);
  GO(1);
  EXPECT_EQ(GetFieldText(1), "Alpha 2             ");
  GO(2);
  EXPECT_TRUE(GetDeletedFlag());
  GO(4);
  EXPECT_EQ(GetFieldNumber(2), 2001);
  EXPECT_NEAR(GetFieldNumber(3), 3.14, 1e-9);
  CloseArea();
}

TEST_F(OvDataSetTest, DeletingTheLastVisibleRecordEmptiesTheWindow) {
  Probe ds("Mov");
  Open(ds, MakeTable({{"Solo", 2000, 1, "", ""}}));
  ds.SetHideDeletedRecs(true);
  ds.First();
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof() && ds.Bof());
  EXPECT_TRUE(ds.s_IsEmptyDbf());
  // A new record goes in after the hidden one and is shown alone.
  ds.Append();
  ds.FieldByName("title")->SetAsString("Next");
  ds.Post();
  EXPECT_EQ(Titles(ds), std::vector<std::string>{"Next"});
}

TEST_F(OvDataSetTest, CancelledInsertLeavesNothingBehind) {
  Probe ds("Mov");
  Open(ds, ThreeMovies());
  ds.First();
  ds.Next();
  ds.Insert();
  ds.FieldByName("title")->SetAsString("Ghost");
  ds.Cancel();
  EXPECT_EQ(Title(ds), "Beta");
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(Titles(ds), (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
}

// ---- Memo texts ----

TEST_F(OvDataSetTest, MemoTextsAreReadAndWritten) {
  Probe ds("Mov");
  const std::string path = ThreeMovies();
  Open(ds, path);
  ds.First();
  TField* plot = ds.FieldByName("plot");
  EXPECT_EQ(plot->AsString(), "first plot");
  EXPECT_EQ(plot->DisplayText(), "(MEMO)");
  EXPECT_THROW(plot->SetAsString("browse"), EDatabaseError);
  ds.Edit();
  plot->SetAsString("a much longer plot, with an accent: caf\xe9");
  ds.Post();
  ds.Next();
  EXPECT_EQ(plot->AsString(), "");
  EXPECT_EQ(plot->DisplayText(), "(memo)");
  ds.Append();
  ds.FieldByName("title")->SetAsString("Memo");
  plot->SetAsString("new plot");
  ds.Post();
  ds.Close();

  ds.Open();
  plot = ds.FieldByName("plot");  // the fields were made anew
  ds.First();
  EXPECT_EQ(plot->AsString(), "a much longer plot, with an accent: caf\xe9");
  ds.Last();
  EXPECT_EQ(plot->AsString(), "new plot");
}

TEST_F(OvDataSetTest, MemoEditsReachTheStoredMemoOnlyThroughAPost) {
  Probe ds("Mov");
  const std::string path = ThreeMovies();
  Open(ds, path);
  TField* plot = ds.FieldByName("plot");
  ds.First();
  ds.Edit();
  plot->SetAsString("typed, then dropped");
  plot->SetAsString("typed again, then dropped");
  ds.Cancel();
  EXPECT_EQ(plot->AsString(), "first plot");
  // Replaced memos are given back, so the memo file stops growing.
  const auto memo_size = [&] { return test::ReadAll(Path("movie.dbt")).size(); };
  size_t size = 0;
  for (int round = 0; round < 4; ++round) {
    ds.Edit();
    plot->SetAsString(std::string(600, static_cast<char>('a' + round)));
    ds.Post();
    if (round == 1) size = memo_size();
  }
  EXPECT_EQ(memo_size(), size);
  ds.Next();
  ds.First();
  EXPECT_EQ(plot->AsString(), std::string(600, 'd'));
}

// ---- Design time ----

TEST_F(OvDataSetTest, DatasetThatIsNotLiveShowsOneBlankRecord) {
  const std::string path = ThreeMovies();
  Probe ds("Mov");
  ds.SetDesignTime(true);
  EXPECT_TRUE(ds.IsLive());  // a shared table is held even at design time
  ds.SetExclusive(true);
  EXPECT_FALSE(ds.IsLive());
  Open(ds, path);
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_FALSE(ds.IsEmpty());
  EXPECT_EQ(Title(ds), "");
  EXPECT_EQ(ds.FieldByName("year")->AsInteger(), 0);
  EXPECT_TRUE(ds.FieldByName("premiere")->IsNull());
  EXPECT_EQ(ds.FieldByName("plot")->AsString(), "");
  // The structure was written back into the definition lines.
  EXPECT_EQ(ds.DbfFields(), kFields);
  // The table is not held: another exclusive user gets it.
  Select(20);
  USE(path + " EXCLUSIVE");
  EXPECT_NE(CurrentArea(), nullptr);
  EXPECT_EQ(RecCount(), 3);
  CloseArea();
  // For a moment it is, in an area of its own.
  ds.DirectOpenClose(true);
  ASSERT_NE(ds.WorkArea(), 20);
  Select(ds.WorkArea());
  EXPECT_NE(CurrentArea(), nullptr);
  ds.DirectOpenClose(false);
  EXPECT_EQ(CurrentArea(), nullptr);
  ds.Close();
  EXPECT_EQ(ds.WorkArea(), 0);
}

}  // namespace
}  // namespace ov
