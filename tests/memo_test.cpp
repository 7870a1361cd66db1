// Memo files attached to work areas: formats written byte for byte, memos
// of independent writers read back, and the dBASE IV free chain checked
// against a model.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

#include "engine/dbf/dbf4.h"
#include "engine/memo/memo_area.h"
#include "engine/memo/memo_check.h"
#include "engine/support/ovcommon.h"
#include "tests/dbf_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

#include "tests/cp437_unicode.inc"

using test::Le32;

// Encodes expected UTF-8 text into code page 437 bytes, as stored.
std::string Utf8ToCp437(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += len;
    char mapped = cp < 0x80 ? static_cast<char>(cp) : '?';
    for (int k = 0; k < 128 && cp >= 0x80; ++k) {
      if (kCp437High[k] == cp) mapped = static_cast<char>(0x80 + k);
    }
    out.push_back(mapped);
  }
  return out;
}

// Whole file at once (the shared helper reads byte by byte).
std::vector<uint8_t> Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

class MemoTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    InstallMemoHooks();
    AreaConfig().AnsiTables = true;
  }

  WorkArea& OpenTable(uint8_t version, const std::string& name = "T") {
    Engine().table.CreateVersion = version;
    DbfFile dbf;
    const std::vector<FieldDef> defs{{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}};
    CreateDbf(dbf, Path(name), defs);
    USE(Path(name));
    return *CurrentArea();
  }
  int32_t Write(const std::string& text, int32_t old = 0) { return Areas().memo.write_text(*CurrentArea(), text, old); }
  std::string Read(int32_t block) { return Areas().memo.read_text(*CurrentArea(), block); }
  std::vector<uint8_t> Memo(const std::string& name = "T.DBT") { return test::ReadAll(Path(name)); }
  // Appends a record with `text` as its memo, packs, reads it back, closes.
  void PackedMemoReads(const std::string& text) {
    ClearRecord();
    SetFieldNumber(2, Write(text));
    Append();
    PackMemofile();
    GO(1);
    EXPECT_EQ(Read(static_cast<int32_t>(GetFieldNumber(2))), text);
    CloseArea();
  }
};

// Other dBASE III programs read raw text ended by 1A 1A; only a text they
// would cut short is headered and referenced by the negated block.
TEST_F(MemoTest, Dbase3MemosAreRawUnderPositiveNumbersUnlessTheyHold1AOr00) {
  OpenTable(0x83);
  ASSERT_EQ(Memo().size(), 513u);
  EXPECT_EQ(GetMemoType(), MemoKind::kDbase3);
  const int32_t block = Write("hello");
  EXPECT_EQ(block, 1);  // over the end marker of the fresh file
  std::vector<uint8_t> m = Memo();
  EXPECT_EQ(std::string(m.begin() + 512, m.end()), "hello\x1A\x1A");
  EXPECT_EQ(Le32(m, 0), 2u);  // next free block: the end, rounded up
  EXPECT_EQ(Read(block), "hello");
  for (const std::string& binary : {std::string("a\x1A"
                                                "b",
                                                3),
                                    std::string("a\0b", 3)}) {
    const int32_t headered = Write(binary);
    ASSERT_LT(headered, 0);
    m = Memo();
    const size_t at = static_cast<size_t>(-headered) * 512;
    EXPECT_EQ(std::vector<uint8_t>(m.begin() + at, m.begin() + at + 4), (std::vector<uint8_t>{0xFF, 0xFF, 0x08, 0x00}));
    EXPECT_EQ(Le32(m, at + 4), 11u);
    EXPECT_EQ(Read(headered), binary);
    EXPECT_EQ(Read(-headered), binary);
  }
}

TEST_F(MemoTest, AppendedMemoStartsOnABlockBoundaryAfterZeroPadding) {
  OpenTable(0x83);
  Write("first");
  const int32_t second = Write(std::string(600, 'x'));
  EXPECT_EQ(second, 2);
  std::vector<uint8_t> m = Memo();
  ASSERT_EQ(m.size(), 1024u + 600 + 2);
  for (size_t i = 512 + 7; i < 1024; ++i) ASSERT_EQ(m[i], 0) << i;
  EXPECT_EQ(Write("third"), 4);
  EXPECT_EQ(Read(second), std::string(600, 'x'));
}

