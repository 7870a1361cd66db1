// Blob streams over memo fields of the table component: text translation
// decided on the first piece, the caller's buffer left alone, the empty
// rewrite, one stream per table, and headerless dBASE III memos.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "dataset/db_error.h"
#include "dataset/format_settings.h"
#include "dataset/ovblobstream.h"
#include "dataset/ucommon.h"
#include "dataset/uovfds.h"
#include "engine/dbf/dbf4.h"
#include "engine/support/ovcommon.h"
#include "engine/support/platform.h"
#include "tests/dataset_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

const TStrings kFields = {"title, C, 20, 0", "plot, M, 10, 0"};

class BlobTest : public test::DatasetTest {
 protected:
  void SetUp() override { test::DatasetTest::SetUp(); }
  // Opens `dbf` on a new table with one record whose memo is `plot`.
  void OpenWithMemo(TOvDbf& dbf, const std::string& plot) {
    path_ = Path("blob.dbf");
    dbf.DbfFields() = kFields;
    dbf.SetDbfFileName(path_);
    dbf.Open();
    dbf.Append();
    dbf.FieldByName("title")->SetAsString("one");
    if (!plot.empty()) dbf.FieldByName("plot")->SetAsString(plot);
    dbf.Post();
  }
  std::string MemoFile() const {
    const std::vector<uint8_t> b = test::ReadAll(ResolveName(ForceExt(path_, "DBT")));
    return std::string(b.begin(), b.end());
  }
  static std::string ReadAllOf(TStream& s) {
    std::string out(256, '\0');
    out.resize(static_cast<size_t>(s.Read(out.data(), static_cast<int64_t>(out.size()))));
    return out;
  }

  std::string path_;
};

TEST_F(BlobTest, FirstPieceDecidesTranslationAndTheCallerKeepsItsBytes) {
  struct Case {
    const char* name;
    TOvTableLanguage language;
    std::string written, stored;
  } cases[] = {
      {"text in an OEM table", TOvTableLanguage::tlOem, "Caf\xE9 \xBD\r\n\tend", "Caf\x82 \xAB\r\n\tend"},
      {"binary first piece", TOvTableLanguage::tlOem, std::string("\x01 Caf\xE9", 6), std::string("\x01 Caf\xE9", 6)},
      {"ANSI table", TOvTableLanguage::tlAnsi, "Caf\xE9", "Caf\xE9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TOvDbf dbf("B");
    dbf.SetTableLanguage(c.language);
    OpenWithMemo(dbf, "");
    dbf.Edit();
    const std::vector<char> caller(c.written.begin(), c.written.end());
    std::vector<char> buffer = caller;
    {
      auto stream = dbf.CreateBlobStream(dbf.FieldByName("plot"), TBlobStreamMode::bmWrite);
      EXPECT_EQ(stream->Write(buffer.data(), static_cast<int64_t>(buffer.size())), int64_t(buffer.size()));
    }
    EXPECT_EQ(buffer, caller) << "the caller's buffer was converted";
    dbf.Post();
    EXPECT_NE(MemoFile().find(c.stored), std::string::npos);
    EXPECT_EQ(dbf.FieldByName("plot")->AsString(), c.written);
    dbf.Close();
    std::filesystem::remove(path_);
    std::filesystem::remove(ResolveName(ForceExt(path_, "DBT")));
  }
}

TEST_F(BlobTest, WriteStreamDestroyedAtOnceEmptiesTheMemo) {
  TOvDbf dbf("B");
  OpenWithMemo(dbf, "old plot");
  dbf.Edit();
  dbf.CreateBlobStream(dbf.FieldByName("plot"), TBlobStreamMode::bmWrite).reset();
  dbf.Post();
  dbf.Close();
  dbf.Open();
  EXPECT_EQ(dbf.FieldByName("plot")->AsString(), "");
  const std::vector<uint8_t> table = test::ReadAll(path_);
  const size_t record = table[8] | (table[9] << 8);
  EXPECT_EQ(TrimText(std::string(table.begin() + long(record) + 21, table.begin() + long(record) + 31)), "")
      << "the record still refers to a memo";
}

TEST_F(BlobTest, SecondStreamOnOneTableIsRefused) {
  TOvDbf dbf("B");
  OpenWithMemo(dbf, "first memo");
  dbf.Edit();
  TField* plot = dbf.FieldByName("plot");
  {
    auto reader = dbf.CreateBlobStream(plot, TBlobStreamMode::bmRead);
    EXPECT_THROW(dbf.CreateBlobStream(plot, TBlobStreamMode::bmWrite), EDatabaseError);
    EXPECT_EQ(ReadAllOf(*reader), "first memo") << "the refused stream disturbed the open one";
  }
  {
    auto writer = dbf.CreateBlobStream(plot, TBlobStreamMode::bmWrite);
    writer->WriteBuffer("second", 6);
  }
  dbf.Post();
  EXPECT_EQ(plot->AsString(), "second");
}

TEST_F(BlobTest, FailedWriteLeavesTheRecordWithItsOldMemo) {
  TOvDbf dbf("B");
  OpenWithMemo(dbf, "old plot");
  dbf.Edit();
  {
    auto writer = dbf.CreateBlobStream(dbf.FieldByName("plot"), TBlobStreamMode::bmWrite);
    env_.FailWriteAfter(1);
    EXPECT_THROW(writer->WriteBuffer("new plot", 8), EDatabaseError);
    env_.FailWriteAfter(0);
  }
  EXPECT_EQ(dbf.FieldByName("plot")->AsString(), "old plot");
  dbf.Post();
  dbf.Close();
  dbf.Open();
  EXPECT_EQ(dbf.FieldByName("plot")->AsString(), "old plot");
}

TEST_F(BlobTest, HeaderlessDbase3MemoReadsToItsEndMarkAndSeeksToItsLength) {
  const std::string path = Path("db3.dbf");
  for (const char* ext : {"dbf", "dbt"}) {
    test::WriteAll(ForceExt(path, ext), test::ReadAll(test::FixturesDir() + "/db3_memo_pydbf." + ext));
  }
  TOvDbf dbf("B");
  dbf.SetDbfFileName(path);
  dbf.Open();
  auto stream = dbf.CreateBlobStream(dbf.FieldByName("notes"), TBlobStreamMode::bmRead);
  EXPECT_EQ(stream->Seek(0, TSeekOrigin::soEnd), 10);
  stream->Seek(0, TSeekOrigin::soBeginning);
  EXPECT_EQ(ReadAllOf(*stream), "short memo");
}

}  // namespace
}  // namespace ov
