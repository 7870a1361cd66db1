// TOvPrimDataset: buffer layout, status codes, bookmarks and the field
// data protocol, over an in-memory engine.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/ovprimds_fake.h"
#include "tests/test_support.h"

namespace ov {
namespace {

using test::FakeTable;
using test::NumberedRows;

class OvPrimDatasetTest : public test::EngineTest {};

int32_t Int32At(const uint8_t* p) {
  int32_t v = 0;
  std::memcpy(&v, p, 4);
  return v;
}

void ExpectError(const std::function<void()>& f, const std::string& text) {
  try {
    f();
    ADD_FAILURE() << "no error, expected: " << text;
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), text);
  }
}

TEST_F(OvPrimDatasetTest, BufferLayoutFollowsTheAreas) {
  FakeTable plain(NumberedRows(2));
  plain.with_memo_ = false;
  plain.Open();
  EXPECT_EQ(plain.RecordBufferSize(), 30u + 6 + 4);
  EXPECT_EQ(plain.RecordInfoOffset(), 30u);

  FakeTable rich(NumberedRows(2));
  rich.AddField(std::make_unique<TStringField>())->SetFieldName("NAME");
  rich.Field(0)->SetSize(10);
  TField* calc = rich.AddField(std::make_unique<TIntegerField>());
  calc->SetFieldName("TWICE");
  calc->SetFieldKind(TFieldKind::fkCalculated);
  rich.AddField(std::make_unique<TMemoField>())->SetFieldName("NOTES");
  rich.Open();
  // data 34, calculated 1 + 4, one blob slot, record info, bookmark
  EXPECT_EQ(rich.BlobSlotsOffset(), 34u + 5);
  EXPECT_EQ(rich.RecordInfoOffset(), 34u + 5 + 4);
  EXPECT_EQ(rich.BookmarkOffset(), rich.RecordInfoOffset() + 6);
  EXPECT_EQ(rich.RecordBufferSize(), rich.BookmarkOffset() + 4);

  // The fetched record carries its number, a current flag and its bookmark.
  rich.Next();
  const uint8_t* buf = rich.ActiveBuffer();
  EXPECT_EQ(Int32At(buf + rich.RecordInfoOffset()), 2);
  EXPECT_EQ(buf[rich.RecordInfoOffset() + 4], 0);
  EXPECT_EQ(buf[rich.RecordInfoOffset() + 5], 0);
  EXPECT_EQ(Int32At(buf + rich.BookmarkOffset()), 2);
}

TEST_F(OvPrimDatasetTest, CheckTurnsStatusCodesIntoErrors) {
  FakeTable ds;
  EXPECT_NO_THROW(ds.Check(0));
  ExpectError([&] { ds.Check(1401); }, "Dataset error: 1401");
  ExpectError([&] { ds.Check(1402); }, "Dataset error: 1402");
  ExpectError([&] { ds.Check(1403); }, "Dataset error: 1403");
  ExpectError([&] { ds.Check(1404); }, "Missing DbfFilename property");
  ExpectError([&] { ds.Check(1005); }, "Dataset error: engine code 1005");
  EXPECT_EQ(ds.BaseErrorText(1005), "1005");
}

TEST_F(OvPrimDatasetTest, FailedOpenLeavesTheDatasetClosed) {
  FakeTable ds(NumberedRows(1));
  ds.open_status_ = 1404;
  ExpectError([&] { ds.Open(); }, "Missing DbfFilename property");
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.LogFrom(0), "Open");  // no close of a table never opened
  ds.open_status_ = 0;
  ds.Open();
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "r1");
}

TEST_F(OvPrimDatasetTest, FailedFirstFetchClosesTheEngineAgain) {
  FakeTable ds(NumberedRows(1));
  ds.next_status_ = 1005;
  ExpectError([&] { ds.Open(); }, "Dataset error: engine code 1005");
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.log_.back(), "Close");
  EXPECT_EQ(ds.FieldCount(), 0);  // default fields went with it
}

