// Memos as text: AddMemo, and memos read and written line by line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/memo/memo_area.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

class MemoTextTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    AreaConfig().AnsiTables = true;
    AreaConfig().MultiUser = false;
  }
  WorkArea& Table(uint8_t version) {
    Engine().table.CreateVersion = version;
    DbfFile dbf;
    const std::vector<FieldDef> defs{{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}};
    CreateDbf(dbf, Path("T"), defs);
    USE(Path("T"));
    return *CurrentArea();
  }
  std::string Read(int32_t block) { return Areas().memo.read_text(*CurrentArea(), block); }
  std::vector<std::string> Lines(int32_t& reference, size_t max_lines = kMemoMaxLines) {
    MemoBinding b;
    EXPECT_EQ(AssignMemo(b, reference), 0);
    MemoTextReader reader(b, max_lines);
    std::vector<std::string> lines;
    std::string line;
    while (reader.ReadLine(line)) lines.push_back(line);
    EXPECT_TRUE(reader.Eof());
    return lines;
  }
  // Writes through a writer in pieces; answers what Close answered.
  bool WriteMemo(int32_t& reference, const std::vector<std::string>& pieces, size_t max_lines = kMemoMaxLines) {
    MemoBinding b;
    EXPECT_EQ(AssignMemo(b, reference), 0);
    MemoTextWriter writer(b, max_lines);
    for (const std::string& p : pieces) writer.Write(p);
    return writer.Close();
  }
};

// ---- AddMemo ----

TEST_F(MemoTextTest, AddMemoWritesDbase3TextAsOtherProgramsDo) {
  Table(0x83);
  const int32_t block = AddMemo("plain text");
  EXPECT_EQ(block, 1);
  const std::vector<uint8_t> m = test::ReadAll(Path("T.DBT"));
  EXPECT_EQ(std::string(m.begin() + 512, m.end()), "plain text\x1A\x1A");
  EXPECT_EQ(Read(block), "plain text");
  // A text the raw form cannot hold keeps the headered form.
  const int32_t binary =
      AddMemo(std::string("a\x1A"
                          "b",
                          3));
  EXPECT_EQ(binary, -2);
  EXPECT_EQ(Read(binary), std::string("a\x1A"
                                      "b",
                                      3));
  EXPECT_EQ(AddMemo(""), 0);
}

TEST_F(MemoTextTest, AddMemoUsesTheFreeChainOfADbase4File) {
  WorkArea& a = Table(0x8B);
  const int32_t gone = AddMemo(std::string(1500, 'g'));
  Areas().memo.release(a, gone);
  EXPECT_EQ(AddMemo("reused"), gone);
  EXPECT_EQ(Read(gone), "reused");
}

TEST_F(MemoTextTest, AddMemoNeedsAMemoFile) {
  try {
    AddMemo("x");
    ADD_FAILURE();
  } catch (const EOrvelError&) {
  }
  EXPECT_EQ(Errors().DbfError, 215);
  DbfFile dbf;
  const std::vector<FieldDef> defs{{"NAME", 'C', 10, 0}};
  CreateDbf(dbf, Path("PLAIN"), defs);
  USE(Path("PLAIN"));
  try {
    AddMemo("x");
    ADD_FAILURE();
  } catch (const EOrvelError& e) {
    EXPECT_NE(std::string(e.what()).find(" No Memo Field [AddMemo()]"), std::string::npos) << e.what();
  }
}

// ---- Reading lines ----

TEST_F(MemoTextTest, ReaderYieldsEachLineWithItsEnd) {
  Table(0x8B);
  const std::string long_line(600, 'L');
  const std::string text = "one\r\ntwo\x8D\nthree\r\n\r\n" + long_line + "\r\nlast";
  int32_t ref = AddMemo(text);
  const std::vector<std::string> lines = Lines(ref);
  const std::vector<std::string> want{"one\r\n",
                                      "two\x8D\n",
                                      "three\r\n",
                                      "\r\n",
                                      std::string(254, 'L'),
                                      std::string(254, 'L'),
                                      std::string(92, 'L') + "\r\n",
                                      "last"};
  EXPECT_EQ(lines, want);
  std::string joined;
  for (const std::string& l : lines) joined += l;
  EXPECT_EQ(joined, text);
}

TEST_F(MemoTextTest, LoneReturnsAreHardAndA8DWithoutLineFeedIsALetter) {
  Table(0x8B);
  int32_t ref = AddMemo(
      "a\rb\nc\x8D"
      "d");
  EXPECT_EQ(Lines(ref), (std::vector<std::string>{"a\r\n", "b\r\n",
                                                  "c\x8D"
                                                  "d"}));
  int32_t none = 0;
  EXPECT_TRUE(Lines(none).empty());
}

