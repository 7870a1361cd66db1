// Damaged table files: every one gives the engine's code and message or a
// clean open, never a crash.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

#include "engine/dbf/dbf_check.h"
#include "engine/dbf/ovdbflow.h"
#include "engine/support/ovcommon.h"
#include "tests/dbf_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

class DbfDamageTest : public test::EngineTest {
 protected:
  // A valid dBASE III table with three fields and two records.
  std::vector<uint8_t> ValidTable() {
    DbfFile dbf = test::MakeTable(Path("good"), {{"name", 'C', 5, 0}, {"qty", 'N', 3, 0}, {"ok", 'L', 1, 0}});
    for (const char* r : {" alpha 12T", "*beta   7F"}) {
      test::SetRecord(dbf, r);
      AppendDbfRecord(dbf);
    }
    CloseDbf(dbf);
    EXPECT_EQ(FindingLines(CheckTable(Path("good.DBF"))), "");
    return test::ReadAll(Path("good.DBF"));
  }

  // Opens the bytes as a table, reads every record, closes; answers the
  // first code met (0 when all went well).
  uint16_t Exercise(const std::vector<uint8_t>& bytes, DbfFile* keep = nullptr) {
    test::WriteAll(Path("t.dbf"), bytes);
    QuietErrors quiet;
    DbfFile dbf;
    dbf.path = Path("t.dbf");
    dbf.oem = true;
    OpenDbf(dbf);
    uint16_t code = Errors().DbfError;
    if (code != 0) {
      EXPECT_FALSE(dbf.is_open());
      EXPECT_TRUE(dbf.record.empty());
      return code;
    }
    for (int32_t n = 1; n <= dbf.record_count && n <= 1000; ++n) {
      GetDbfRecord(dbf, n);
      if (Errors().DbfError != 0 && code == 0) code = Errors().DbfError;
    }
    if (keep != nullptr) {
      keep->fields = dbf.fields;
      keep->record_count = dbf.record_count;
    }
    CloseDbf(dbf);
    return code;
  }

  std::string Context(const std::vector<uint8_t>& bytes) {
    test::WriteAll(Path("t.dbf"), bytes);
    QuietErrors quiet;
    DbfFile dbf;
    dbf.path = Path("t.dbf");
    OpenDbf(dbf);
    return Errors().ErrorContext;
  }

  static void SetHeaderLength(std::vector<uint8_t>& b, uint16_t hl) {
    b[8] = static_cast<uint8_t>(hl);
    b[9] = static_cast<uint8_t>(hl >> 8);
  }
};

TEST_F(DbfDamageTest, ShortPrologsAreNotTables) {
  std::vector<uint8_t> good = ValidTable();
  for (size_t len : {0, 1, 31}) {
    std::vector<uint8_t> b(good.begin(), good.begin() + len);
    EXPECT_EQ(Exercise(b), 210) << len;
    EXPECT_EQ(Context(b), Path("t.dbf") + " is not a dBASE database. (Prolog is less than 32 bytes) [USE/OpenDBF]");
  }
}

TEST_F(DbfDamageTest, UnknownVersionBytesAreRefused) {
  std::vector<uint8_t> b = ValidTable();
  for (uint8_t v : {0x00, 0x05, 0x30, 0x7F, 0xFF}) {
    b[0] = v;
    EXPECT_EQ(Exercise(b), 210) << int(v);
  }
  EXPECT_EQ(Context(b), Path("t.dbf") + " is not a dBASE database.(Invalid version byte)+ [USE/OpenDBF]");
  Engine().table.CustomVersion = 0x30;  // a configured signature is accepted
  b[0] = 0x30;
  EXPECT_EQ(Exercise(b), 0);
}