TEST_F(OvPrimDatasetTest, OpenAndCloseCallTheEngineInOrder) {
  FakeTable ds(NumberedRows(2));
  ds.Open();
  EXPECT_EQ(ds.LogFrom(0), "Open SetToBegin");
  EXPECT_EQ(ds.FieldCount(), 6);
  ds.Close();
  EXPECT_EQ(ds.log_.back(), "Close");
  EXPECT_EQ(ds.FieldCount(), 0);

  // Persistent fields survive a close.
  FakeTable kept(NumberedRows(2));
  kept.AddField(std::make_unique<TIntegerField>())->SetFieldName("QTY");
  kept.Open();
  EXPECT_EQ(kept.FieldCount(), 1);
  kept.Close();
  EXPECT_EQ(kept.FieldCount(), 1);
  EXPECT_EQ(kept.Field(0)->FieldNo(), 0);
}

TEST_F(OvPrimDatasetTest, CompareBookmarksPutsAbsentOnesLast) {
  FakeTable ds(NumberedRows(3));
  const TBookmark none;
  const TBookmark b1 = {1, 0, 0, 0}, b3 = {3, 0, 0, 0};
  EXPECT_EQ(ds.CompareBookmarks(b1, b3), 0);  // cursor closed
  EXPECT_EQ(ds.CompareBookmarks(none, none), 0);
  EXPECT_EQ(ds.CompareBookmarks(b1, none), -1);
  EXPECT_EQ(ds.CompareBookmarks(none, b1), 1);
  ds.Open();
  EXPECT_EQ(ds.CompareBookmarks(b1, b3), -1);
  EXPECT_EQ(ds.CompareBookmarks(b3, b1), 1);
  EXPECT_EQ(ds.CompareBookmarks(b3, b3), 0);
  EXPECT_EQ(ds.CompareBookmarks(none, none), 0);
  EXPECT_EQ(ds.CompareBookmarks(b1, none), -1);
  ExpectError([&] { ds.CompareBookmarks(b1, TBookmark{1}); }, "Invalid bookmark");
}

TEST_F(OvPrimDatasetTest, BookmarkValidAsksTheEngine) {
  FakeTable ds(NumberedRows(3));
  EXPECT_FALSE(ds.BookmarkValid({2, 0, 0, 0}));  // closed
  ds.Open();
  EXPECT_TRUE(ds.BookmarkValid({2, 0, 0, 0}));
  EXPECT_FALSE(ds.BookmarkValid({9, 0, 0, 0}));
  EXPECT_FALSE(ds.BookmarkValid({2}));
  // Probing moved the engine; the dataset still reads its own record.
  ds.Next();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "r2");
  EXPECT_EQ(ds.RecNo(), 2);
}

TEST_F(OvPrimDatasetTest, SetRecNoOnTheCurrentRecordFiresNothing) {
  FakeTable ds(NumberedRows(5));
  ds.Open();
  ds.Next();
  int before = 0, after = 0;
  ds.BeforeScroll = [&](TDataSet&) { ++before; };
  ds.AfterScroll = [&](TDataSet&) { ++after; };
  const size_t mark = ds.log_.size();
  ds.SetRecNo(2);
  EXPECT_EQ(before + after, 0);
  EXPECT_EQ(ds.LogFrom(mark), "");
  ds.SetRecNo(4);
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 1);
  EXPECT_EQ(ds.RecNo(), 4);
  EXPECT_EQ(ds.FieldByName("QTY")->AsInteger(), 40);
  // A number beyond the table leaves the engine at its end: the last record.
  ds.SetRecNo(99);
  EXPECT_EQ(ds.RecNo(), 5);
}

TEST_F(OvPrimDatasetTest, GetRecordPastTheEndIsEofEvenWhenChecked) {
  FakeTable ds(NumberedRows(2));
  ds.Open();
  ds.Last();
  std::vector<uint8_t> buf(ds.RecordBufferSize());
  EXPECT_EQ(ds.GetRecord(buf.data(), TGetMode::gmNext, true), TGetResult::grEOF);
  EXPECT_EQ(ds.GetRecord(buf.data(), TGetMode::gmNext, true), TGetResult::grEOF);
  ds.First();
  EXPECT_EQ(ds.GetRecord(buf.data(), TGetMode::gmPrior, true), TGetResult::grBOF);
  ds.next_status_ = 1005;
  EXPECT_EQ(ds.GetRecord(buf.data(), TGetMode::gmNext, false), TGetResult::grError);
  ExpectError([&] { ds.GetRecord(buf.data(), TGetMode::gmNext, true); }, "Dataset error: engine code 1005");
}

