// The integrity checks: hand-built faults are found, one each; tables the
// engine writes and the tables of other writers are sound.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf_check.h"
#include "engine/memo/memo_check.h"
#include "engine/support/coding.h"
#include "tests/dbf_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

using Bytes = std::vector<uint8_t>;

// NUM at 1, DAY at 6, OK at 14, NOTES at 15; records of 25 bytes.
const std::vector<FieldDef> kFields = {
    {"NUM", 'N', 5, 1}, {"DAY", 'D', 8, 0}, {"OK", 'L', 1, 0}, {"NOTES", 'M', 10, 0}};

std::string Rec(int memo, const std::string& num = "  1.5", const std::string& day = "20240229",
                const std::string& ok = "T", char flag = ' ') {
  const std::string ref = memo == 0 ? "" : std::to_string(memo);
  return flag + num + day + ok + std::string(10 - ref.size(), ' ') + ref;
}

// dBASE IV memo file images of 512-byte blocks.
Bytes Db4Memo(uint32_t head, size_t blocks) {
  Bytes m(blocks * 512, 0);
  PutLe32(m.data(), head);
  PutLe16(m.data() + 18, 0x0102);
  PutLe16(m.data() + 20, 512);
  return m;
}
void PutMemo(Bytes& m, uint32_t block, const std::string& text) {
  uint8_t* p = m.data() + block * 512;
  p[0] = p[1] = 0xFF;
  p[2] = 0x08;
  PutLe32(p + 4, static_cast<uint32_t>(text.size() + 8));
  std::copy(text.begin(), text.end(), p + 8);
}
void PutRun(Bytes& m, uint32_t block, uint32_t next, uint32_t count) {
  PutLe32(m.data() + block * 512, next);
  PutLe32(m.data() + block * 512 + 4, count);
}
Bytes WithOneMemo(uint32_t head, size_t blocks) {
  Bytes m = Db4Memo(head, blocks);
  PutMemo(m, 1, "hello");
  return m;
}

struct FaultCase {
  const char* name;
  uint8_t version;
  std::vector<std::string> records;
  Bytes memo;                         // replaces the memo file when not empty
  void (*damage)(Bytes& table);       // on the closed table file, or nullptr
  std::vector<FindingKind> expected;  // empty: sound
};

const FaultCase kCases[] = {
    {"sound",
     0x8B,
     {Rec(1), Rec(0, "*****", "        ", "?", '*'), Rec(0, "   -1", "19991231", " ")},
     WithOneMemo(2, 2),
     nullptr,
     {}},
    {"stale_count", 0x8B, {Rec(0), Rec(0)}, {}, [](Bytes& t) { t[4] = 3; }, {FindingKind::kRecordCount}},
    {"eof_in_record",
     0x8B,
     {Rec(0), Rec(0)},
     {},
     [](Bytes& t) { t[GetLe16(t.data() + 8)] = 0x1A; },
     {FindingKind::kEndOfFile}},
    {"byte_after_last", 0x8B, {Rec(0)}, {}, [](Bytes& t) { t.back() = 'x'; }, {FindingKind::kEndOfFile}},
    {"partial_record",
     0x8B,
     {Rec(0)},
     {},
     [](Bytes& t) {
       t.insert(t.end(), {'a', 'b'});
     },
     {FindingKind::kPartialRecord}},
    {"flag", 0x8B, {Rec(0, "  1.5", "20240229", "T", 'X')}, {}, nullptr, {FindingKind::kFlag}},
    {"number", 0x8B, {Rec(0, " 1.5a")}, {}, nullptr, {FindingKind::kFieldText}},
    {"date", 0x8B, {Rec(0, "  1.5", "20230229")}, {}, nullptr, {FindingKind::kFieldText}},
    {"logical", 0x8B, {Rec(0, "  1.5", "20240229", "x")}, {}, nullptr, {FindingKind::kFieldText}},
    {"memo_text", 0x8B, {Rec(0).substr(0, 15) + "     1 2  "}, {}, nullptr, {FindingKind::kFieldText}},
    {"memo_twice", 0x8B, {Rec(1), Rec(1)}, WithOneMemo(2, 2), nullptr, {FindingKind::kMemoShared}},
    {"looping_chain",
     0x8B,
     {Rec(1)},
     [] {
       Bytes m = WithOneMemo(2, 4);
       PutRun(m, 2, 3, 1);
       PutRun(m, 3, 2, 1);
       return m;
     }(),
     nullptr,
     {FindingKind::kFreeChain}},
    {"free_run_on_memo",
     0x8B,
     {Rec(1)},
     [] {
       Bytes m = Db4Memo(2, 4);
       PutMemo(m, 1, std::string(600, 'm'));
       PutRun(m, 2, 4, 1);
       return m;
     }(),
     nullptr,
     {FindingKind::kFreeChain}},
    {"memo_past_end", 0x8B, {Rec(9)}, WithOneMemo(2, 2), nullptr, {FindingKind::kMemoOutside}},
    {"memo_in_header",
     0xF5,
     {Rec(2)},
     [] {
       Bytes m(512 + 64, 0);
       PutBe32(m.data(), 9);
       m[7] = 64;  // blocks of 64 bytes: the header fills blocks 0 to 7
       PutBe32(m.data() + 512, 1);
       PutBe32(m.data() + 516, 5);
       return m;
     }(),
     nullptr,
     {FindingKind::kMemoOutside}},
    {"memo_unsigned",
     0x8B,
     {Rec(1)},
     [] {
       Bytes m = Db4Memo(2, 2);
       m[512] = 'a';
       m[513] = 0x1A;
       return m;
     }(),
     nullptr,
     {FindingKind::kMemoMalformed}},
    {"dbase3_unended",
     0x83,
     {Rec(1), Rec(0)},
     [] {
       Bytes m(512 + 3, 'a');
       PutLe32(m.data(), 2);
       return m;
     }(),
     nullptr,
     {FindingKind::kMemoMalformed}},
};

