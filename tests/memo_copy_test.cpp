// Copying memos between memo files of every kind, packing and re-creating
// memo files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/memo/memo_area.h"
#include "engine/support/ovcommon.h"
#include "tests/dbf_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

using test::Le32;

uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

std::string Bytes(const std::vector<uint8_t>& b, size_t at, size_t n) {
  return std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
}

// Free space on request; everything else as the fault env does it.
class SpaceEnv : public EnvWrapper {
 public:
  explicit SpaceEnv(Env* target) : EnvWrapper(target) {}
  uint32_t FreeSpaceKB(const std::string&) override { return free_kb; }
  uint32_t free_kb = 0;
};

class MemoCopyTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    AreaConfig().AnsiTables = true;
    AreaConfig().MultiUser = false;
  }

  // Opens a fresh table of the version in area n; answers the area.
  WorkArea& Table(int n, uint8_t version, const std::string& name) {
    Engine().table.CreateVersion = version;
    DbfFile dbf;
    const std::vector<FieldDef> defs{{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}};
    CreateDbf(dbf, Path(name), defs);
    Select(n);
    USE(Path(name));
    return *CurrentArea();
  }
  int32_t Write(WorkArea& a, const std::string& text, int32_t old = 0) { return Areas().memo.write_text(a, text, old); }
  // A memo with a block header, as earlier writes put into dBASE III files.
  int32_t WriteHeadered(WorkArea& a, const std::string& text) {
    MemoState& s = *MemoStateOf(a);
    const int32_t block = OpenMemoDescriptor(s, 0, 2, static_cast<int64_t>(text.size()), "", "test");
    EXPECT_EQ(WriteMemoBytes(s, text.data(), text.size()), text.size());
    CloseMemoDescriptor(s);
    return block;
  }
  std::string Read(WorkArea& a, int32_t block) { return Areas().memo.read_text(a, block); }
  int32_t Copy(WorkArea& to, WorkArea& from, int32_t block, bool same = false) {
    return Areas().memo.copy(to, from, block, same);
  }
  // Replaces a dBASE III memo file by its header plus raw memo bytes.
  void WriteRawDbase3(const std::string& name, const std::string& raw) {
    std::vector<uint8_t> m(512, 0);
    m[0] = static_cast<uint8_t>(1 + (raw.size() + 511) / 512);
    m.insert(m.end(), raw.begin(), raw.end());
    test::WriteAll(Path(name), m);
  }
  void AddRecord(const std::string& name, int32_t block) {
    ClearRecord();
    SetFieldText(1, name);
    SetFieldNumber(2, block);
    Append();
  }
};

// ---- Copy between kinds ----

TEST_F(MemoCopyTest, RawDbase3MemoGetsABlockHeaderInADbase4File) {
  Table(1, 0x83, "S");
  CloseArea();
  WriteRawDbase3("S.DBT", std::string("raw text") + "\x1A\x1A" + "junk after");
  Select(1);
  USE(Path("S"));
  WorkArea& from = *CurrentArea();
  WorkArea& to = Table(2, 0x8B, "D");
  const int32_t block = Copy(to, from, 1);
  ASSERT_EQ(block, 1);
  const std::vector<uint8_t> m = test::ReadAll(Path("D.DBT"));
  EXPECT_EQ(Bytes(m, 512, 4), std::string("\xFF\xFF\x08\x00", 4));
  EXPECT_EQ(Le32(m, 516), 8u + 8);
  EXPECT_EQ(Bytes(m, 520, 8), "raw text");
  EXPECT_EQ(Le32(m, 0), 2u);  // other writers must not hand out block 1 again
  EXPECT_EQ(Read(to, block), "raw text");
  EXPECT_NE(Write(to, "next memo"), block);
  EXPECT_EQ(Read(to, block), "raw text");
}

TEST_F(MemoCopyTest, ZeroByteEndsARawDbase3Text) {
  Table(1, 0x83, "S");
  CloseArea();
  WriteRawDbase3("S.DBT", std::string("abc\0def\x1A", 8));
  Select(1);
  USE(Path("S"));
  WorkArea& from = *CurrentArea();
  WorkArea& to = Table(2, 0xF5, "D");
  const int32_t block = Copy(to, from, 1);
  EXPECT_EQ(Read(to, block), "abc");
}

