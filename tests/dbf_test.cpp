// Table files: creation byte for byte, opening in every layout, record
// reads and writes, header and end-of-file maintenance.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "engine/dbf/ovdbflow.h"
#include "engine/support/ovcommon.h"
#include "tests/dbf_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

class DbfTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    env_.SetToday(2024, 3, 15);
  }
};

TEST_F(DbfTest, CreatedHeaderIsExactToTheByte) {
  DbfFile dbf;
  std::vector<FieldDef> defs = {{"name", 'C', 20, 0}, {"notes", 'M', 0, 0}};
  CreateDbf(dbf, Path("t"), defs);
  auto b = test::ReadAll(Path("t.DBF"));
  ASSERT_EQ(b.size(), 32u + 64 + 1 + 1);
  EXPECT_EQ(b[0], 0x8B);
  EXPECT_EQ(b[1], 124);  // 2024 - 1900
  EXPECT_EQ(b[2], 3);
  EXPECT_EQ(b[3], 15);
  EXPECT_EQ(test::Le32(b, 4), 0u);
  EXPECT_EQ(test::Le16(b, 8), 97);
  EXPECT_EQ(test::Le16(b, 10), 31);
  for (int i = 12; i < 32; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[32]), 4), "NAME");
  EXPECT_EQ(b[36], 0);
  EXPECT_EQ(b[32 + 11], 'C');
  EXPECT_EQ(b[32 + 16], 20);
  EXPECT_EQ(b[64 + 11], 'M');
  EXPECT_EQ(b[64 + 16], 10);
  EXPECT_EQ(b[96], 0x0D);
  EXPECT_EQ(b[97], 0x1A);
  auto memo = test::ReadAll(Path("t.DBT"));
  ASSERT_EQ(memo.size(), 24u);
  EXPECT_EQ(test::Le32(memo, 0), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&memo[8]), 1), "t");
  EXPECT_EQ(test::Le16(memo, 18), 0x0102);
  EXPECT_EQ(test::Le16(memo, 20), 512);
}

TEST_F(DbfTest, VersionByteFollowsMemoFieldsAndRequestedVersion) {
  struct Case {
    uint8_t create;
    bool memo;
    uint8_t expect;
  } cases[] = {{0x8B, false, 0x03}, {0x8B, true, 0x8B}, {0x8C, false, 0x04},
               {0x8C, true, 0x8C},  {0x83, true, 0x83}, {0xF5, true, 0xF5}};
  int i = 0;
  for (const Case& c : cases) {
    Engine().table.CreateVersion = c.create;
    std::vector<FieldDef> defs = {{"a", 'C', 5, 0}};
    if (c.memo) defs.push_back({"m", 'M', 10, 0});
    std::string name = Path("v" + std::to_string(i++));
    DbfFile dbf;
    CreateDbf(dbf, name, defs);
    EXPECT_EQ(test::ReadAll(name + ".DBF")[0], c.expect) << int(c.create) << c.memo;
  }
}

TEST_F(DbfTest, Level7HeaderCarriesTheLanguageDriver) {
  Engine().table.CreateVersion = 0x8C;
  std::vector<FieldDef> defs = {{"a", 'C', 5, 0}, {"b", 'N', 6, 2}, {"c", 'L', 1, 0}};
  DbfFile dbf;
  CreateDbf(dbf, Path("l7"), defs);
  auto b = test::ReadAll(Path("l7.DBF"));
  EXPECT_EQ(b[0], 0x04);
  EXPECT_EQ(test::Le16(b, 8), 213);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[32]), 8), "DBWINWE0");
  for (int i = 40; i < 68; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(b[68 + 48 + 32], 'N');
  EXPECT_EQ(b[68 + 48 + 33], 6);
  EXPECT_EQ(b[68 + 48 + 34], 2);
  EXPECT_EQ(b[212], 0x0D);
  dbf.path = Path("l7");
  OpenDbf(dbf);
  ASSERT_EQ(dbf.field_count, 3);
  EXPECT_EQ(dbf.layout, DbfLayout::kLevel7);
  EXPECT_EQ(dbf.fields[1].name, "B");
  EXPECT_EQ(dbf.fields[1].offset, 6);
  CloseDbf(dbf);
}

