// Key maintenance when things go wrong: a write that fails at each position
// of a split or a key move, and a process killed at random moments while it
// appends and changes keyed records. An interrupted update may leave keys
// twice (the check reports it, a rebuild mends it) but never loses a
// committed key. Also the split's counts and the file never shrinking.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/index/index_check.h"
#include "engine/index/mdx_walk.h"
#include "engine/index/ovndx.h"
#include "engine/index/umakemdx.h"
#include "engine/memo/memo_check.h"
#include "tests/dbf_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

constexpr int kKills = 100;

std::string KeyName(uint32_t n) {
  char b[16];
  std::snprintf(b, sizeof b, "K%07u", n);
  return b;
}

class IndexFaultTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SetEnv(&env_);
  }

  std::string Table() const { return Path("T.DBF"); }
  static std::string Tool() {
    std::error_code ec;
    return (std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().parent_path() / "tools/dbfinfo").string();
  }

  // A table of `names` (C(100), 9 keys a node) with a NAME tag, open.
  void Make(const std::vector<std::string>& names) {
    DbfFile dbf = test::MakeTable(Table(), {{"NAME", 'C', 100, 0}});
    CloseDbf(dbf);
    USE(Table() + " EXCLUSIVE");
    for (const std::string& n : names) {
      ClearRecord();
      SetFieldText(1, n);
      Append();
    }
    ASSERT_TRUE(MakeIndex({{"NAME", "NAME", "", false, false}}, ""));
  }

  // Every record whose name is in `names` is found by its key.
  void ExpectFound(const std::map<int32_t, std::string>& names, const std::string& why) {
    for (const auto& [r, n] : names) {
      EXPECT_TRUE(Find(n)) << why << ": " << n;
      EXPECT_EQ(RecNo(), r) << why;
    }
  }

  static uint64_t MdxSize(const std::string& path) {
    std::unique_ptr<File> f;
    uint64_t size = 0;
    if (OpenResolved(path, fmode::kRead, Disposition::kOpenExisting, f) == 0) (void)f->Size(size);
    return size;
  }

  test::FaultEnv env_;
};

// A full root leaf of 9 splits 5 / 4 and the new key goes to its half; the
// root becomes interior with one key. The file never shrinks.
TEST_F(IndexFaultTest, SplitCountsAndAFileThatOnlyGrows) {
  std::vector<std::string> names;
  for (uint32_t i = 0; i < 9; ++i) names.push_back(KeyName(i * 10));
  for (const auto& [key, left, right] : std::vector<std::tuple<uint32_t, int, int>>{{95, 5, 5}, {5, 6, 4}}) {
    CloseArea();
    Make(names);
    ClearRecord();
    SetFieldText(1, KeyName(key));
    Append();
    CloseIndexes();  // the file is read on its own below
    std::vector<TagSummary> tags;
    std::string error;
    ASSERT_TRUE(ReadIndexSummary(Path("T.MDX"), tags, error)) << error;
    EXPECT_EQ(tags[0].height, 2);
    std::unique_ptr<File> f;
    ASSERT_EQ(OpenResolved(Path("T.MDX"), fmode::kRead, Disposition::kOpenExisting, f), 0);
    mdx::Block root{}, node{};
    ASSERT_EQ(mdx::ReadAt(*f, tags[0].header.root, root.data(), root.size()), 0);
    EXPECT_EQ(mdx::NodeCount(root.data()), 1);
    const uint16_t el = tags[0].header.entry_length();
    ASSERT_EQ(mdx::ReadAt(*f, GetLe32(mdx::NodeEntry(root.data(), 0, el)), node.data(), node.size()), 0);
    EXPECT_EQ(mdx::NodeCount(node.data()), left) << key;
    ASSERT_EQ(mdx::ReadAt(*f, mdx::TrailingPointer(root.data(), el), node.data(), node.size()), 0);
    EXPECT_EQ(mdx::NodeCount(node.data()), right) << key;
    f.reset();
    ASSERT_TRUE(SetIndexTo(""));
    EXPECT_EQ(FindingLines(CheckIndex()), "");
  }
  // Keys taken out again: blocks are abandoned, never given back.
  uint64_t size = MdxSize(Path("T.MDX"));
  for (int32_t r = 1; r <= RecCount(); ++r) {
    GO(r);
    SetFieldText(1, "Z" + std::to_string(r));
    Replace();
    EXPECT_GE(MdxSize(Path("T.MDX")), size);
    size = MdxSize(Path("T.MDX"));
  }
  EXPECT_EQ(FindingLines(CheckIndex()), "");
}

