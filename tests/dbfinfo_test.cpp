// The dbfinfo tool, run as a separate program on real and broken files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/ovdbflow.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

// The tool is built next to the tests: <build>/tests/ov_tests and
// <build>/tools/dbfinfo.
std::string ToolPath() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "tools" / "dbfinfo").string();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string Today() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
  return buf;
}

class DbfinfoTest : public test::EngineTest {
 protected:
  void SetUp() override {
    test::EngineTest::SetUp();
    if (!std::filesystem::exists(ToolPath())) GTEST_SKIP() << "dbfinfo not built";
  }

  // Runs the tool; stdout into out_, stderr into err_.
  int Run(const std::string& args) {
    const std::string err_file = Path("stderr.txt");
    out_.clear();
    int status = test::RunCommand(ToolPath() + " " + args + " 2>" + err_file, &out_);
    auto bytes = test::ReadAll(err_file);
    err_.assign(bytes.begin(), bytes.end());
    return status;
  }

  std::string out_, err_;
};

TEST_F(DbfinfoTest, CreateDemoDescribesTheNewTable) {
  ASSERT_EQ(Run("--create-demo " + Path("movies.dbf")), 0) << err_;
  const std::vector<std::string> expected = {
      "version: 0x8B",      "layout: dBASE III/IV", "last update: " + Today(),
      "records: 0",         "header length: 289",   "record length: 117",
      "fields: 8",          "title, C, 20, 0",      "year, N, 4, 0",
      "color, L, 1, 0",     "runtime, N, 3, 0",     "stars, C, 50, 0",
      "director, C, 20, 0", "plot, M, 10, 0",       "premiere, D, 8, 0",
      "memo: movies.dbt; kind DBT dBASE IV; block size 512",
  };
  EXPECT_EQ(Lines(out_), expected);
  EXPECT_EQ(err_, "");
  EXPECT_TRUE(FileExistsResolved(Path("movies.dbt")));  // memo file beside it
}

TEST_F(DbfinfoTest, CreateDemoLeavesAnExistingTableAlone) {
  const FieldDef fields[] = {{"code", 'N', 6, 2}};
  DbfFile dbf;
  CreateDbf(dbf, Path("keep.dbf"), fields);
  ASSERT_EQ(Run("--create-demo " + Path("keep.dbf")), 0) << err_;
  auto lines = Lines(out_);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "code, N, 6, 2");
  EXPECT_EQ(lines[0], "version: 0x03");
}

TEST_F(DbfinfoTest, NamesEachLayout) {
  Engine().table.CreateVersion = 0x8C;
  const FieldDef fields[] = {{"A", 'C', 5, 0}, {"B", 'N', 7, 3}, {"C", 'D', 8, 0}};
  DbfFile dbf;
  CreateDbf(dbf, Path("l7.dbf"), fields);
  ASSERT_EQ(Run(Path("l7")), 0) << err_;  // default extension
  auto lines = Lines(out_);
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[0], "version: 0x04");
  EXPECT_EQ(lines[1], "layout: level 7");
  EXPECT_EQ(lines[4], "header length: 213");
  EXPECT_EQ(lines.back(), "c, D, 8, 0");

  // dBASE II: 8-byte prolog, 16-byte descriptors, terminator at 520.
  std::vector<uint8_t> d2(521 + 2 * 6 + 1, 0);
  d2[0] = 0x02;
  d2[1] = 2;  // two records
  d2[3] = 7;  // 1986-07-04
  d2[4] = 4;
  d2[5] = 86;
  d2[6] = 6;  // record length
  const char name[] = "NAME";
  std::copy(name, name + 4, d2.begin() + 8);
  d2[8 + 11] = 'C';
  d2[8 + 12] = 5;
  d2[8 + 16] = 0x0D;  // ends the list after one field
  d2[520] = 0x0D;
  test::WriteAll(Path("old.dbf"), d2);
  ASSERT_EQ(Run(Path("old.dbf")), 0) << err_;
  const std::vector<std::string> expected = {"version: 0x02", "layout: dBASE II",   "last update: 1986-07-04",
                                             "records: 2",    "header length: 521", "record length: 6",
                                             "fields: 1",     "name, C, 5, 0"};
  EXPECT_EQ(Lines(out_), expected);
}

TEST_F(DbfinfoTest, GarbageGivesTheEngineErrorAndItsCode) {
  test::WriteAll(Path("junk.dbf"), std::vector<uint8_t>(100, 0xEE));
  EXPECT_EQ(Run(Path("junk.dbf")), 210);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(err_.rfind("Error # 210 (", 0), 0u) << err_;
  EXPECT_NE(err_.find("\r\n"), std::string::npos);
  EXPECT_NE(err_.find("is not a dBASE database."), std::string::npos) << err_;

  test::WriteAll(Path("short.dbf"), {0x03, 1, 2});
  EXPECT_EQ(Run(Path("short.dbf")), 210);
  EXPECT_NE(err_.find("Prolog is less than 32 bytes"), std::string::npos) << err_;
}