TEST_F(DbfTest, CreationForcesLengthsAndRejectsBadDefinitions) {
  std::vector<FieldDef> defs = {
      {" long_field_name_x ", 'l', 5, 3}, {"d", 'D', 3, 1}, {"m", 'M', 1, 0}, {"f", 'F', 8, 3}};
  DbfFile dbf;
  CreateDbf(dbf, Path("forced"), defs);
  dbf.path = Path("forced");
  OpenDbf(dbf);
  ASSERT_EQ(dbf.field_count, 4);
  EXPECT_EQ(dbf.fields[0].name, "LONG_FIELD");
  EXPECT_EQ(dbf.fields[0].length, 1);
  EXPECT_EQ(dbf.fields[0].decimals, 0);
  EXPECT_EQ(dbf.fields[1].length, 8);
  EXPECT_EQ(dbf.fields[2].length, 10);
  EXPECT_EQ(dbf.fields[3].type, 'F');
  EXPECT_EQ(dbf.record_length, 1 + 1 + 8 + 10 + 8);
  CloseDbf(dbf);

  QuietErrors quiet;
  for (const FieldDef& bad : {FieldDef{"c", 'C', 0, 0}, FieldDef{"c", 'C', 256, 0}, FieldDef{"x", 'X', 5, 0},
                              FieldDef{"g", 'G', 10, 0}, FieldDef{"", 'C', 5, 0}}) {
    Engine().table.CreateVersion = 0x83;  // G only for dBASE IV and level 7
    std::vector<FieldDef> one = {bad};
    CreateDbf(dbf, Path("bad"), one);
    EXPECT_EQ(Errors().DbfError, 211) << bad.type;
    EXPECT_EQ(Errors().ErrorContext, "Invalid dBASE field definition [CreateDBF]");
    EXPECT_FALSE(test::Exists(Path("bad.DBF")));
  }
  Engine().table.CreateVersion = 0x83;
  std::vector<FieldDef> f83 = {{"f", 'F', 8, 2}, {"m", 'm', 10, 0}};
  CreateDbf(dbf, Path("v83"), f83);
  EXPECT_EQ(test::ReadAll(Path("v83.DBF"))[32 + 11], 'N');
  EXPECT_EQ(test::ReadAll(Path("v83.DBT")).size(), 513u);
}

TEST_F(DbfTest, RecordsReadWriteAppendAndEndOfFile) {
  DbfFile dbf = test::MakeTable(Path("r"), {{"name", 'C', 10, 0}, {"qty", 'N', 4, 0}});
  EXPECT_EQ(dbf.current_record, 0);
  EXPECT_TRUE(dbf.at_end);
  EXPECT_TRUE(dbf.at_beginning);
  test::SetRecord(dbf, " Anna      1234");
  AppendDbfRecord(dbf);
  test::SetRecord(dbf, "*Bob       0007");
  PutDbfRecord(dbf, dbf.record_count + 5);  // beyond the end appends
  EXPECT_EQ(dbf.record_count, 2);
  EXPECT_EQ(dbf.current_record, 2);
  GetDbfRecord(dbf, 1);
  EXPECT_EQ(test::RecordText(dbf), " Anna      1234");
  test::SetRecord(dbf, " Anne      1234");
  PutDbfRecord(dbf, 1);
  EXPECT_EQ(dbf.state, DbfState::kAppended);
  env_.SetToday(2025, 12, 31);
  CloseDbf(dbf);
  auto b = test::ReadAll(Path("r.DBF"));
  ASSERT_EQ(b.size(), 97u + 2 * 15 + 1);
  EXPECT_EQ(b[1], 125);
  EXPECT_EQ(b[2], 12);
  EXPECT_EQ(b[3], 31);
  EXPECT_EQ(test::Le32(b, 4), 2u);
  EXPECT_EQ(b.back(), 0x1A);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[97]), 16), " Anne      1234*");
}