// A write failing at each step of an append that splits a leaf, its parent
// and the root, and of a key move that empties a leaf: reported, no
// committed key lost, and a rebuild leaves a sound index.
TEST_F(IndexFaultTest, AFailedWriteLosesNoCommittedKeyAndReindexMends) {
  std::vector<std::string> names;
  for (uint32_t i = 0; i < 81; ++i) names.push_back(KeyName(i * 10));  // two full levels
  for (const bool append : {true, false}) {
    for (int fail = 1; fail <= 9; ++fail) {
      const std::string why = (append ? "append, write " : "replace, write ") + std::to_string(fail);
      CloseArea();
      Make(names);
      std::map<int32_t, std::string> committed;
      for (int32_t r = 1; r <= 81; ++r) committed[r] = names[static_cast<size_t>(r - 1)];
      env_.FailWriteAfter(fail);
      try {
        if (append) {
          ClearRecord();
          SetFieldText(1, "ZZ");
          Append();
        } else {
          GO(1);
          SetFieldText(1, "ZZ");
          Replace();
        }
      } catch (const EOrvelError&) {
      }
      const uint16_t code = Errors().DbfError;
      env_.FailWriteAfter(0);
      Errors().DbfError = 0;
      EXPECT_TRUE(code == 0 || code == 101) << why << ": " << code;
      if (!append) committed.erase(1);  // the record under way
      if (code == 0 || fail == 1) {     // the first write is the record's: the index is untouched
        ExpectFound(committed, why);
      } else {  // the index refuses to answer until it is rebuilt
        EXPECT_THROW(Find(committed.begin()->second), EOrvelError) << why;
        EXPECT_THROW(GoTop(), EOrvelError) << why;
      }
      ASSERT_TRUE(Reindex()) << why;
      EXPECT_EQ(FindingLines(CheckIndex()), "") << why;
    }
  }
}

// A child appending and changing keyed records, killed at random moments:
// every key it reported committed is still found; a rebuild leaves the
// index sound.
TEST_F(IndexFaultTest, AKilledWriterLosesNoCommittedKey) {
  std::mt19937 rng(7);
  int damaged = 0;
  for (int run = 0; run < kKills && !HasFailure(); ++run) {
    CloseArea();
    Make({KeyName(1), KeyName(2)});
    CloseArea();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const uint32_t seed = rng();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      try {
        USE(Table() + " EXCLUSIVE");
        if (!SetIndexTo("")) _exit(1);
        std::mt19937 child(seed);
        for (uint32_t n = 3;; ++n) {
          // "r name" before, "ok" after each commit.
          const bool add = child() % 3 != 0;
          const int32_t r = add ? RecCount() + 1 : static_cast<int32_t>(1 + child() % RecCount());
          const std::string name = KeyName(n * 1000 + child() % 1000);  // each key once
          const std::string line = std::to_string(r) + " " + name + "\n";
          if (write(fds[1], line.data(), line.size()) < 0) break;
          if (add) {
            ClearRecord();
          } else {
            GO(r);
          }
          SetFieldText(1, name);
          add ? Append() : Replace();
          if (write(fds[1], "ok\n", 3) < 0) break;
        }
      } catch (...) {
      }
      _exit(1);
    }
    close(fds[1]);
    std::string log;
    char buf[512];
    const int wanted = 20 + static_cast<int>(rng() % 400);
    for (int oks = 0; oks < wanted;) {
      const ssize_t got = read(fds[0], buf, sizeof buf);
      if (got <= 0) break;
      for (ssize_t i = 0; i < got; ++i) oks += buf[i] == 'k';
      log.append(buf, static_cast<size_t>(got));
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    for (ssize_t got; (got = read(fds[0], buf, sizeof buf)) > 0;) log.append(buf, static_cast<size_t>(got));
    close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status));
    std::map<int32_t, std::string> committed = {{1, KeyName(1)}, {2, KeyName(2)}};
    int32_t pending = 0;
    std::string pending_name;
    for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
      const std::string line = log.substr(at, end - at);
      if (line == "ok") {
        committed[pending] = pending_name;
        pending = 0;
        continue;
      }
      char name[32] = {};
      std::sscanf(line.c_str(), "%d %31s", &pending, name);
      pending_name = name;
    }
    committed.erase(pending);
    // The tool's check sees what the engine's check sees.
    std::string tool_out;
    const int tool_status = run < 10 ? test::RunCommand(Tool() + " " + Table() + " --check --repair", &tool_out) : -1;
    const bool ask_tool = run < 10 && CheckTableAndMemo(Table()).empty();
    Engine().table.RepairRecCount = true;
    USE(Table() + " EXCLUSIVE");
    Engine().table.RepairRecCount = false;
    ASSERT_TRUE(SetIndexTo("")) << run;
    const bool sound = CheckIndex().empty();
    damaged += !sound;
    if (ask_tool) {
      EXPECT_EQ(tool_status, sound ? 0 : 1) << tool_out;
    }
    ExpectFound(committed, "run " + std::to_string(run));
    ASSERT_TRUE(Reindex());
    EXPECT_EQ(FindingLines(CheckIndex()), "") << run;
  }
  std::printf("%d kills, %d left an index the check reported\n", kKills, damaged);
}

}  // namespace
}  // namespace ov
