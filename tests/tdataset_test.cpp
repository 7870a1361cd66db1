// The dataset framework as a user sees it: navigation over the buffer
// window, editing, bookmarks, searches, events, calculated and lookup
// fields, data links, field conversions and memory streams.
#include <gtest/gtest.h>

#include "dataset/format_settings.h"
#include "dataset/tstream.h"
#include "tests/ovprimds_fake.h"
#include "tests/test_support.h"

namespace ov {
namespace {

using test::FakeTable;
using test::NumberedRows;

class DataSetTest : public test::EngineTest {
 protected:
  void TearDown() override {
    FormatSettings() = saved_;
    test::EngineTest::TearDown();
  }
  TFormatSettings saved_ = FormatSettings();
};

std::string Names(FakeTable& ds, bool forward) {
  std::string out;
  if (forward) {
    for (ds.First(); !ds.Eof(); ds.Next()) out += ds.FieldByName("NAME")->AsString() + " ";
  } else {
    for (ds.Last(); !ds.Bof(); ds.Prior()) out += ds.FieldByName("NAME")->AsString() + " ";
  }
  return out;
}

class WindowLink : public TDataLink {
 public:
  std::vector<std::string> events;
  std::vector<TField*> changed;

 protected:
  void ActiveChanged() override { events.push_back("active"); }
  void EditingChanged() override { events.push_back("editing"); }
  void RecordChanged(TField* f) override { changed.push_back(f); }
};

// ---- Navigation ----

TEST_F(DataSetTest, WalksBothWaysWithAnyWindowSize) {
  for (int window : {1, 3, 10}) {
    SCOPED_TRACE(window);
    FakeTable ds(NumberedRows(5));
    WindowLink link;
    link.SetBufferCount(window);
    link.SetDataSet(&ds);
    ds.Open();
    EXPECT_EQ(ds.BufferCount(), window);
    EXPECT_EQ(Names(ds, true), "r1 r2 r3 r4 r5 ");
    EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "r5");  // Eof stays on the last
    EXPECT_EQ(Names(ds, false), "r5 r4 r3 r2 r1 ");
    EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "r1");
    EXPECT_EQ(ds.MoveBy(3), 3);
    EXPECT_EQ(ds.RecNo(), 4);
    EXPECT_EQ(ds.MoveBy(10), 1);
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.MoveBy(-2), -2);
    EXPECT_EQ(ds.RecNo(), 3);
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(ds.MoveBy(-10), -2);
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(ds.RecordCount(), 5);
  }
}

TEST_F(DataSetTest, WindowFollowsLinksJoiningAnOpenDataset) {
  FakeTable ds(NumberedRows(6));
  ds.Open();
  ds.MoveBy(2);
  WindowLink link;
  link.SetBufferCount(4);
  link.SetDataSet(&ds);
  EXPECT_EQ(ds.BufferCount(), 4);
  EXPECT_EQ(ds.WindowCount(), 4);
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(Names(ds, false), "r6 r5 r4 r3 r2 r1 ");
  link.SetDataSet(nullptr);
  ds.First();  // the next refill shrinks it again
  EXPECT_EQ(ds.BufferCount(), 1);
  EXPECT_EQ(Names(ds, true), "r1 r2 r3 r4 r5 r6 ");
  EXPECT_THROW(ds.FieldByName("QTY")->SetSize(3), EDatabaseError);
}

TEST_F(DataSetTest, EmptyTableIsBothEofAndBof) {
  FakeTable ds;
  ds.Open();
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.MoveBy(1), 0);
  ds.Last();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "");
  EXPECT_THROW(ds.Delete(), EDatabaseError);
}

TEST_F(DataSetTest, ClosedDatasetRefusesWork) {
  FakeTable ds(NumberedRows(1));
  EXPECT_THROW(ds.First(), EDatabaseError);
  EXPECT_THROW(ds.RecordCount(), EDatabaseError);
  ds.Open();
  EXPECT_THROW(ds.AddField(std::make_unique<TStringField>()), EDatabaseError);
  EXPECT_THROW(ds.FieldByName("missing"), EDatabaseError);
  EXPECT_EQ(ds.FindField("missing"), nullptr);
  EXPECT_EQ(ds.FindField("qty"), ds.FieldByName("QTY"));
}

// ---- Editing ----