TEST_F(OvPrimDatasetTest, GetFieldDataWithoutDestinationIsTrueForDataFields) {
  FakeTable ds(NumberedRows(1));  // DAY holds no date
  TField* calc = ds.AddField(std::make_unique<TIntegerField>());
  calc->SetFieldName("C");
  calc->SetFieldKind(TFieldKind::fkCalculated);
  ds.AddField(std::make_unique<TDateField>())->SetFieldName("DAY");
  ds.Open();
  TField* day = ds.FieldByName("DAY");
  EXPECT_TRUE(ds.GetFieldData(day, nullptr));
  int32_t native = 7;
  EXPECT_FALSE(ds.GetFieldData(day, &native));
  EXPECT_TRUE(day->IsNull());
  EXPECT_EQ(day->AsString(), "");
  EXPECT_FALSE(ds.GetFieldData(calc, nullptr));  // never calculated
}

TEST_F(OvPrimDatasetTest, FieldsRefuseWritesOutsideEditing) {
  FakeTable ds(NumberedRows(2));
  ds.Open();
  TField* qty = ds.FieldByName("QTY");
  ExpectError([&] { qty->SetAsInteger(5); }, "Dataset not in edit or insert mode");
  ExpectError([&] { qty->Clear(); }, "Dataset not in edit or insert mode");
  qty->SetReadOnly(true);
  qty->SetDisplayLabel("Quantity");
  ds.Edit();
  ExpectError([&] { qty->SetAsInteger(5); }, "Field 'Quantity' cannot be modified");
  ds.Cancel();
  EXPECT_EQ(ds.rows_[0].qty, 10);
}

TEST_F(OvPrimDatasetTest, PostingWhileTheEngineIsOffTheRecordFails) {
  FakeTable ds(NumberedRows(2));
  ds.Open();
  ds.Edit();
  ds.FieldByName("QTY")->SetAsInteger(1);
  ds.post_status_ = kOviAtEnd;
  ExpectError([&] { ds.Post(); }, "Dataset error: 1403");
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  ds.post_status_ = 0;
  ds.Post();
  EXPECT_EQ(ds.rows_[0].qty, 1);
}

TEST_F(OvPrimDatasetTest, InsertIntoAnEmptyTableStartsFromAnEmptyWindow) {
  FakeTable ds;
  ds.Open();
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecNo(), 0);
  ds.Insert();
  EXPECT_EQ(ds.LogFrom(2), "InitRecord ForceReread");
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.RecNo(), 0);
  ds.FieldByName("NAME")->SetAsString("first");
  ds.Post();
  ASSERT_EQ(ds.rows_.size(), 1u);
  EXPECT_EQ(ds.log_.back(), "Insert");  // records are added by the insert operation
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "first");
  EXPECT_FALSE(ds.IsEmpty());
}

TEST_F(OvPrimDatasetTest, RecNoInCalculatedStateIsTheCalculatedRecord) {
  FakeTable ds(NumberedRows(4));
  TField* c = ds.AddField(std::make_unique<TIntegerField>());
  c->SetFieldName("N");
  c->SetFieldKind(TFieldKind::fkCalculated);
  std::vector<int32_t> seen;
  ds.OnCalcFields = [&](TDataSet& d) {
    seen.push_back(d.RecNo());
    c->SetAsInteger(d.RecNo() * 100);
  };
  ds.Open();
  ds.Last();
  EXPECT_EQ(c->AsInteger(), 400);
  EXPECT_NE(std::find(seen.begin(), seen.end(), 1), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), 4), seen.end());
}

TEST_F(OvPrimDatasetTest, CloseFailureOnDestructionGoesToTheHandler) {
  std::vector<std::string> seen;
  TExceptionHandler old = SetApplicationExceptionHandler([&](const std::exception_ptr& e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      seen.push_back(x.what());
    }
  });
  {
    FakeTable ds(NumberedRows(1));
    ds.Open();
    ds.close_status_ = 1005;
  }
  SetApplicationExceptionHandler(old);
  EXPECT_EQ(seen, (std::vector<std::string>{"Dataset error: engine code 1005"}));
}

}  // namespace
}  // namespace ov