TEST_F(DbfTest, BadRecordNumbersAndTruncatedRecords) {
  DbfFile dbf = test::MakeTable(Path("bad"), {{"name", 'C', 10, 0}});
  for (int i = 0; i < 3; ++i) {
    test::SetRecord(dbf, " record " + std::to_string(i) + "  ");
    AppendDbfRecord(dbf);
  }
  CloseDbf(dbf);
  auto b = test::ReadAll(Path("bad.DBF"));
  b.resize(b.size() - 6);  // cut inside the last record
  test::WriteAll(Path("bad.DBF"), b);
  dbf.path = Path("bad.DBF");
  OpenDbf(dbf);
  QuietErrors quiet;
  GetDbfRecord(dbf, 0);
  EXPECT_EQ(Errors().DbfError, 212);
  EXPECT_EQ(Errors().ErrorContext, "Invalid record number = 0 (" + Path("bad.DBF") + ")  [GetDbfRecord]");
  GetDbfRecord(dbf, 4);
  EXPECT_EQ(Errors().DbfError, 212);
  GetDbfRecord(dbf, 2);
  EXPECT_EQ(Errors().DbfError, 0);
  GetDbfRecord(dbf, 3);
  EXPECT_EQ(Errors().DbfError, 213);
  EXPECT_EQ(Errors().ErrorContext, "File: " + Path("bad.DBF") + "  [GetDbfRecord]");
  EXPECT_EQ(dbf.current_record, 2);  // a failed read keeps the record
  EXPECT_EQ(test::RecordText(dbf), " record 1  ");
  PutDbfRecord(dbf, 0);  // would overwrite the header
  EXPECT_EQ(Errors().DbfError, 212);
  CloseDbf(dbf);
}

TEST_F(DbfTest, RepairRecCountTrustsTheFileSize) {
  DbfFile dbf = test::MakeTable(Path("rep"), {{"n", 'C', 4, 0}});
  for (int i = 0; i < 12; ++i) {
    test::SetRecord(dbf, " abcd");
    AppendDbfRecord(dbf);
  }
  CloseDbf(dbf);
  auto b = test::ReadAll(Path("rep.DBF"));
  b[4] = 10;
  test::WriteAll(Path("rep.DBF"), b);
  dbf.path = Path("rep.DBF");
  OpenDbf(dbf);
  EXPECT_EQ(dbf.record_count, 10);
  CloseDbf(dbf);
  Engine().table.RepairRecCount = true;
  OpenDbf(dbf);
  EXPECT_EQ(dbf.record_count, 12);
  CloseDbf(dbf);
}

TEST_F(DbfTest, OemTablesTranslateEveryRecord) {
  DbfFile dbf = test::MakeTable(Path("oem"), {{"name", 'C', 6, 0}});
  dbf.oem = true;
  test::SetRecord(dbf, " caf\xE9 \xE6");  // "café æ" in code page 1252
  AppendDbfRecord(dbf);
  EXPECT_EQ(test::RecordText(dbf), " caf\xE9 \xE6");  // the caller's buffer is untouched
  CloseDbf(dbf);
  auto b = test::ReadAll(Path("oem.DBF"));
  EXPECT_EQ(b[65 + 4], 0x82);  // é in code page 437
  EXPECT_EQ(b[65 + 6], 0x91);  // æ
  dbf.path = Path("oem.DBF");
  dbf.oem = true;
  OpenDbf(dbf);
  GetDbfRecord(dbf, 1);
  EXPECT_EQ(test::RecordText(dbf), " caf\xE9 \xE6");
  CloseDbf(dbf);
}