class CheckTest : public test::EngineTest {
 protected:
  std::vector<FindingKind> Kinds(const std::string& path, uint32_t* unreachable = nullptr) {
    std::vector<FindingKind> kinds;
    for (const CheckFinding& f : CheckTableAndMemo(path, unreachable)) kinds.push_back(f.what);
    return kinds;
  }
};

TEST_F(CheckTest, EachHandBuiltFaultIsFoundAlone) {
  for (const FaultCase& c : kCases) {
    SCOPED_TRACE(c.name);
    Engine().table.CreateVersion = c.version;
    const std::string path = Path(std::string(c.name) + ".dbf");
    DbfFile t = test::MakeTable(path, kFields);
    for (const std::string& r : c.records) {
      test::SetRecord(t, r);
      AppendDbfRecord(t);
    }
    CloseDbf(t);
    if (!c.memo.empty()) test::WriteAll(Path(std::string(c.name) + (c.version == 0xF5 ? ".fpt" : ".dbt")), c.memo);
    if (c.damage != nullptr) {
      Bytes bytes = test::ReadAll(path);
      c.damage(bytes);
      test::WriteAll(path, bytes);
    }
    EXPECT_EQ(Kinds(path), c.expected) << FindingLines(CheckTableAndMemo(path));
  }
}

TEST_F(CheckTest, UnreachableBlocksAreCountedNotFound) {
  Engine().table.CreateVersion = 0x8B;
  DbfFile t = test::MakeTable(Path("leak.dbf"), kFields);
  test::SetRecord(t, Rec(1));
  AppendDbfRecord(t);
  CloseDbf(t);
  test::WriteAll(Path("leak.dbt"), WithOneMemo(3, 3));  // block 2: neither memo nor free
  uint32_t unreachable = 9;
  EXPECT_TRUE(Kinds(Path("leak.dbf"), &unreachable).empty());
  EXPECT_EQ(unreachable, 1u);
}

TEST_F(CheckTest, TablesTheEngineWritesAreSoundInEveryLayout) {
  for (uint8_t version : {0x03, 0x83, 0x8B, 0xF5, 0x8C}) {
    SCOPED_TRACE(version);
    Engine().table.CreateVersion = version;
    const bool memo = version != 0x03;
    const std::string name = Path("made" + std::to_string(version));
    DbfFile dbf;
    CreateDbf(dbf, name, memo ? kFields : std::vector<FieldDef>(kFields.begin(), kFields.end() - 1));
    USE(name + " EXCLUSIVE");
    for (int n = 1; n <= 12; ++n) {
      ClearRecord();
      Append();
      SetFieldNumber(1, n * 1.5 - 9);
      SetFieldLogical(3, n % 2 == 0);
      if (memo) {
        int32_t block = 0;
        for (int size : {n * 90, n * 10, n * 300}) {
          block = Areas().memo.write_text(*CurrentArea(), std::string(static_cast<size_t>(size), 'a'), block);
        }
        SetFieldNumber(4, block);
      }
      Replace();
      if (n % 5 == 0) DeleteRec();
    }
    CloseArea();
    EXPECT_EQ(FindingLines(CheckTableAndMemo(name + ".dbf")), "");
  }
}

