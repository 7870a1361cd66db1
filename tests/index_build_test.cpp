// Building index tags: trees of every key type checked against a plain
// sorted model and the independent reader, the spill through the run file,
// tag replacement, the tag limit and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/index/index_engine.h"
#include "engine/index/mdx_walk.h"
#include "engine/index/umakemdx.h"
#include "engine/support/codepage.h"
#include "tests/dbf_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

struct Row {
  std::string name;  // ANSI
  double amt = 0;
  std::string date;  // YYYYMMDD or blanks
  std::string big;
  std::string city;
};

// Platform layer that remembers run files and reports a chosen free space.
class BuildEnv : public test::FaultEnv {
 public:
  std::vector<std::string> temps;
  uint32_t free_kb = 0xFFFFFFFFu;
  uint16_t TempFile(std::string& name) override {
    const uint16_t code = target()->TempFile(name);
    temps.push_back(name);
    return code;
  }
  uint32_t FreeSpaceKB(const std::string&) override { return free_kb; }
};

class IndexBuildTest : public test::EngineTest {
 protected:
  void SetUp() override {
    test::EngineTest::SetUp();
    SetEnv(&benv_);
    benv_.SetToday(2024, 3, 9);
  }
  void TearDown() override { test::EngineTest::TearDown(); }

  // NAME C(20), AMT N(8,2), DT D, BIG C(70), CITY C(10); the rows written
  // as raw records, then the table opened exclusively.
  void MakeTable(const std::vector<Row>& rows, bool ansi = true) {
    rows_ = rows;
    {
      DbfFile dbf = test::MakeTable(
          Path("T.DBF"),
          {{"NAME", 'C', 20, 0}, {"AMT", 'N', 8, 2}, {"DT", 'D', 8, 0}, {"BIG", 'C', 70, 0}, {"CITY", 'C', 10, 0}});
      int n = 0;
      for (const Row& r : rows) {
        char amt[16];
        std::snprintf(amt, sizeof amt, "%8.2f", r.amt);
        test::SetRecord(dbf, " " + Pad(r.name, 20) + amt + Pad(r.date, 8) + Pad(r.big, 70) + Pad(r.city, 10));
        PutDbfRecord(dbf, ++n);
      }
      CloseDbf(dbf);
    }
    AreaConfig().AnsiTables = ansi;
    USE(Path("T.DBF") + " EXCLUSIVE");
  }
  static std::string Pad(const std::string& s, size_t n) { return (s + std::string(n, ' ')).substr(0, n); }

  static std::vector<Row> RandomRows(int n, unsigned seed) {
    std::mt19937 rng(seed);
    const std::vector<std::string> names = {"M\xFCller", "Meyer", "\xC4pfel", "Zorn", "apfel", "Caf\xE9", "Abel", ""};
    std::vector<Row> rows;
    for (int i = 0; i < n; ++i) {
      Row r;
      r.name = names[rng() % names.size()] + std::to_string(rng() % 50);
      r.amt = static_cast<int>(rng() % 20001 - 10000) / 100.0;
      const int y = 1850 + static_cast<int>(rng() % 300);
      char d[16];
      std::snprintf(d, sizeof d, "%04d%02d%02d", y, 1 + static_cast<int>(rng() % 12), 1 + static_cast<int>(rng() % 28));
      r.date = rng() % 10 == 0 ? "        " : d;
      r.big = std::string(1 + rng() % 60, static_cast<char>('a' + rng() % 3));
      r.city = "C" + std::to_string(rng() % 7);
      rows.push_back(r);
    }
    return rows;
  }