TEST_F(DbfTest, FiltersRunAfterOemOnReadAndBeforeOnWrite) {
  DbfFile dbf = test::MakeTable(Path("flt"), {{"name", 'C', 3, 0}});
  dbf.write_filter = [](char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<char>(p[i] + 1);
  };
  test::SetRecord(dbf, " abc");
  AppendDbfRecord(dbf);
  dbf.read_filter = [](char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<char>(p[i] - 1);
  };
  GetDbfRecord(dbf, 1);
  EXPECT_EQ(test::RecordText(dbf), " abc");
  CloseDbf(dbf);
  EXPECT_EQ(test::ReadAll(Path("flt.DBF"))[66], 'b');
}

TEST_F(DbfTest, Dbase2TablesAreReadAndUpdatedInPlace) {
  std::vector<uint8_t> b(521, 0);
  b[0] = 0x02;
  b[1] = 2;  // two records
  b[3] = 7;
  b[4] = 4;
  b[5] = 85;
  b[6] = 9;  // record length: flag + 5 + 3
  std::memcpy(&b[8], "NAME", 4);
  b[8 + 11] = 'C';
  b[8 + 12] = 5;
  std::memcpy(&b[24], "QTY", 3);
  b[24 + 11] = 'N';
  b[24 + 12] = 3;
  b[24 + 15] = 0;
  b[40] = 0x0D;
  b[520] = 0x0D;
  for (const char* r : {" alpha 12", "*beta   7"}) b.insert(b.end(), r, r + 9);
  test::WriteAll(Path("old.dbf"), b);
  DbfFile dbf;
  dbf.path = Path("old.dbf");
  OpenDbf(dbf);
  ASSERT_EQ(dbf.layout, DbfLayout::kDbase2);
  EXPECT_EQ(dbf.field_count, 2);
  EXPECT_EQ(dbf.header_length, 521);
  EXPECT_EQ(dbf.last_update, "19850704");
  GetDbfRecord(dbf, 2);
  EXPECT_EQ(test::RecordText(dbf), "*beta   7");
  test::SetRecord(dbf, " gamma 99");
  AppendDbfRecord(dbf);
  CloseDbf(dbf);
  auto after = test::ReadAll(Path("old.dbf"));
  EXPECT_EQ(after[1], 3);
  EXPECT_EQ(after[3], 3);  // month, day, year - 1900
  EXPECT_EQ(after[4], 15);
  EXPECT_EQ(after[5], 124);
  EXPECT_EQ(after[6], 9);
  EXPECT_EQ(after.size(), 521u + 27 + 1);
}

TEST_F(DbfTest, ForeignReservedBytesSurviveAHeaderRewrite) {
  DbfFile dbf = test::MakeTable(Path("res"), {{"n", 'C', 2, 0}});
  CloseDbf(dbf);
  auto b = test::ReadAll(Path("res.DBF"));
  b[16] = 0xAB;
  b[27] = 0xCD;
  test::WriteAll(Path("res.DBF"), b);
  dbf.path = Path("res.DBF");
  OpenDbf(dbf);
  test::SetRecord(dbf, " xy");
  AppendDbfRecord(dbf);
  CloseDbf(dbf);
  b = test::ReadAll(Path("res.DBF"));
  EXPECT_EQ(b[16], 0xAB);
  EXPECT_EQ(b[27], 0xCD);
  EXPECT_EQ(b[4], 1);
}

TEST_F(DbfTest, MemoExtensionByVersion) {
  EXPECT_EQ(MemoExtension(0xF5), "FPT");
  EXPECT_EQ(MemoExtension(0x30), "FPT");
  EXPECT_EQ(MemoExtension(0x83), "DBT");
  EXPECT_EQ(MemoExtension(0x77), "DBT");  // unknown: CreateVersion's
}