TEST_F(MemoCopyTest, Dbase4MemoBecomesRawTextInADbase3File) {
  WorkArea& from = Table(1, 0x8B, "S");
  const int32_t a = Write(from, "first memo");
  const int32_t b = Write(from, std::string(700, 'q'));
  WorkArea& to = Table(2, 0x83, "D");
  const int32_t ca = Copy(to, from, a);
  const int32_t cb = Copy(to, from, b);
  EXPECT_EQ(ca, 1);  // written over the end marker of the fresh file
  EXPECT_EQ(cb, 2);  // positive: raw text that other programs read
  const std::vector<uint8_t> m = test::ReadAll(Path("D.DBT"));
  EXPECT_EQ(Bytes(m, 512, 12), std::string("first memo\x1A\x1A"));
  EXPECT_EQ(Bytes(m, 1024, 700), std::string(700, 'q'));
  EXPECT_EQ(m.size(), 1024u + 702);
  EXPECT_EQ(Le32(m, 0), 4u);
  EXPECT_EQ(Read(to, ca), "first memo");
  EXPECT_EQ(Read(to, cb), std::string(700, 'q'));
}

TEST_F(MemoCopyTest, HeaderedDbase3MemoCopiesIntoFoxPro) {
  Engine().table.MemoBlockSize = 64;
  WorkArea& from = Table(1, 0x83, "S");
  const int32_t neg = WriteHeadered(from, "written here");
  ASSERT_LT(neg, 0);
  WorkArea& to = Table(2, 0xF5, "D");
  const int32_t block = Copy(to, from, neg);
  EXPECT_EQ(block, 8);  // 512-byte header, 64-byte blocks
  const std::vector<uint8_t> m = test::ReadAll(Path("D.FPT"));
  EXPECT_EQ(Be32(m, 512), 1u);
  EXPECT_EQ(Be32(m, 516), 12u);
  EXPECT_EQ(Be32(m, 0), 9u);
  EXPECT_EQ(Read(to, block), "written here");
}

TEST_F(MemoCopyTest, FoxProMemoCopiesIntoDbase4AndBack) {
  Engine().table.MemoBlockSize = 64;
  WorkArea& fox = Table(1, 0xF5, "F");
  const std::string text(300, 'f');
  const int32_t f = Write(fox, text);
  Engine().table.MemoBlockSize = 1024;
  WorkArea& db4 = Table(2, 0x8B, "D");
  const int32_t d = Copy(db4, fox, f);
  EXPECT_EQ(d, 1);
  EXPECT_EQ(Read(db4, d), text);
  const int32_t back = Copy(fox, db4, d);
  EXPECT_EQ(back, f + 5);  // 8 + 300 bytes take five 64-byte blocks
  EXPECT_EQ(Read(fox, back), text);
}

TEST_F(MemoCopyTest, SameNumberFormWritesAtTheSourceBlock) {
  WorkArea& from = Table(1, 0x8B, "S");
  Write(from, "one");
  Write(from, "two");
  const int32_t third = Write(from, "three");
  ASSERT_EQ(third, 3);
  WorkArea& to = Table(2, 0x8B, "D");
  EXPECT_EQ(Copy(to, from, third, true), third);
  const std::vector<uint8_t> m = test::ReadAll(Path("D.DBT"));
  EXPECT_EQ(m.size(), 4u * 512);  // padded to a whole block
  EXPECT_EQ(Bytes(m, 3 * 512 + 8, 5), "three");
  EXPECT_EQ(Read(to, third), "three");
  EXPECT_EQ(Copy(to, from, 0, true), 0);
  EXPECT_EQ(Copy(to, from, 0), 0);
  EXPECT_EQ(test::ReadAll(Path("D.DBT")).size(), m.size());
}

TEST_F(MemoCopyTest, TransformsApplyOnBothSides) {
  WorkArea& from = Table(1, 0x8B, "S");
  auto xor_with = [](uint8_t key) {
    return [key](uint8_t* b, size_t n, int64_t, bool) {
      for (size_t i = 0; i < n; ++i) b[i] ^= key;
    };
  };
  MemoStateOf(from)->transform = xor_with(0x55);
  const int32_t block = Write(from, "hidden");
  WorkArea& to = Table(2, 0x8B, "D");
  MemoStateOf(to)->transform = xor_with(0x33);
  const int32_t copied = Copy(to, from, block);
  const std::vector<uint8_t> m = test::ReadAll(Path("D.DBT"));
  EXPECT_NE(Bytes(m, 520, 6), "hidden");
  EXPECT_EQ(Read(to, copied), "hidden");
}