TEST_F(CheckTest, FixturesOfOtherWritersAreSound) {
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(test::FixturesDir())) {
    if (entry.path().extension() != ".dbf") continue;
    SCOPED_TRACE(entry.path().string());
    EXPECT_EQ(FindingLines(CheckTableAndMemo(entry.path().string())), "");
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

// What a killed writer can leave at the end of a two-record table, what the
// repair of the tool changes, and what is left for the check to report; a
// repairing open (which may lower the count) mends the same and more.
struct RepairCase {
  const char* name;
  void (*damage)(Bytes& table);
  std::vector<std::string> changes;
  std::vector<FindingKind> left;
  std::vector<FindingKind> left_by_open;
};

const RepairCase kRepairCases[] = {
    {"sound", [](Bytes&) {}, {}, {}, {}},
    {"stale_count", [](Bytes& t) { t[4] = 1; }, {"header count 1 set to 2"}, {}, {}},
    {"no_end_byte", [](Bytes& t) { t.pop_back(); }, {"end-of-file byte written after record 2"}, {}, {}},
    {"both",
     [](Bytes& t) {
       t[4] = 0;
       t.pop_back();
     },
     {"header count 0 set to 2", "end-of-file byte written after record 2"},
     {},
     {}},
    {"wrong_end_byte", [](Bytes& t) { t.back() = 'x'; }, {"end-of-file byte written after record 2"}, {}, {}},
    {"partial_record",
     [](Bytes& t) {
       t.insert(t.end(), {'a', 'b'});
     },
     {},
     {FindingKind::kPartialRecord},
     {FindingKind::kPartialRecord}},
    {"count_above_records", [](Bytes& t) { t[4] = 3; }, {}, {FindingKind::kRecordCount}, {}},
    {"eof_in_record",
     [](Bytes& t) { t[GetLe16(t.data() + 8)] = 0x1A; },
     {},
     {FindingKind::kEndOfFile},
     {FindingKind::kEndOfFile}},
};

TEST_F(CheckTest, RepairMendsTheCountAndEndOfFileByteOnly) {
  for (const RepairCase& c : kRepairCases) {
    for (const bool by_open : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (by_open ? " by open" : " by RepairTable"));
      const std::string path = Path(std::string(c.name) + ".dbf");
      DbfFile t = test::MakeTable(path, kFields);
      for (int i = 0; i < 2; ++i) {
        test::SetRecord(t, Rec(0));
        AppendDbfRecord(t);
      }
      CloseDbf(t);
      Bytes bytes = test::ReadAll(path);
      c.damage(bytes);
      test::WriteAll(path, bytes);
      if (by_open) {
        Engine().table.RepairRecCount = true;
        t.path = path;
        OpenDbf(t);
        CloseDbf(t);
        Engine().table.RepairRecCount = false;
        EXPECT_EQ(Kinds(path), c.left_by_open) << FindingLines(CheckTableAndMemo(path));
      } else {
        EXPECT_EQ(RepairTable(path), c.changes);
        EXPECT_EQ(Kinds(path), c.left) << FindingLines(CheckTableAndMemo(path));
      }
    }
  }
}

TEST_F(CheckTest, RepairThatCannotLockOrOpenSaysSo) {
  DbfFile t = test::MakeTable(Path("busy.dbf"), kFields);
  CloseDbf(t);
  env_.FakeClock(true);
  env_.RefuseLocks(true);
  const std::vector<std::string> lines = RepairTable(Path("busy.dbf"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("repair failed: ", 0), 0u) << lines[0];
  EXPECT_EQ(RepairTable(Path("absent.dbf")).size(), 1u);
}

TEST_F(CheckTest, GarbageIsAFindingNotACrash) {
  test::WriteAll(Path("junk.dbf"), Bytes(100, 0xEE));
  EXPECT_EQ(Kinds(Path("junk.dbf")), std::vector<FindingKind>{FindingKind::kUnreadable});
  EXPECT_EQ(Kinds(Path("absent.dbf")), std::vector<FindingKind>{FindingKind::kUnreadable});
}

}  // namespace
}  // namespace ov