  // The model: record numbers in index order by a plain sort.
  template <typename KeyOf>
  std::vector<uint32_t> Model(KeyOf key, bool descending = false, bool unique = false,
                              const std::function<bool(const Row&)>& cond = nullptr) const {
    using K = decltype(key(rows_[0]));
    std::vector<std::pair<K, uint32_t>> v;
    for (size_t i = 0; i < rows_.size(); ++i) {
      if (!cond || cond(rows_[i])) v.emplace_back(key(rows_[i]), static_cast<uint32_t>(i + 1));
    }
    std::stable_sort(v.begin(), v.end(),
                     [&](const auto& a, const auto& b) { return descending ? b.first < a.first : a.first < b.first; });
    std::vector<uint32_t> out;
    for (size_t i = 0; i < v.size(); ++i) {
      if (unique && i > 0 && !(v[i - 1].first < v[i].first) && !(v[i].first < v[i - 1].first)) continue;
      out.push_back(v[i].second);
    }
    return out;
  }

  // Record numbers of every tag of an index, by our walk.
  static std::map<std::string, std::vector<uint32_t>> Walked(const std::string& path, int* max_height = nullptr) {
    std::vector<TagSummary> tags;
    std::string error;
    EXPECT_TRUE(ReadIndexSummary(path, tags, error)) << error;
    std::map<std::string, std::vector<uint32_t>> out;
    std::unique_ptr<File> f;
    EXPECT_EQ(OpenResolved(path, fmode::kRead, Disposition::kOpenExisting, f), 0);
    for (const TagSummary& t : tags) {
      EXPECT_EQ(t.error, "") << t.slot.name;
      std::vector<uint32_t>& recs = out[t.slot.name];
      EXPECT_EQ(WalkTag(*f, t.header, [&](const uint8_t*, uint32_t r) { recs.push_back(r); }), "");
      if (max_height != nullptr) *max_height = std::max(*max_height, t.height);
    }
    return out;
  }

  // Record numbers of every tag as the independent reader lists them.
  std::map<std::string, std::vector<uint32_t>> Oracle(const std::string& mdx) {
    std::string out;
    const std::string cmd = "perl " + std::string(OV_ORACLE_DIR) + "/dump_mdx.pl " + mdx + " " + Path("T.DBF") +
                            " | /usr/bin/python3 -c 'import json,sys\n"
                            "for t in json.load(sys.stdin)[\"tags\"]: print(t[\"name\"], *(t[\"recnos\"] or []))'";
    EXPECT_EQ(test::RunCommand(cmd, &out), 0) << out;
    std::map<std::string, std::vector<uint32_t>> tags;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream ls(line);
      std::string name;
      ls >> name;
      uint32_t r;
      while (ls >> r) tags[name].push_back(r);
      tags[name];
    }
    return tags;
  }

  const std::vector<TagDef> kTags = {{"NAME", "NAME", "", false, false},   {"AMT", "AMT", "", false, false},
                                     {"DT", "DT", "", false, false},       {"DNAME", "NAME", "", true, false},
                                     {"UCITY", "CITY", "", false, true},   {"POS", "NAME", "AMT > 0", false, false},
                                     {"BIG", "BIG+CITY", "", false, false}};

  BuildEnv benv_;
  std::vector<Row> rows_;
};

std::string OemKey(const std::string& ansi, size_t n) {
  std::string k = (ansi + std::string(n, ' ')).substr(0, n);
  AnsiToOemBuf(k.data(), k.size());
  return k;
}

TEST_F(IndexBuildTest, EveryKeyTypeInModelOrderAndAsTheIndependentReaderWalksIt) {
  MakeTable(RandomRows(400, 7));
  ASSERT_TRUE(MakeMdx(kTags, "", true));
  const auto name = [](const Row& r) { return OemKey(r.name, 20); };
  const auto date = [](const Row& r) { return r.date == "        " ? std::string("99999999") : r.date; };
  const std::map<std::string, std::vector<uint32_t>> want = {
      {"NAME", Model(name)},
      {"AMT", Model([](const Row& r) { return r.amt; })},
      {"DT", Model(date)},
      {"DNAME", Model(name, true)},
      {"UCITY", Model([](const Row& r) { return OemKey(r.city, 10); }, false, true)},
      {"POS", Model(name, false, false, [](const Row& r) { return r.amt > 0; })},
      {"BIG", Model([](const Row& r) { return OemKey(r.big, 70) + OemKey(r.city, 10); })},
  };
  int height = 0;
  EXPECT_EQ(Walked(Path("T.MDX"), &height), want);
  EXPECT_EQ(height, 3);
  EXPECT_EQ(Oracle(Path("T.MDX")), want);
}