TEST_F(MemoCopyTest, FailuresReportAndGiveTheLockBack) {
  AreaConfig().MultiUser = true;
  WorkArea& from = Table(1, 0x8B, "S");
  const int32_t block = Write(from, std::string(2000, 'w'));
  WorkArea& to = Table(2, 0x8B, "D");
  try {
    Copy(to, from, 40);
    ADD_FAILURE();
  } catch (const EOrvelError& e) {
    EXPECT_NE(std::string(e.what()).find("Invalid memo address"), std::string::npos);
  }
  EXPECT_FALSE(MemoStateOf(to)->locked);
  env_.FailWriteAfter(3);  // padding, placeholder, then the bytes
  EXPECT_THROW(Copy(to, from, block), EOrvelError);
  EXPECT_EQ(Errors().DbfError, 1005);
  EXPECT_FALSE(MemoStateOf(to)->locked);
  env_.FailWriteAfter(0);
  const int32_t copied = Copy(to, from, block);
  EXPECT_EQ(Read(to, copied), std::string(2000, 'w'));
}

TEST_F(MemoCopyTest, CopyMemoNeedsMemoFilesOnBothSides) {
  Table(1, 0x8B, "S");
  Select(2);
  EXPECT_THROW(CopyMemo(1, 1, false), EOrvelError);
  EXPECT_EQ(Errors().DbfError, 215);
  Table(2, 0x8B, "D");
  EXPECT_THROW(CopyMemo(3, 1, false), EOrvelError);
  EXPECT_EQ(Errors().DbfError, 215);
}

// ---- Pack ----

TEST_F(MemoCopyTest, PackWithoutReferencesLeavesOnlyTheHeader) {
  for (uint8_t version : {0x83, 0x8B, 0xF5}) {
    Engine().table.MemoBlockSize = 512;
    const std::string name = "P" + std::to_string(version);
    WorkArea& a = Table(1, version, name);
    const std::string memo = Path(name) + (version == 0xF5 ? ".FPT" : ".DBT");
    const std::vector<uint8_t> fresh = test::ReadAll(memo);
    Write(a, "orphan one");
    Write(a, std::string(1500, 'o'));
    AddRecord("none", 0);
    PackMemofile();
    EXPECT_EQ(test::ReadAll(memo), fresh) << std::hex << int{version};
    EXPECT_FALSE(test::Exists(Path(name) + ".$$$"));
    CloseArea();
  }
}

TEST_F(MemoCopyTest, PackKeepsEveryLiveMemoAndRenumbersTheRecords) {
  WorkArea& a = Table(1, 0x8B, "T");
  std::vector<std::string> texts{"alpha", std::string(900, 'b'), "", "gamma\r\nlines", std::string(3000, 'd')};
  int32_t dead = 0;
  for (size_t i = 0; i < texts.size(); ++i) {
    dead = Write(a, std::string(1200, 'x'), 0);  // garbage nobody references
    AddRecord("r" + std::to_string(i + 1), texts[i].empty() ? 0 : Write(a, texts[i]));
  }
  (void)dead;
  const size_t before = test::ReadAll(Path("T.DBT")).size();
  GO(2);
  PackMemofile();
  const std::vector<uint8_t> m = test::ReadAll(Path("T.DBT"));
  EXPECT_LT(m.size(), before / 2);
  EXPECT_EQ(Le32(m, 0), (m.size() + 511) / 512);
  // The typed record was refreshed: record 2's memo is readable at once.
  EXPECT_EQ(Read(a, static_cast<int32_t>(GetFieldNumber(2))), texts[1]);
  std::vector<int32_t> blocks;
  for (int32_t n = 1; n <= 5; ++n) {
    GO(n);
    const int32_t block = static_cast<int32_t>(GetFieldNumber(2));
    EXPECT_EQ(Read(a, block), texts[static_cast<size_t>(n - 1)]) << n;
    blocks.push_back(block);
  }
  EXPECT_EQ(blocks[4], 1);  // the last record is copied first
  EXPECT_EQ(blocks[2], 0);
  EXPECT_GT(blocks[0], blocks[1]);
  // The packed file takes new memos normally.
  const int32_t more = Write(a, "after pack");
  EXPECT_EQ(Read(a, more), "after pack");
  EXPECT_EQ(Read(a, blocks[0]), "alpha");
}