TEST_F(DbfinfoTest, DamagedHeadersAreRefusedNotCrashedOn) {
  std::vector<uint8_t> h(33, 0);
  h[0] = 0x03;
  h[8] = 33;  // header length 33: no fields
  h[32] = 0x0D;
  test::WriteAll(Path("nofields.dbf"), h);
  EXPECT_EQ(Run(Path("nofields.dbf")), 210);
  EXPECT_NE(err_.find("Number of fields is out of range"), std::string::npos) << err_;

  h[8] = 0xFF;
  h[9] = 0x7F;  // implies 1022 fields
  test::WriteAll(Path("many.dbf"), h);
  EXPECT_EQ(Run(Path("many.dbf")), 210);

  h[8] = 32 * 5 + 33;  // five descriptors promised, half of one present
  h[9] = 0;
  h.resize(48, 'A');
  h[32] = 'A';
  test::WriteAll(Path("cut.dbf"), h);
  EXPECT_EQ(Run(Path("cut.dbf")), 100);
  EXPECT_NE(err_.find("Error reading " + Path("cut.dbf")), std::string::npos) << err_;

  h.resize(193, ' ');
  h[32] = 0x0D;  // the list ends before its first field
  test::WriteAll(Path("empty.dbf"), h);
  EXPECT_EQ(Run(Path("empty.dbf")), 222);
}

TEST_F(DbfinfoTest, CheckPrintsOneLinePerFindingAndFailsOnAny) {
  const FieldDef fields[] = {{"code", 'N', 6, 2}};
  DbfFile dbf;
  CreateDbf(dbf, Path("chk.dbf"), fields);
  EXPECT_EQ(Run(Path("chk.dbf") + " --check"), 0) << out_ << err_;
  EXPECT_EQ(out_, "");

  std::vector<uint8_t> bytes = test::ReadAll(Path("chk.dbf"));
  bytes.pop_back();  // the end-of-file byte
  for (char c : std::string("X  1.50\x1A")) bytes.push_back(static_cast<uint8_t>(c));
  bytes[4] = 2;  // two records counted, one there
  test::WriteAll(Path("chk.dbf"), bytes);
  EXPECT_EQ(Run(Path("chk.dbf") + " --check"), 1);
  const std::vector<std::string> expected = {"file: header counts 2 records, the file holds 1",
                                             "record 1: deletion flag \"X\""};
  EXPECT_EQ(Lines(out_), expected);
}

TEST_F(DbfinfoTest, RepairSaysWhatItChangedAndFailsOnWhatIsLeft) {
  const FieldDef fields[] = {{"code", 'N', 6, 2}};
  DbfFile dbf;
  CreateDbf(dbf, Path("fix.dbf"), fields);
  std::vector<uint8_t> bytes = test::ReadAll(Path("fix.dbf"));
  bytes.pop_back();
  for (char c : std::string("   1.50")) bytes.push_back(static_cast<uint8_t>(c));  // appended, then killed
  test::WriteAll(Path("fix.dbf"), bytes);
  EXPECT_EQ(Run(Path("fix.dbf") + " --check --repair"), 0) << out_ << err_;
  EXPECT_EQ(Lines(out_), (std::vector<std::string>{"repaired: header count 0 set to 1",
                                                   "repaired: end-of-file byte written after record 1"}));
  EXPECT_EQ(Run(Path("fix.dbf") + " --check"), 0) << out_;

  bytes = test::ReadAll(Path("fix.dbf"));
  bytes.push_back('x');
  bytes.push_back('y');
  test::WriteAll(Path("fix.dbf"), bytes);
  EXPECT_EQ(Run(Path("fix.dbf") + " --check --repair"), 1);
  EXPECT_EQ(Lines(out_), std::vector<std::string>{"record 2: 3 bytes of a partial record after the last"});
}

// A memo written but never referenced (a writer killed before its record
// was written) goes back to the free chain and is reused.
TEST_F(DbfinfoTest, RepairReturnsUnreachableMemoBlocks) {
  Engine().table.CreateVersion = 0x8B;
  DbfFile dbf;
  CreateDbf(dbf, Path("memo.dbf"), std::vector<FieldDef>{{"NOTES", 'M', 10, 0}});
  CloseDbf(dbf);
  USE(Path("memo.dbf") + " EXCLUSIVE");
  ClearRecord();
  SetFieldNumber(1, Areas().memo.write_text(*CurrentArea(), "kept", 0));
  Append();
  const int32_t lost = Areas().memo.write_text(*CurrentArea(), std::string(1500, 'x'), 0);  // 3 blocks
  CloseArea();
  EXPECT_EQ(Run(Path("memo.dbf") + " --check"), 0) << out_;
  EXPECT_EQ(Lines(out_), std::vector<std::string>{"unreachable memo blocks: 3"});
  EXPECT_EQ(Run(Path("memo.dbf") + " --check --repair"), 0) << out_ << err_;
  EXPECT_EQ(Lines(out_).at(0), "repaired: returned 3 unreachable blocks of " + Path("memo.dbt") + " to the free chain");
  EXPECT_EQ(Run(Path("memo.dbf") + " --check"), 0) << out_;
  EXPECT_EQ(out_, "");
  USE(Path("memo.dbf"));
  EXPECT_EQ(Areas().memo.write_text(*CurrentArea(), std::string(1400, 'y'), 0), lost);
}

TEST_F(DbfinfoTest, MissingFileAndBadArguments) {
  EXPECT_EQ(Run(Path("absent.dbf")), 2);
  EXPECT_EQ(err_.rfind("Error # 2 (", 0), 0u) << err_;
  EXPECT_NE(err_.find("Failure to open " + Path("absent.dbf")), std::string::npos) << err_;
  EXPECT_NE(Run(""), 0);
  EXPECT_NE(err_.find("usage"), std::string::npos);
}

}  // namespace
}  // namespace ov