TEST_F(MemoTest, FoxProMemoHasBigEndianHeaderAndGoesToTheEnd) {
  Engine().table.MemoBlockSize = 64;
  OpenTable(0xF5);
  ASSERT_EQ(Memo("T.FPT").size(), 512u);
  const int32_t block = Write("fox text");
  EXPECT_EQ(block, 8);
  std::vector<uint8_t> m = Memo("T.FPT");
  EXPECT_EQ(Be32(m, 512), 1u);
  EXPECT_EQ(Be32(m, 516), 8u);
  EXPECT_EQ(Be32(m, 0), 9u);
  EXPECT_EQ(Write("next", block), 9);  // never rewritten in place
  EXPECT_EQ(Read(block), "fox text");
}

// Blanks (as other programs write an empty memo field) and "0" are no
// memo: nothing to read, nothing for the pack to copy or renumber.
TEST_F(MemoTest, BlanksAndZeroInAMemoFieldAreNoMemo) {
  AreaConfig().MultiUser = false;
  for (const uint8_t version : {0x83, 0x8B, 0xF5}) {
    const std::string name = "N" + std::to_string(version);
    OpenTable(version, name);
    for (int i = 0; i < 3; ++i) {
      ClearRecord();
      SetFieldNumber(2, i == 2 ? Write("kept") : 0);
      Append();
    }
    CloseArea();
    std::vector<uint8_t> dbf = test::ReadAll(Path(name + ".DBF"));
    const size_t notes = 97 + 11;  // first record, after flag and NAME
    for (size_t i = 0; i < 10; ++i) dbf[notes + i] = ' ';
    test::WriteAll(Path(name + ".DBF"), dbf);
    USE(Path(name));
    for (int32_t rec = 1; rec <= 2; ++rec) {
      GO(rec);
      EXPECT_EQ(GetFieldNumber(2), 0) << name << " record " << rec;
      EXPECT_EQ(Read(0), "");
    }
    PackMemofile();
    GO(3);
    EXPECT_EQ(Read(static_cast<int32_t>(GetFieldNumber(2))), "kept") << name;
    CloseArea();
    const std::vector<uint8_t> packed = test::ReadAll(Path(name + ".DBF"));
    EXPECT_EQ(std::string(packed.begin() + notes, packed.begin() + notes + 10), std::string(10, ' ')) << name;
  }
}

// A new memo file looks like its table; an existing one is found whatever
// its case, and keeps its name through a pack.
TEST_F(MemoTest, MemoFileNameTakesTheTablesLetterCase) {
  AreaConfig().MultiUser = false;
  struct Case {
    uint8_t version;
    const char* table;
    const char* memo;
  };
  for (const Case& c : {Case{0x8B, "a.dbf", "a.dbt"}, Case{0x83, "B.DBF", "B.DBT"}, Case{0xF5, "c.dbf", "c.fpt"},
                        Case{0x8B, "d.Dbf", "d.Dbt"}, Case{0xF5, "e", "e.FPT"}}) {
    Engine().table.CreateVersion = c.version;
    DbfFile dbf;
    const std::vector<FieldDef> defs{{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}};
    CreateDbf(dbf, Path(c.table), defs);
    EXPECT_EQ(CurrentEnv()->ListDir(dir()).size(), 2u) << c.table;
    EXPECT_TRUE(std::filesystem::exists(Path(c.memo))) << c.memo;
    USE(Path(c.table));
    PackedMemoReads("text");
    EXPECT_TRUE(std::filesystem::exists(Path(c.memo))) << c.memo;
    for (const auto& f : CurrentEnv()->ListDir(dir())) std::filesystem::remove(Path(f));
  }
  // Found ignoring case: a table copied as "t.dbf" with "t.DBT".
  OpenTable(0x8B, "t.dbf");
  CloseArea();
  std::filesystem::rename(Path("t.dbt"), Path("t.DBT"));
  USE(Path("t.dbf"));
  PackedMemoReads("other case");
  EXPECT_TRUE(std::filesystem::exists(Path("t.DBT")));
  EXPECT_FALSE(std::filesystem::exists(Path("t.dbt")));
}