TEST_F(IndexBuildTest, EmptyTableAndHeaderBytes) {
  MakeTable({});
  ASSERT_TRUE(
      MakeMdx({{"K1", "LEFT(NAME,1)", "", false, false}, {"K100", "BIG+NAME+CITY", "", false, false}}, "E", true));
  const std::vector<uint8_t> b = test::ReadAll(Path("E.MDX"));
  ASSERT_EQ(b.size(), 2048u + 4 * 1024);
  EXPECT_EQ(b[28], 2);
  // Tag 1: root leaf at block 4, header at 6; tag 2: root 8, header 10.
  EXPECT_EQ(test::Le32(b, 512 + 32), 6u);
  EXPECT_EQ(test::Le32(b, 512 + 64), 10u);
  EXPECT_EQ(test::Le32(b, 32), 10u);  // root of the tag added last + 2
  const size_t t1 = 6 * 512, t2 = 10 * 512;
  EXPECT_EQ(test::Le32(b, t1), 4u);
  EXPECT_EQ(test::Le16(b, t1 + 18), 8);
  EXPECT_EQ(test::Le16(b, t1 + 14), 126);
  EXPECT_EQ(test::Le16(b, t2 + 12), 100);
  EXPECT_EQ(test::Le16(b, t2 + 18), 104);
  EXPECT_EQ(test::Le16(b, t2 + 14), 9);
  EXPECT_EQ(b[t1 + 246], 0);                  // has-keys
  EXPECT_EQ(test::Le32(b, 4 * 512), 0u);      // root leaf, count 0
  EXPECT_EQ(test::Le32(b, 4 * 512 + 8), 0u);  // trailing pointer 0: a leaf
}

TEST_F(IndexBuildTest, SpilledBuildIsByteIdenticalAndLeavesNoRunFile) {
  MakeTable(RandomRows(3000, 11));
  const std::vector<TagDef> tags = {kTags[0], kTags[1], kTags[3], kTags[4]};
  ASSERT_TRUE(MakeMdx(tags, "MEM", true));
  EXPECT_TRUE(benv_.temps.empty());
  IndexEngine().BuildMemory = 20000;  // about 700 pairs a run
  ASSERT_TRUE(MakeMdx(tags, "RUNS", true));
  EXPECT_EQ(test::ReadAll(Path("MEM.MDX")), test::ReadAll(Path("RUNS.MDX")));
  ASSERT_FALSE(benv_.temps.empty());
  for (const std::string& t : benv_.temps) EXPECT_FALSE(test::Exists(t)) << t;

  // A build that fails in the middle leaves the old index and no run file.
  benv_.temps.clear();
  benv_.FailWriteAfter(4);
  EXPECT_THROW(MakeMdx(tags, "MEM", true), EOrvelError);
  benv_.FailWriteAfter(0);
  EXPECT_EQ(test::ReadAll(Path("MEM.MDX")), test::ReadAll(Path("RUNS.MDX")));
  for (const std::string& t : benv_.temps) EXPECT_FALSE(test::Exists(t)) << t;
  EXPECT_FALSE(test::Exists(Path("MEM.MDX.$$$")));
}