TEST_F(DbfDamageTest, HeaderLengthsOutsideTheFieldRange) {
  std::vector<uint8_t> b = ValidTable();
  for (uint16_t hl : {0, 31, 32, 33, 63, 32 + 32 * 256 + 1, 65535}) {
    SetHeaderLength(b, hl);
    EXPECT_EQ(Exercise(b), 210) << hl;
  }
  SetHeaderLength(b, 33);
  EXPECT_EQ(Context(b), "t.dbf is not a dBASE database. (Number of fields is out of range) [Use/OpenDbf]");
}

TEST_F(DbfDamageTest, DescriptorListsCutShortOrEndedEarly) {
  std::vector<uint8_t> good = ValidTable();
  std::vector<uint8_t> cut(good.begin(), good.begin() + 32 + 40);  // inside the second descriptor
  EXPECT_EQ(Exercise(cut), 100);
  EXPECT_EQ(Context(cut), "Error reading " + Path("t.dbf") + " [Use/OpenDbf]");

  std::vector<uint8_t> first_end = good;
  first_end[32] = 0x0D;
  EXPECT_EQ(Exercise(first_end), 222);

  std::vector<uint8_t> early = good;
  early[32 + 64] = 0x0D;  // third descriptor ends the list
  DbfFile seen;
  EXPECT_EQ(Exercise(early, &seen), 0);
  EXPECT_EQ(seen.fields.size(), 2u);
}

TEST_F(DbfDamageTest, FieldTypesAreChecked) {
  std::vector<uint8_t> b = ValidTable();
  b[32 + 32 + 11] = 'X';
  EXPECT_EQ(Exercise(b), 211);
  EXPECT_EQ(Context(b), "Field: QTY [X] in " + Path("t.dbf") + " is not a valid field type");
  b[32 + 32 + 11] = 'g';  // picture fields read as memo
  b[0] = 0x8B;
  DbfFile seen;
  EXPECT_EQ(Exercise(b, &seen), 0);
  EXPECT_EQ(seen.fields[1].type, 'M');
}

TEST_F(DbfDamageTest, FieldsReachingPastTheRecordAreRefused) {
  std::vector<uint8_t> b = ValidTable();
  b[10] = 3;  // record length smaller than the fields need
  EXPECT_EQ(Exercise(b), 210);
  b[10] = 0;
  EXPECT_EQ(Exercise(b), 210);
}

TEST_F(DbfDamageTest, RecordCountsBeyondTheFile) {
  std::vector<uint8_t> b = ValidTable();
  b[4] = 200;
  EXPECT_EQ(Exercise(b), 213);
  EXPECT_EQ(CheckTable(Path("t.dbf")).at(0).what, FindingKind::kRecordCount);
  b[4] = b[5] = b[6] = b[7] = 0xFF;  // negative as a signed count: empty
  EXPECT_EQ(Exercise(b), 0);
}

TEST_F(DbfDamageTest, RandomAndMutatedBytesNeverCrash) {
  const std::set<uint16_t> allowed = {0, 100, 210, 211, 212, 213, 222};
  std::vector<uint8_t> good = ValidTable();
  std::mt19937 rng(20261208);
  for (int round = 0; round < 1500; ++round) {
    std::vector<uint8_t> b;
    if (round % 3 == 0) {
      b.resize(rng() % 600);
      for (auto& x : b) x = static_cast<uint8_t>(rng());
      if (!b.empty()) b[0] = std::array<uint8_t, 4>{0x03, 0x8B, 0x04, 0x02}[rng() % 4];
    } else {
      b = good;
      int flips = 1 + rng() % 8;
      for (int i = 0; i < flips; ++i) b[rng() % b.size()] = static_cast<uint8_t>(rng());
      if (rng() % 4 == 0) b.resize(rng() % b.size());
    }
    uint16_t code = Exercise(b);
    EXPECT_TRUE(allowed.count(code)) << "round " << round << " code " << code;
    (void)CheckTable(Path("t.dbf"));  // any answer but a crash
  }
}

}  // namespace
}  // namespace ov