TEST_F(MemoTextTest, ReaderReportsBadBlocksTooManyLinesAndUseWhenNotLoaded) {
  Table(0x8B);
  int32_t bad = 77;
  MemoBinding b;
  ASSERT_EQ(AssignMemo(b, bad), 0);
  try {
    MemoTextReader reader(b);
    ADD_FAILURE();
  } catch (const EOrvelError& e) {
    EXPECT_NE(std::string(e.what()).find(" [GetMemo]"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Errors().DbfError, 1003);
  int32_t ref = AddMemo("1\r\n2\r\n3\r\n");
  ASSERT_EQ(AssignMemo(b, ref), 0);
  EXPECT_THROW(MemoTextReader(b, 2), EOrvelError);
  EXPECT_EQ(Errors().DbfError, 217);
  MemoTextReader reader(b);
  std::string line;
  ASSERT_TRUE(reader.ReadLine(line));
  reader.Close();
  EXPECT_THROW(reader.ReadLine(line), EOrvelError);
  EXPECT_EQ(Errors().DbfError, 104);
  MemoTextReader unbound{MemoBinding{}};
  EXPECT_THROW(unbound.Eof(), EOrvelError);
  EXPECT_EQ(Errors().DbfError, 104);
}

TEST_F(MemoTextTest, AssignMemoChecksTheMemoField) {
  int32_t ref = 0;
  MemoBinding b;
  EXPECT_THROW(AssignMemo(b, ref), EOrvelError);
  EXPECT_EQ(Errors().DbfError, 215);
  DbfFile dbf;
  const std::vector<FieldDef> defs{{"NAME", 'C', 10, 0}};
  CreateDbf(dbf, Path("PLAIN"), defs);
  USE(Path("PLAIN"));
  try {
    AssignMemo(b, ref);
    ADD_FAILURE();
  } catch (const EOrvelError& e) {
    EXPECT_NE(std::string(e.what()).find(" No Memo Field [AssignMemo]"), std::string::npos) << e.what();
  }
  EXPECT_EQ(b.reference, nullptr);
}

// ---- Writing lines ----

TEST_F(MemoTextTest, WriterCollectsLinesAndStoresThemOnClose) {
  Table(0x8B);
  int32_t ref = 0;
  ASSERT_TRUE(WriteMemo(ref, {"first\r", "\nsec", "ond\nthird\rsoft\x8D\n", "tail"}));
  ASSERT_GT(ref, 0);
  EXPECT_EQ(Read(ref), "first\r\nsecond\r\nthird\r\nsoft\x8D\ntail");
  // A rewrite goes to new blocks; the old memo stays readable until the
  // record is written without it.
  const int32_t old = ref;
  ASSERT_TRUE(WriteMemo(ref, {"short"}));
  EXPECT_NE(ref, old);
  EXPECT_EQ(Read(ref), "short");
  EXPECT_EQ(Read(old), "first\r\nsecond\r\nthird\r\nsoft\x8D\ntail");
  // Writing nothing leaves no memo.
  ASSERT_TRUE(WriteMemo(ref, {}));
  EXPECT_EQ(ref, 0);
}

TEST_F(MemoTextTest, WriterCutsLinesAt255CharactersWithoutChangingTheText) {
  Table(0x83);
  int32_t ref = 0;
  const std::string text(600, 'w');
  ASSERT_TRUE(WriteMemo(ref, {text}));
  EXPECT_EQ(ref, 1);  // the raw dBASE III form
  EXPECT_EQ(Read(ref), text);
  EXPECT_EQ(Lines(ref).size(), 3u);
  // Three cut lines fit a maximum of three; a fourth line does not.
  int32_t other = 0;
  EXPECT_TRUE(WriteMemo(other, {std::string(254 * 3, 'x')}, 3));
  EXPECT_THROW(WriteMemo(other, {std::string(254 * 3 + 1, 'x') + "\r\n"}, 3), EOrvelError);
  EXPECT_EQ(Errors().DbfError, 101);
}

TEST_F(MemoTextTest, WriterFailuresReportOutputErrorsAndKeepTheReference) {
  AreaConfig().MultiUser = true;
  WorkArea& a = Table(0x8B);
  int32_t ref = AddMemo("kept");
  MemoBinding b;
  ASSERT_EQ(AssignMemo(b, ref), 0);
  {
    MemoTextWriter writer(b);
    writer.Write("new text\r\n");
    env_.FakeClock(true);
    env_.RefuseLocks(true);
    EXPECT_THROW(writer.Close(), EOrvelError);
    env_.RefuseLocks(false);
    EXPECT_EQ(Errors().DbfError, 101);
    EXPECT_THROW(writer.Write("more"), EOrvelError);  // closed: nothing loaded
    EXPECT_EQ(Errors().DbfError, 104);
  }
  EXPECT_EQ(Read(ref), "kept");
  MemoTextWriter unbound{MemoBinding{}};
  EXPECT_THROW(unbound.Write("x"), EOrvelError);
  EXPECT_EQ(Errors().DbfError, 104);
  // A closed area: the lines cannot be stored anywhere.
  MemoTextWriter orphan(b);
  orphan.Write("text");
  CloseArea();
  EXPECT_THROW(orphan.Close(), EOrvelError);
  EXPECT_EQ(Errors().DbfError, 101);
  (void)a;
}

// 0x8D is a letter in the table's characters: a soft return (8D 0A) is
// found before the text is converted, and stored back unconverted.
TEST_F(MemoTextTest, OemTablesConvertLinesBothWaysAndKeepSoftReturns) {
  AreaConfig().AnsiTables = false;
  Table(0x8B);
  int32_t ref = 0;
  const std::vector<std::string> lines{"caf\xE9\x8D\n", "next\r\n",
                                       "\xEC"
                                       "nd"};
  ASSERT_TRUE(WriteMemo(ref, lines));
  const std::vector<uint8_t> m = test::ReadAll(Path("T.DBT"));
  const size_t at = static_cast<size_t>(ref) * 512 + 8;
  EXPECT_EQ(std::string(m.begin() + at, m.begin() + at + 15), "caf\x82\x8D\nnext\r\n\x8Dnd");
  EXPECT_EQ(Lines(ref), lines);
}

}  // namespace
}  // namespace ov