TEST_F(IndexBuildTest, TagsReplaceOnlyTheirOwnNameAndStopAtFortySeven) {
  MakeTable(RandomRows(20, 3));
  ASSERT_TRUE(MakeMdx({kTags[0]}, "", true));
  ASSERT_TRUE(MakeMdx({{"NA", "CITY", "", false, false}, {"name", "AMT", "", false, false}}, "", false));
  std::vector<TagDef> defs;
  uint16_t code = 0;
  std::string context;
  ASSERT_TRUE(ReadTagDefs(Path("T.MDX"), defs, code, context));
  ASSERT_EQ(defs.size(), 2u);
  EXPECT_EQ(defs[0].name, "NA");  // the last slot took the replaced one's place
  EXPECT_EQ(defs[1].name, "NAME");
  EXPECT_EQ(defs[1].key, "AMT");

  std::vector<TagDef> many;
  for (int i = 0; i < 47; ++i) many.push_back({"T" + std::to_string(i), "CITY", "", false, false});
  ASSERT_TRUE(MakeMdx(many, "", true));
  const std::vector<uint8_t> before = test::ReadAll(Path("T.MDX"));
  QuietErrors quiet;
  EXPECT_FALSE(MakeMdx({{"T47", "CITY", "", false, false}}, "", false));
  EXPECT_EQ(Errors().DbfError, err::kTooManyTags);
  EXPECT_EQ(test::ReadAll(Path("T.MDX")), before);
  EXPECT_TRUE(MakeMdx({{"T3", "NAME", "", false, false}}, "", false));  // replacing still works
}

TEST_F(IndexBuildTest, SharedTableIsHeldExclusivelyWhileTagsAreAdded) {
  MakeTable(RandomRows(50, 9));
  CloseArea();
  USE(Path("T.DBF"));
  ASSERT_TRUE(MakeMdx({kTags[0]}, "", false));
  EXPECT_FALSE(CurrentArea()->exclusive);
  {
    // Another process holding the table makes the exclusive reopen fail.
    test::ChildHolder other([&] {
      std::unique_ptr<File> f;
      return OpenResolved(Path("T.DBF"), fmode::kRead | fmode::kDenyNone, Disposition::kOpenExisting, f) == 0 &&
             (f.release(), true);
    });
    ASSERT_TRUE(other.ready());
    QuietErrors quiet;
    EXPECT_FALSE(MakeMdx({kTags[1]}, "", false));
    EXPECT_EQ(Errors().DbfError, err::kExclusiveRequired);
  }
  EXPECT_EQ(Walked(Path("T.MDX")).size(), 1u);
}

TEST_F(IndexBuildTest, CharacterKeysFollowOneRule) {
  // An OEM table: box-drawing characters have no twin in the ANSI text a
  // record read presents, and the key is made from that text.
  MakeTable({{"\xC9\xCD\xBB", 1, "", "", "|"}, {"ab", 2, "", "", "|"}}, false);
  ASSERT_TRUE(MakeMdx({{"K", "TRIM(NAME)+CITY", "", false, false}}, "", true));
  std::vector<TagSummary> tags;
  std::string error;
  ASSERT_TRUE(ReadIndexSummary(Path("T.MDX"), tags, error));
  std::unique_ptr<File> f;
  ASSERT_EQ(OpenResolved(Path("T.MDX"), fmode::kRead, Disposition::kOpenExisting, f), 0);
  std::vector<std::string> keys;
  const size_t len = tags[0].header.key_length;
  EXPECT_EQ(WalkTag(*f, tags[0].header, [&](const uint8_t* k, uint32_t) { keys.emplace_back(k, k + len); }), "");
  std::string box = "\xC9\xCD\xBB";
  OemToAnsiBuf(box.data(), box.size());
  const std::vector<std::string> want = {OemKey(box + "|", len), OemKey("ab|", len)};
  std::vector<std::string> sorted = want;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(keys, sorted);  // no bytes of the evaluator's pool after the text
}