// Every block size is either refused when the file is made, or made and
// opened: a header holding a refused size does not open either.
TEST_F(MemoTest, BlockSizesAreRefusedAtCreationExactlyWhenTheyCannotOpen) {
  struct Case {
    uint8_t version;
    uint16_t size;
    uint16_t stored;  // 0: refused
  };
  const Case cases[] = {{0x8B, 1, 0},  {0x8B, 8, 0},       {0x8B, 32, 0},  {0x8B, 33, 0},
                        {0x8B, 39, 0}, {0x8B, 40, 40},     {0x8B, 64, 64}, {0x8B, 0, 512},
                        {0x8C, 32, 0}, {0x8C, 1024, 1024}, {0xF5, 1, 0},   {0xF5, 7, 0},
                        {0xF5, 8, 8},  {0xF5, 33, 33},     {0xF5, 0, 64},  {0x83, 1, 512}};
  QuietErrors quiet;
  int n = 0;
  for (const Case& c : cases) {
    const std::string name = "S" + std::to_string(++n);
    const std::string memo = Path(name + (c.version == 0xF5 ? ".FPT" : ".DBT"));
    Engine().table.CreateVersion = c.version;
    Engine().table.MemoBlockSize = c.size;
    DbfFile dbf;
    const std::vector<FieldDef> defs{{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}};
    CreateDbf(dbf, Path(name), defs);
    Engine().table.MemoBlockSize = 512;  // not the fallback for what follows
    if (c.stored == 0) {
      EXPECT_EQ(Errors().DbfError, 1003) << name;
      EXPECT_FALSE(std::filesystem::exists(memo)) << name;
      EXPECT_FALSE(std::filesystem::exists(Path(name + ".DBF"))) << name << ": a table without its memo file";
      // The same size in the header of an existing file.
      CreateDbf(dbf, Path(name), defs);
      std::vector<uint8_t> m = test::ReadAll(memo);
      if (c.version == 0xF5) {
        m[6] = static_cast<uint8_t>(c.size >> 8), m[7] = static_cast<uint8_t>(c.size);
      } else {
        m[20] = static_cast<uint8_t>(c.size), m[21] = static_cast<uint8_t>(c.size >> 8);
      }
      test::WriteAll(memo, m);
      USE(Path(name));
      EXPECT_EQ(Errors().DbfError, 1003) << name;
      CloseArea();
      continue;
    }
    ASSERT_EQ(Errors().DbfError, 0) << name;
    USE(Path(name));
    ASSERT_EQ(Errors().DbfError, 0) << name;
    EXPECT_EQ(MemoStateOf(*CurrentArea())->block_size, c.stored) << name;
    const std::string text(300, 'q');
    const int32_t block = Write(text);
    EXPECT_EQ(Read(block), text) << name;
    CloseArea();
  }
}