TEST_F(DataSetTest, EditPostAndCancel) {
  FakeTable ds(NumberedRows(3));
  ds.Open();
  ds.Next();
  ds.Edit();
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  ds.FieldByName("NAME")->SetAsString("changed");
  EXPECT_TRUE(ds.Modified());
  ds.Post();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.rows_[1].name, "changed");
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "changed");

  ds.Edit();
  ds.FieldByName("QTY")->SetAsInteger(-1);
  ds.Cancel();
  EXPECT_EQ(ds.rows_[1].qty, 20);
  EXPECT_EQ(ds.FieldByName("QTY")->AsInteger(), 20);

  // Moving away posts a modified record.
  ds.Edit();
  ds.FieldByName("QTY")->SetAsInteger(7);
  ds.Next();
  EXPECT_EQ(ds.rows_[1].qty, 7);
  EXPECT_EQ(ds.RecNo(), 3);
}

TEST_F(DataSetTest, AppendAndInsertAddRecords) {
  FakeTable ds(NumberedRows(3));
  ds.Open();
  ds.Append();
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  ds.FieldByName("NAME")->SetAsString("new");
  ds.FieldByName("QTY")->SetAsInteger(99);
  ds.Post();
  ASSERT_EQ(ds.rows_.size(), 4u);
  EXPECT_EQ(ds.rows_[3].name, "new");
  EXPECT_EQ(ds.RecNo(), 4);
  EXPECT_EQ(ds.FieldByName("QTY")->AsInteger(), 99);

  ds.First();
  ds.Insert();
  ds.FieldByName("NAME")->SetAsString("ins");
  ds.Post();
  EXPECT_EQ(ds.rows_.size(), 5u);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "ins");
  EXPECT_EQ(Names(ds, true), "r1 r2 r3 new ins ");
}

TEST_F(DataSetTest, CancelledInsertReturnsToTheRecordItDisplaced) {
  FakeTable ds(NumberedRows(4));
  WindowLink link;
  link.SetBufferCount(3);
  link.SetDataSet(&ds);
  ds.Open();
  ds.MoveBy(2);
  ds.Insert();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "");
  ds.Cancel();
  EXPECT_EQ(ds.rows_.size(), 4u);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "r3");
  ds.Append();
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "r4");
  EXPECT_EQ(Names(ds, true), "r1 r2 r3 r4 ");
}

TEST_F(DataSetTest, DeleteMovesToTheNextRecord) {
  FakeTable ds(NumberedRows(3));
  ds.Open();
  ds.Next();
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "r3");
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "r1");
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.rows_.empty());
  EXPECT_EQ(ds.RecNo(), 0);
}

TEST_F(DataSetTest, ReadOnlyDatasetRefusesEdits) {
  class ReadOnlyTable : public FakeTable {
   public:
    using FakeTable::FakeTable;

   protected:
    bool GetCanModify() override { return false; }
  } ds(NumberedRows(1));
  ds.Open();
  EXPECT_THROW(ds.Edit(), EDatabaseError);
  EXPECT_THROW(ds.Append(), EDatabaseError);
  EXPECT_THROW(ds.Delete(), EDatabaseError);
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
}

TEST_F(DataSetTest, PostErrorHandlerRetriesAbortsOrFails) {
  FakeTable ds(NumberedRows(1));
  ds.Open();
  TDataAction answer = TDataAction::daRetry;
  int calls = 0;
  ds.OnPostError = [&](TDataSet&, const EDatabaseError& e, TDataAction& action) {
    ++calls;
    EXPECT_EQ(std::string(e.what()), "Dataset error: engine code 1005");
    action = answer;
  };
  ds.Edit();
  ds.FieldByName("QTY")->SetAsInteger(1);
  ds.post_failures_ = 1;
  ds.Post();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ds.rows_[0].qty, 1);

  ds.Edit();
  ds.FieldByName("QTY")->SetAsInteger(2);
  ds.post_failures_ = 1;
  answer = TDataAction::daAbort;
  EXPECT_THROW(ds.Post(), EAbort);
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  ds.post_failures_ = 1;
  answer = TDataAction::daFail;
  try {
    ds.Post();
    ADD_FAILURE();
  } catch (const EAbort&) {
    ADD_FAILURE() << "a failing post is not an abort";
  } catch (const EDatabaseError&) {
  }
  EXPECT_EQ(ds.rows_[0].qty, 1);
}