TEST_F(IndexBuildTest, BadDefinitionsAreRefused) {
  MakeTable(RandomRows(5, 1));
  struct Case {
    TagDef def;
    uint16_t code;
  } cases[] = {
      {{"LONG", "NAME+\"" + std::string(230, 'x') + "\"", "", false, false}, err::kKeyTooLong},
      {{"LOGIC", "AMT > 0", "", false, false}, err::kInternal},
      {{"WIDE", "BIG+BIG", "", false, false}, err::kBadSize},
      {{"NONE", "\"\"", "", false, false}, err::kBadSize},
      {{"FOR", "NAME", "AMT +", false, false}, err::kExprSyntax},
  };
  QuietErrors quiet;
  for (const Case& c : cases) {
    Errors().DbfError = 0;
    EXPECT_FALSE(MakeMdx({c.def}, "BAD", true)) << c.def.name;
    EXPECT_EQ(Errors().DbfError, c.code) << c.def.name << ": " << Errors().ErrorContext;
    EXPECT_FALSE(test::Exists(Path("BAD.MDX"))) << c.def.name;
  }
  benv_.free_kb = 0;
  Errors().DbfError = 0;
  EXPECT_FALSE(MakeMdx({kTags[0]}, "BAD", true));
  EXPECT_EQ(Errors().DbfError, err::kDiskSpace);
  EXPECT_EQ(Errors().ErrorContext,
            "Available_disk_space_colon_0 KBytes;needed_colon_2 KBytes [MakeIndex] [AddIndexTag()]");
  benv_.free_kb = 0xFFFFFFFFu;
  Errors().DbfError = 0;
  EXPECT_FALSE(Reindex());
  EXPECT_EQ(Errors().DbfError, err::kIndexNotOpen);
  // Index files cut short are refused with 222.
  ASSERT_TRUE(MakeMdx({kTags[0]}, "", true));
  std::vector<uint8_t> b = test::ReadAll(Path("T.MDX"));
  for (size_t cut : {size_t{100}, size_t{2047}, size_t{3000}}) {
    test::WriteAll(Path("CUT.MDX"), std::vector<uint8_t>(b.begin(), b.begin() + static_cast<long>(cut)));
    Errors().DbfError = 0;
    EXPECT_FALSE(ReindexFile(Path("CUT.MDX")));
    EXPECT_EQ(Errors().DbfError, err::kBadIndex) << cut;
  }
}

TEST_F(IndexBuildTest, NumbersOutOfRangeAreClampedAndReindexRebuilds) {
  MakeTable(RandomRows(30, 5));
  ASSERT_TRUE(MakeMdx({{"DIV", "AMT/0", "", false, false}, kTags[1]}, "", true));
  const auto first = Walked(Path("T.MDX"));
  EXPECT_EQ(first.at("DIV").size(), 30u);
  std::vector<int> steps;
  SetProgressProc([&](int s) { steps.push_back(s); }, 10);
  ASSERT_TRUE(ReindexFile(Path("T.MDX")));
  EXPECT_EQ(Walked(Path("T.MDX")), first);
  ASSERT_EQ(steps.size(), 20u);  // ten per tag
  EXPECT_EQ(steps.back(), 10);
}

TEST_F(IndexBuildTest, DbfinfoListsTheTags) {
  std::error_code ec;
  const auto tool = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().parent_path() / "tools/dbfinfo";
  if (!std::filesystem::exists(tool)) GTEST_SKIP() << "dbfinfo not built";
  MakeTable(RandomRows(400, 7));
  ASSERT_TRUE(MakeMdx({kTags[2], kTags[4], kTags[5], kTags[6]}, "", true));
  CloseArea();
  std::string out;
  ASSERT_EQ(test::RunCommand(tool.string() + " " + Path("T.DBF"), &out), 0);
  const std::string want =
      "index: T.MDX\n"
      "tag DT: key DT; for -; type D; length 8; unique no; descending no; keys 400; height 2\n"
      "tag UCITY: key CITY; for -; type C; length 10; unique yes; descending no; keys 7; height 1\n"
      "tag POS: key NAME; for AMT > 0; type C; length 20; unique no; descending no; keys " +
      std::to_string(Model([](const Row&) { return 0; }, false, false, [](const Row& r) { return r.amt > 0; }).size()) +
      "; height 2\n"
      "tag BIG: key BIG+CITY; for -; type C; length 80; unique no; descending no; keys 400; height 3\n";
  EXPECT_NE(out.find(want), std::string::npos) << out;
}

}  // namespace
}  // namespace ov