TEST_F(MemoCopyTest, PackStopsOnADanglingReferenceAndChangesNothing) {
  WorkArea& a = Table(1, 0x8B, "T");
  AddRecord("ok", Write(a, "fine"));
  AddRecord("bad", 500);
  const std::vector<uint8_t> dbf = test::ReadAll(Path("T.DBF"));
  const std::vector<uint8_t> dbt = test::ReadAll(Path("T.DBT"));
  try {
    PackMemofile();
    ADD_FAILURE();
  } catch (const EOrvelError& e) {
    EXPECT_NE(std::string(e.what()).find(" Memo block # 500 Record # 2 [PackMemo]"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Errors().DbfError, 1003);
  EXPECT_EQ(test::ReadAll(Path("T.DBF")), dbf);
  EXPECT_EQ(test::ReadAll(Path("T.DBT")), dbt);
  EXPECT_FALSE(test::Exists(Path("T.$$$")));
}

TEST_F(MemoCopyTest, PackNeedsRoomForTheNewFile) {
  WorkArea& a = Table(1, 0x8B, "T");
  AddRecord("big", Write(a, std::string(4000, 'z')));
  SpaceEnv space(&env_);
  SetEnv(&space);
  EXPECT_THROW(PackMemofile(), EOrvelError);
  SetEnv(&env_);
  EXPECT_EQ(Errors().DbfError, 1012);
  EXPECT_FALSE(test::Exists(Path("T.$$$")));
  GO(1);
  EXPECT_EQ(Read(a, static_cast<int32_t>(GetFieldNumber(2))), std::string(4000, 'z'));
}

TEST_F(MemoCopyTest, PackTurnsHeaderedDbase3MemosIntoRawText) {
  WorkArea& a = Table(1, 0x83, "T");
  AddRecord("one", WriteHeadered(a, "headered memo"));
  GO(1);
  ASSERT_LT(GetFieldNumber(2), 0);
  PackMemofile();
  GO(1);
  EXPECT_EQ(GetFieldNumber(2), 1);
  const std::vector<uint8_t> m = test::ReadAll(Path("T.DBT"));
  EXPECT_EQ(Bytes(m, 512, 15), std::string("headered memo\x1A\x1A"));
  EXPECT_EQ(Read(a, 1), "headered memo");
}

// Raw text would end at the first 0x1A or zero byte: such memos keep
// their header through copies and packs, and nothing is cut off.
TEST_F(MemoCopyTest, Dbase3MemosHolding1AOr00StayWholeThroughCopyAndPack) {
  const std::string texts[] = {std::string("a\x1A"
                                           "b",
                                           3),
                               std::string("c\0d", 3)};
  WorkArea& from = Table(1, 0x83, "S");
  WorkArea& same = Table(3, 0x83, "E");
  WorkArea& to = Table(2, 0x83, "D");
  for (const std::string& text : texts) {
    const int32_t source = Write(from, text);
    ASSERT_LT(source, 0);
    const int32_t at_same = Copy(same, from, source, true);
    EXPECT_EQ(at_same, source);
    EXPECT_EQ(Read(same, at_same), text);
    const int32_t copied = Copy(to, from, source);
    EXPECT_LT(copied, 0);
    AddRecord("r", copied);
  }
  PackMemofile();
  for (int32_t rec = 1; rec <= 2; ++rec) {
    GO(rec);
    EXPECT_EQ(Read(to, static_cast<int32_t>(GetFieldNumber(2))), texts[rec - 1]);
  }
}

TEST_F(MemoCopyTest, RecreateGivesAnEmptyMemoFileOfTheTablesKind) {
  Engine().table.CreateVersion = 0x8B;
  WorkArea& a = Table(1, 0xF5, "T");
  Write(a, std::string(2000, 'r'));
  Engine().table.CreateVersion = 0x8B;
  Areas().memo.recreate(a, Path("T"));
  EXPECT_EQ(test::ReadAll(Path("T.FPT")).size(), 512u);
  EXPECT_EQ(MemoStateOf(a)->kind, MemoKind::kFox);
  const int32_t block = Write(a, "fresh");
  EXPECT_EQ(Read(a, block), "fresh");
}

TEST_F(MemoCopyTest, OperationTableKeepsItsOrder) {
  const MemoOperations& ops = MemoOps();
  EXPECT_EQ(ops.assign, &AssignMemo);
  EXPECT_EQ(ops.pack, &PackMemofileOf);
  EXPECT_EQ(ops.close, &CloseMemoFile);
  EXPECT_EQ(ops.recreate, &RecreateMemofile);
  EXPECT_EQ(ops.add, &AddMemo);
  WorkArea& from = Table(1, 0x8B, "S");
  const int32_t block = Write(from, "x");
  WorkArea& to = Table(2, 0x8B, "D");
  Write(to, "taken");
  EXPECT_EQ(ops.copy_to_end(to, from, block), 2);
  EXPECT_EQ(ops.copy_same_number(to, from, block), block);
}

}  // namespace
}  // namespace ov