TEST_F(DataSetTest, ValidationSeesThePendingValueAndMayRefuse) {
  FakeTable ds(NumberedRows(1));
  ds.Open();
  TField* qty = ds.FieldByName("QTY");
  std::vector<int32_t> seen;
  qty->OnValidate = [&](TField& f) {
    seen.push_back(f.AsInteger());
    if (f.AsInteger() < 0) DatabaseError("negative");
  };
  ds.Edit();
  qty->SetAsInteger(5);
  EXPECT_THROW(qty->SetAsInteger(-5), EDatabaseError);
  EXPECT_EQ(qty->AsInteger(), 5);
  EXPECT_EQ(seen, (std::vector<int32_t>{5, -5}));
}

// ---- Events ----

void TraceEvents(FakeTable& ds) {
  auto log = [&ds](const char* name) { return [&ds, name](TDataSet&) { ds.Log(name); }; };
  ds.BeforeOpen = log("BeforeOpen");
  ds.AfterOpen = log("AfterOpen");
  ds.BeforeClose = log("BeforeClose");
  ds.AfterClose = log("AfterClose");
  ds.BeforeInsert = log("BeforeInsert");
  ds.AfterInsert = log("AfterInsert");
  ds.BeforeEdit = log("BeforeEdit");
  ds.AfterEdit = log("AfterEdit");
  ds.BeforePost = log("BeforePost");
  ds.AfterPost = log("AfterPost");
  ds.BeforeCancel = log("BeforeCancel");
  ds.AfterCancel = log("AfterCancel");
  ds.BeforeDelete = log("BeforeDelete");
  ds.AfterDelete = log("AfterDelete");
  ds.BeforeScroll = log("BeforeScroll");
  ds.AfterScroll = log("AfterScroll");
  ds.OnNewRecord = log("OnNewRecord");
}

TEST_F(DataSetTest, EventsComeInTheirOrder) {
  FakeTable ds(NumberedRows(2));
  TraceEvents(ds);
  ds.Open();
  EXPECT_EQ(ds.LogFrom(0), "BeforeOpen Open SetToBegin AfterOpen AfterScroll");
  size_t mark = ds.log_.size();
  ds.Edit();
  ds.FieldByName("QTY")->SetAsInteger(3);
  ds.Post();
  EXPECT_EQ(ds.LogFrom(mark), "BeforeEdit AfterEdit BeforePost Post AfterPost");
  mark = ds.log_.size();
  ds.Append();
  ds.Cancel();
  EXPECT_EQ(ds.LogFrom(mark),
            "BeforeInsert BeforeScroll InitRecord SetToEnd OnNewRecord AfterInsert AfterScroll "
            "BeforeCancel SetToEnd AfterCancel");
  mark = ds.log_.size();
  ds.Delete();
  EXPECT_EQ(ds.LogFrom(mark), "BeforeDelete BeforeScroll Delete AfterDelete AfterScroll");
  mark = ds.log_.size();
  ds.Close();
  EXPECT_EQ(ds.LogFrom(mark), "BeforeClose Close AfterClose");
}

TEST_F(DataSetTest, FailingNewRecordHandlerLeavesBrowseState) {
  FakeTable ds(NumberedRows(2));
  ds.Open();
  ds.Next();
  ds.OnNewRecord = [](TDataSet&) { DatabaseError("no"); };
  EXPECT_THROW(ds.Insert(), EDatabaseError);
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "r2");
}

// ---- Bookmarks and searches ----

TEST_F(DataSetTest, BookmarksBringTheRecordBack) {
  FakeTable ds(NumberedRows(6));
  ds.Open();
  ds.MoveBy(3);
  const TBookmark mark = ds.GetBookmark();
  ASSERT_EQ(mark.size(), 4u);
  ds.First();
  ds.GotoBookmark(mark);
  EXPECT_EQ(ds.RecNo(), 4);
  ds.GotoBookmark(TBookmark());  // nothing to go to
  EXPECT_EQ(ds.RecNo(), 4);
  EXPECT_THROW(ds.GotoBookmark({1, 2}), EDatabaseError);
  ds.rows_.erase(ds.rows_.begin() + 1);  // record 2 vanishes behind our back
  try {
    ds.GotoBookmark({2, 0, 0, 0});
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "Record not found");
  }
}

TEST_F(DataSetTest, LocateMovesOnlyWhenFound) {
  FakeTable ds(NumberedRows(5));
  ds.Open();
  EXPECT_TRUE(ds.Locate("NAME", {std::string("R4")}, {.case_insensitive = true}));
  EXPECT_EQ(ds.RecNo(), 4);
  EXPECT_FALSE(ds.Locate("NAME", {std::string("R2")}, {}));
  EXPECT_EQ(ds.RecNo(), 4);
  EXPECT_TRUE(ds.Locate("NAME;QTY", {std::string("r"), int64_t{20}}, {.partial_key = true}));
  EXPECT_EQ(ds.RecNo(), 2);
}