TEST_F(DbfTest, FoxAndDbase3MemoFilesAreCreatedEmpty) {
  Engine().table.CreateVersion = 0xF5;
  Engine().table.MemoBlockSize = 64;
  DbfFile dbf;
  std::vector<FieldDef> defs = {{"m", 'M', 10, 0}};
  CreateDbf(dbf, Path("fox"), defs);
  auto fpt = test::ReadAll(Path("fox.FPT"));
  ASSERT_EQ(fpt.size(), 512u);
  EXPECT_EQ(fpt[3], 511 / 64 + 1);  // big-endian next free block
  EXPECT_EQ(fpt[6], 0);
  EXPECT_EQ(fpt[7], 64);
  Engine().table.CreateVersion = 0x83;
  CreateDbf(dbf, Path("three"), defs);
  auto dbt = test::ReadAll(Path("three.DBT"));
  ASSERT_EQ(dbt.size(), 513u);
  EXPECT_EQ(dbt[0], 1);
  EXPECT_EQ(dbt[512], 0x1A);
}

TEST_F(DbfTest, WriteFailuresKeepTheTableConsistent) {
  DbfFile dbf = test::MakeTable(Path("full"), {{"n", 'C', 8, 0}});
  test::SetRecord(dbf, " 12345678");
  AppendDbfRecord(dbf);
  env_.FailWriteAfter(1);
  QuietErrors quiet;
  AppendDbfRecord(dbf);
  EXPECT_EQ(Errors().DbfError, 101);
  EXPECT_EQ(Errors().ErrorContext, "File: " + Path("full.DBF") + " [Replace/Append/PutDbfRecord]");
  EXPECT_EQ(dbf.record_count, 1);  // the failed append is not counted
  env_.FailWriteAfter(0);
  env_.writes_until_fail_ = 0;
  CloseDbf(dbf);
  EXPECT_EQ(Errors().DbfError, 0);
  dbf.path = Path("full.DBF");
  OpenDbf(dbf);
  EXPECT_EQ(dbf.record_count, 1);
  CloseDbf(dbf);
}

// A sync the disk refuses is reported by every write that asks for one;
// the bytes written before it stay, and the table closes cleanly later.
TEST_F(DbfTest, RefusedSyncsAreReported) {
  struct Case {
    const char* what;
    bool each_write;
    void (*step)(DbfFile&);
    int32_t records;  // what the file holds afterwards
  };
  const Case cases[] = {
      {"FlushDbf", false, [](DbfFile& d) { FlushDbf(d); }, 1},
      {"append", true, [](DbfFile& d) { AppendDbfRecord(d); }, 2},
      {"rewrite", true, [](DbfFile& d) { PutDbfRecord(d, 1); }, 1},
      {"deletion flag", true, [](DbfFile& d) { PutDeleteFlag(d, 1); }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DbfFile dbf = test::MakeTable(Path("sync"), {{"n", 'C', 4, 0}});
    test::SetRecord(dbf, "*abcd");
    AppendDbfRecord(dbf);
    Engine().table.FlushEachWrite = c.each_write;
    env_.FailSyncs(true);
    const int before = env_.syncs_;
    {
      QuietErrors quiet;
      c.step(dbf);
      EXPECT_EQ(Errors().DbfError, 29);
      EXPECT_EQ(Errors().ErrorContext, "Unable to flush file [FlushFile]");
    }
    EXPECT_GT(env_.syncs_, before);
    env_.FailSyncs(false);
    Engine().table.FlushEachWrite = false;
    CloseDbf(dbf);
    EXPECT_EQ(Errors().DbfError, 0);
    dbf.path = Path("sync.DBF");
    OpenDbf(dbf);
    EXPECT_EQ(dbf.record_count, c.records);
    GetDbfRecord(dbf, 1);
    EXPECT_EQ(test::RecordText(dbf), "*abcd");
    CloseDbf(dbf);
    std::filesystem::remove(Path("sync.DBF"));
  }
}

TEST_F(DbfTest, CaseInsensitiveNamesResolve) {
  DbfFile dbf = test::MakeTable(Path("MOVIE"), {{"n", 'C', 2, 0}});
  CloseDbf(dbf);
  dbf.path = Path("movie.dbf");
  OpenDbf(dbf);
  EXPECT_EQ(dbf.path, Path("MOVIE.DBF"));
  EXPECT_TRUE(dbf.is_open());
  CloseDbf(dbf);
}

}  // namespace
}  // namespace ov