TEST_F(MemoTest, BlockAtOrPastEndOfFileIsAnInvalidAddress) {
  OpenTable(0x8B);
  const int32_t block = Write("abc");
  for (int32_t bad : {block + 1, 400, 0x7FFFFFFF}) {
    try {
      Read(bad);
      ADD_FAILURE() << bad;
    } catch (const EOrvelError& e) {
      EXPECT_NE(std::string(e.what()).find("Invalid memo address"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Errors().DbfError, 1003);
  }
  EXPECT_EQ(Read(block), "abc");
}

// A rewrite never touches the memo it replaces: it goes to free blocks and
// the old memo stays readable until it is given back. Released runs merge
// with free neighbours and are reused; releases are counted at offset 32.
TEST_F(MemoTest, RewritesGoToFreeBlocksAndReleasedRunsMerge) {
  OpenTable(0x8B);
  const int32_t big = Write(std::string(2000, 'a'));  // 2008 bytes: 4 blocks
  const int32_t one = Write("one");
  const int32_t two = Write("two");
  ASSERT_EQ(std::vector<int32_t>({big, one, two}), std::vector<int32_t>({1, 5, 6}));
  const int32_t shorter = Write("short", big);
  EXPECT_EQ(shorter, 7);
  EXPECT_EQ(Read(big), std::string(2000, 'a'));  // still committed
  Areas().memo.release(*CurrentArea(), big);
  Areas().memo.release(*CurrentArea(), one);  // merges with the run before it
  std::vector<uint8_t> m = Memo();
  EXPECT_EQ(Le32(m, 0), 1u);
  EXPECT_EQ(Le32(m, 512 + 4), 5u);  // one run of 4 + 1 blocks
  EXPECT_EQ(Le32(m, 32), 5u);
  EXPECT_EQ(Write(std::string(2400, 'c')), 1);  // the merged run, reused
  EXPECT_EQ(Read(two), "two");
  EXPECT_EQ(Read(shorter), "short");
  EXPECT_EQ(FindingLines(CheckMemoFile(*MemoStateOf(*CurrentArea())->file, MemoKind::kDbase4, {1, two, shorter})), "");
}

TEST_F(MemoTest, RefusedLockWaitsOnTheClockThenReportsAndLeavesRecordAlone) {
  OpenTable(0x8B);
  const int32_t block = Write("kept");
  env_.FakeClock(true);
  env_.RefuseLocks(true);
  EXPECT_THROW(Write("new text", block), EOrvelError);
  EXPECT_EQ(Errors().DbfError, 1017);
  EXPECT_GE(env_.clock_ms_, 1000u);  // slept on, then gave up: no busy loop
  EXPECT_LE(env_.clock_ms_, 3000u);
  env_.RefuseLocks(false);
  EXPECT_EQ(Read(block), "kept");
}

TEST_F(MemoTest, MemoFieldCheckNamesTheProblem) {
  EXPECT_THROW(CheckMemoField("CopyMemo()"), EOrvelError);
  EXPECT_EQ(Errors().DbfError, 215);
  DbfFile dbf;
  const std::vector<FieldDef> defs{{"NAME", 'C', 10, 0}};
  CreateDbf(dbf, Path("PLAIN"), defs);
  USE(Path("PLAIN"));
  try {
    CheckMemoField("PackMemo");
    ADD_FAILURE();
  } catch (const EOrvelError& e) {
    EXPECT_NE(std::string(e.what()).find(" No Memo Field [PackMemo]"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Errors().DbfError, 1019);
}

TEST_F(MemoTest, OemTableConvertsBothWays) {
  AreaConfig().AnsiTables = false;
  OpenTable(0x8B);
  const std::string ansi = "caf\xE9";
  const int32_t block = Write(ansi);
  std::vector<uint8_t> m = Memo();
  EXPECT_EQ(m[block * 512 + 8 + 3], 0x82);  // e acute in code page 437
  EXPECT_EQ(Read(block), ansi);
}

// A damaged file costs space, never a live memo, a hang or a wild read.
TEST_F(MemoTest, DamagedChainAndLengthsAreContained) {
  OpenTable(0x8B);
  const int32_t a = Write("aaa");
  const int32_t b = Write("bbb");
  for (int i = 0; i < 20; ++i) Write(std::string(100, 'f'));
  std::vector<uint8_t> m = Slurp(Path("T.DBT"));
  auto put = [&m](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) m[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, static_cast<uint32_t>(b));  // the chain head points at a live memo
  CloseArea();
  test::WriteAll(Path("T.DBT"), m);
  USE(Path("T"));
  const int32_t c = Write("ccc");
  EXPECT_NE(c, b);
  EXPECT_EQ(Read(b), "bbb");
  EXPECT_EQ(Read(a), "aaa");
  // A chain that loops back on itself.
  m = Slurp(Path("T.DBT"));
  put(0, 3);
  put(3 * 512, 3);
  put(3 * 512 + 4, 1);
  // A length far beyond the file.
  put(static_cast<size_t>(a) * 512 + 4, 0x7FFFFFF0);
  CloseArea();
  test::WriteAll(Path("T.DBT"), m);
  USE(Path("T"));
  EXPECT_GT(Write(std::string(700, 'd')), 3);
  EXPECT_EQ(Read(b), "bbb");
  EXPECT_THROW(Read(a), EOrvelError);  // reported, not read past the file
  EXPECT_EQ(Errors().DbfError, 1003);
}

TEST_F(MemoTest, CheckOnTheOpenHandleSeesSharedBlocksAndFreeRuns) {
  WorkArea& area = OpenTable(0x8B);
  const int32_t moved = Write("first");
  const int32_t kept = Write(std::string(600, 'k'));
  const int32_t grown = Write(std::string(1200, 'g'), moved);
  ASSERT_NE(grown, moved);
  Areas().memo.release(area, moved);  // `moved` goes to the free chain
  MemoState& s = *MemoStateOf(area);
  const auto kinds = [&](const std::vector<int32_t>& refs, uint32_t* unreachable = nullptr) {
    std::vector<FindingKind> out;
    for (const CheckFinding& f : CheckMemoFile(*s.file, s.kind, refs, unreachable)) out.push_back(f.what);
    return out;
  };
  uint32_t unreachable = 9;
  EXPECT_TRUE(kinds({grown, 0, kept}, &unreachable).empty());
  EXPECT_EQ(unreachable, 0u);
  EXPECT_EQ(kinds({grown, kept, kept}), std::vector<FindingKind>{FindingKind::kMemoShared});
  // The released memo's header is a free-chain node now.
  EXPECT_EQ(kinds({grown, kept, moved}), std::vector<FindingKind>{FindingKind::kMemoMalformed});
}

TEST_F(MemoTest, TransformHookSeesEveryByteBothWays) {
  WorkArea& area = OpenTable(0x8B);
  MemoStateOf(area)->transform = [](uint8_t* bytes, size_t n, int64_t offset, bool) {
    for (size_t i = 0; i < n; ++i) bytes[i] ^= static_cast<uint8_t>(0x5A + offset + i);
  };
  const int32_t block = Write("secret text");
  const std::vector<uint8_t> m = Slurp(Path("T.DBT"));
  EXPECT_NE(std::string(m.begin() + block * 512 + 8, m.begin() + block * 512 + 19), "secret text");
  EXPECT_EQ(Read(block), "secret text");
}

TEST_F(MemoTest, SeekFromEndFindsTheEndOfAHeaderlessMemo) {
  OpenTable(0x83);
  std::vector<uint8_t> m = Slurp(Path("T.DBT"));
  m.resize(512);
  for (char c : std::string("headerless\x1A\x1Ajunk")) m.push_back(static_cast<uint8_t>(c));
  CloseArea();
  test::WriteAll(Path("T.DBT"), m);
  USE(Path("T"));
  MemoState& s = *MemoStateOf(*CurrentArea());
  ASSERT_EQ(OpenMemoDescriptor(s, 1, 1, -1, "", "ReadBlobStream"), 1);
  EXPECT_EQ(SeekMemo(s, -4, 2), 6);
  char buf[16] = {};
  EXPECT_EQ(ReadMemoBytes(s, buf, sizeof buf), 4u);
  EXPECT_EQ(std::string(buf, 4), "less");
  EXPECT_EQ(SeekMemo(s, -100, 1), 0);
  CloseMemoDescriptor(s);
  EXPECT_EQ(Read(1), "headerless");
}

// ---- Tables written by independent programs ----

struct FixtureCase {
  const char* table;
  const char* memo_ext;
};

class MemoFixtureTest : public MemoTest, public ::testing::WithParamInterface<FixtureCase> {};

TEST_P(MemoFixtureTest, EveryMemoReadsAsTheOtherReadersAgree) {
  const std::string base = GetParam().table;
  for (const std::string& ext : {std::string(".dbf"), std::string(".") + GetParam().memo_ext}) {
    test::WriteAll(Path(base + ext), test::ReadAll(test::FixturesDir() + "/" + base + ext));
  }
  std::ifstream in(test::FixturesDir() + "/" + base + ".expected.json");
  const nlohmann::json expected = nlohmann::json::parse(in);
  USE(Path(base + ".dbf"));
  const int notes = FieldNo("NOTES");
  ASSERT_GT(notes, 0);
  const auto& records = expected["records"];
  ASSERT_EQ(records.size(), 10u);
  for (size_t i = 0; i < records.size(); ++i) {
    GO(static_cast<int32_t>(i + 1));
    const int32_t block = static_cast<int32_t>(GetFieldNumber(notes));
    const std::string want = Utf8ToCp437(records[i]["values"].back().get<std::string>());
    EXPECT_EQ(Read(block), want) << base << " record " << i + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(Writers, MemoFixtureTest,
                         ::testing::Values(FixtureCase{"db3_memo_pydbf", "dbt"}, FixtureCase{"db4_memo_xbase", "dbt"},
                                           FixtureCase{"fox_fpt_xbase", "fpt"}),
                         [](const auto& info) { return std::string(info.param.table); });

// ---- The free chain against a model ----

// The engine's walk of the chain, which must find nothing wrong with it.
std::vector<FreeRun> Chain(const std::string& path) {
  std::unique_ptr<File> f;
  EXPECT_EQ(OpenResolved(path, fmode::kRead | fmode::kDenyNone, Disposition::kOpenExisting, f), 0);
  if (!f) return {};
  std::vector<CheckFinding> findings;
  std::vector<FreeRun> runs = WalkFreeChain(*f, 512, findings);
  EXPECT_EQ(FindingLines(findings), "");
  return runs;
}

TEST_F(MemoTest, FreeChainStaysSoundUnderRandomWritesAndReleases) {
  OpenTable(0x8B);
  const uint32_t bs = 512;
  std::mt19937 rng(20261208);
  std::map<int, std::pair<int32_t, std::string>> live;  // slot -> block, text
  for (int step = 0; step < 3000; ++step) {
    const int slot = static_cast<int>(rng() % 24);
    auto it = live.find(slot);
    const int32_t old = it == live.end() ? 0 : it->second.first;
    if (old != 0 && rng() % 5 == 0) {
      Areas().memo.release(*CurrentArea(), old);
      live.erase(slot);
    } else {
      std::string text(1 + rng() % 2600, static_cast<char>('a' + step % 26));
      text[0] = static_cast<char>('A' + slot);
      live[slot] = {Write(text, old), text};
    }
    std::set<uint32_t> used;
    for (const auto& [s, memo] : live) {
      ASSERT_EQ(Read(memo.first), memo.second) << "step " << step << " slot " << s;
      const uint32_t blocks = static_cast<uint32_t>((memo.second.size() + 8 + bs - 1) / bs);
      for (uint32_t b = 0; b < blocks; ++b) {
        ASSERT_TRUE(used.insert(memo.first + b).second) << "block shared, step " << step;
      }
    }
    for (const FreeRun& r : Chain(Path("T.DBT"))) {
      for (uint32_t b = r.first; b < r.first + r.count; ++b) {
        ASSERT_EQ(used.count(b), 0u) << "free block " << b << " in use, step " << step;
      }
    }
    ASSERT_FALSE(HasFailure()) << "step " << step;
  }
  // The chain is used: the file stays well below what appending would take.
  const size_t size = Slurp(Path("T.DBT")).size();
  std::printf("memo file after the run: %zu bytes\n", size);
  EXPECT_LT(size, 3000u * 1300);
}

}  // namespace
}  // namespace ov