TEST_F(DataSetTest, LookupAnswersWithoutMoving) {
  FakeTable ds(NumberedRows(5));
  ds.Open();
  ds.Next();
  const std::vector<TVarValue> hit = ds.Lookup("QTY", {int64_t{40}}, "NAME;PRICE");
  ASSERT_EQ(hit.size(), 2u);
  EXPECT_EQ(std::get<std::string>(hit[0]), "r4");
  EXPECT_DOUBLE_EQ(std::get<double>(hit[1]), 4.5);
  EXPECT_TRUE(ds.Lookup("NAME", {std::string("R4")}, "QTY").empty());  // exact, case-sensitive
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.RecNo(), 2);
  ds.Next();
  EXPECT_EQ(ds.RecNo(), 3);
}

TEST_F(DataSetTest, FindWalksTheEngineOrder) {
  FakeTable ds(NumberedRows(3));
  ds.Open();
  EXPECT_TRUE(ds.FindLast());
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_TRUE(ds.FindPrior());
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_TRUE(ds.FindNext());
  EXPECT_TRUE(ds.FindNext());
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_FALSE(ds.FindNext());
  EXPECT_FALSE(ds.Found());
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "r3");
}

// ---- Calculated and lookup fields ----

TEST_F(DataSetTest, CalculatedFieldsFollowTheRecordAndItsEdits) {
  FakeTable ds(NumberedRows(3));
  ds.AddField(std::make_unique<TIntegerField>())->SetFieldName("QTY");
  TField* twice = ds.AddField(std::make_unique<TIntegerField>());
  twice->SetFieldName("TWICE");
  twice->SetFieldKind(TFieldKind::fkCalculated);
  ds.OnCalcFields = [](TDataSet& d) { d.FieldByName("TWICE")->SetAsInteger(d.FieldByName("QTY")->AsInteger() * 2); };
  ds.Open();
  EXPECT_EQ(twice->AsInteger(), 20);
  ds.Next();
  EXPECT_EQ(twice->AsInteger(), 40);
  ds.Edit();
  ds.FieldByName("QTY")->SetAsInteger(50);
  EXPECT_EQ(twice->AsInteger(), 100);
  ds.Cancel();
  EXPECT_EQ(twice->AsInteger(), 40);
  // Data fields are out of reach while calculating.
  ds.OnCalcFields = [](TDataSet& d) { d.FieldByName("QTY")->SetAsInteger(1); };
  EXPECT_THROW(ds.Next(), EDatabaseError);
}

TEST_F(DataSetTest, LookupFieldsReadTheOtherDataset) {
  FakeTable colours(NumberedRows(3));
  colours.Open();
  FakeTable ds(NumberedRows(3));
  ds.AddField(std::make_unique<TIntegerField>())->SetFieldName("QTY");
  TField* name = ds.AddField(std::make_unique<TStringField>());
  name->SetFieldName("OTHER");
  name->SetSize(10);
  name->SetLookup(&colours, "QTY", "QTY", "NAME");
  ds.Open();
  EXPECT_EQ(name->AsString(), "r1");
  ds.Last();
  EXPECT_EQ(name->AsString(), "r3");
  colours.rows_.pop_back();
  ds.First();
  ds.Last();
  EXPECT_TRUE(name->IsNull());
  EXPECT_EQ(colours.RecNo(), 1);  // the lookups left it where it was
}

// ---- Data links ----

TEST_F(DataSetTest, DataLinksHearOfChanges) {
  FakeTable ds(NumberedRows(2));
  WindowLink link;
  link.SetDataSet(&ds);
  ds.Open();
  ds.Edit();
  TField* qty = ds.FieldByName("QTY");
  qty->SetAsInteger(4);
  ds.Post();
  ds.Close();
  EXPECT_EQ(link.events, (std::vector<std::string>{"active", "editing", "editing", "active"}));
  ASSERT_EQ(link.changed.size(), 2u);
  EXPECT_EQ(link.changed[0], nullptr);  // entering edit
  EXPECT_EQ(link.changed[1], qty);

  // A link that dies first leaves the dataset; a dataset that dies first
  // lets go of its links.
  {
    WindowLink brief;
    brief.SetDataSet(&ds);
  }
  auto other = std::make_unique<FakeTable>();
  link.SetDataSet(other.get());
  other.reset();
  EXPECT_EQ(link.DataSet(), nullptr);
}

// ---- Field conversions ----

TEST_F(DataSetTest, FieldKindsConvertTheirValues) {
  FormatSettings().ShortDateFormat = "dd.MM.yyyy";
  FormatSettings().DateSeparator = '.';
  FormatSettings().DecimalSeparator = ',';
  FakeTable ds(NumberedRows(1));
  ds.rows_[0].notes = "memo text";
  ds.Open();
  TField* name = ds.FieldByName("NAME");
  TField* qty = ds.FieldByName("QTY");
  TField* price = ds.FieldByName("PRICE");
  TField* ok = ds.FieldByName("OK");
  TField* day = ds.FieldByName("DAY");
  TField* notes = ds.FieldByName("NOTES");
  EXPECT_EQ(name->DataSize(), 11);
  EXPECT_EQ(price->AsString(), "1,5");
  EXPECT_EQ(ok->AsString(), "False");
  EXPECT_EQ(notes->AsString(), "memo text");
  EXPECT_EQ(notes->DisplayText(), "(MEMO)");
  EXPECT_THROW(notes->SetAsString("x"), EDatabaseError);  // no blob writer yet

  ds.Edit();
  name->SetAsString("a much longer name");
  EXPECT_EQ(name->AsString(), "a much lon");
  qty->SetText("  42 ");
  EXPECT_EQ(std::get<int64_t>(qty->Value()), 42);
  EXPECT_THROW(qty->SetAsString("4x"), EDatabaseError);
  EXPECT_THROW(qty->SetAsFloat(1e12), EDatabaseError);
  price->SetAsString("2,25");
  EXPECT_DOUBLE_EQ(price->AsFloat(), 2.25);
  EXPECT_EQ(price->AsInteger(), 2);
  ok->SetText("t");
  EXPECT_TRUE(ok->AsBoolean());
  EXPECT_THROW(ok->SetAsString("maybe"), EDatabaseError);
  day->SetAsString("29.02.2000");
  EXPECT_EQ(day->AsString(), "29.02.2000");
  EXPECT_DOUBLE_EQ(day->AsDateTime(), 36585);
  EXPECT_THROW(day->SetAsString("31.02.2000"), EDatabaseError);
  EXPECT_THROW(day->SetAsInteger(1), EDatabaseError);  // no integer form
  day->SetValue(std::monostate{});
  EXPECT_TRUE(day->IsNull());
  ds.Post();
  EXPECT_EQ(ds.rows_[0].name, "a much lon");
  EXPECT_EQ(ds.rows_[0].qty, 42);
  EXPECT_TRUE(ds.rows_[0].ok);
  EXPECT_EQ(ds.rows_[0].day, 0);
}

TEST_F(DataSetTest, DefaultFieldsTakeTheirSizeFromTheDefinitions) {
  class SizedTable : public FakeTable {
   public:
    using FakeTable::FakeTable;

   protected:
    void InternalInitFieldDefs() override {
      FakeTable::InternalInitFieldDefs();
      FieldDefs().Add({"ODD", TFieldType::ftUnknown, 0, 7, false});  // not shown
      std::vector<TFieldDef> defs = FieldDefs().Items();
      defs[1].size = 4;  // a framework integer field takes no size
      FieldDefs().Clear();
      for (const TFieldDef& d : defs) FieldDefs().Add(d);
    }
  } ds(NumberedRows(1));
  EXPECT_THROW(ds.Open(), EDatabaseError);
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.log_.back(), "Close");
}

// ---- Streams ----

TEST_F(DataSetTest, MemoryStreamReadsWritesAndSeeks) {
  TMemoryStream s;
  s.WriteBuffer("hello world", 11);
  EXPECT_EQ(s.Size(), 11);
  s.SetPosition(6);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 5);
  EXPECT_EQ(std::string(buf, 5), "world");
  EXPECT_THROW(s.ReadBuffer(buf, 1), EDatabaseError);
  EXPECT_THROW(s.Seek(1, TSeekOrigin::soEnd), EDatabaseError);
  s.Seek(-5, TSeekOrigin::soEnd);
  s.WriteBuffer("there!", 6);
  EXPECT_EQ(s.DataString(), "hello there!");
  TMemoryStream copy;
  copy.CopyFrom(s, 0);
  EXPECT_EQ(copy.DataString(), "hello there!");
  s.SetSize(5);
  EXPECT_EQ(s.Position(), 5);
  EXPECT_EQ(s.DataString(), "hello");
}

}  // namespace
}  // namespace ov
