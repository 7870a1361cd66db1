// Two processes rewriting the memos of one shared table: the memo-file lock
// lets every write through, and no memo is damaged or shares a block.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/memo/memo_area.h"
#include "engine/memo/memo_check.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

constexpr int kWriters = 2;
constexpr int kRecordsEach = 4;
constexpr int kRewrites = 500;

// The text writer `w` stores at its rewrite `i`: marked, of a length that
// moves memos between one and several blocks.
std::string Text(int w, int i) {
  const size_t length = 12 + static_cast<size_t>((i * 7919 + w * 104729) % 1400);
  std::string text = "w" + std::to_string(w) + " i" + std::to_string(i) + " ";
  text.resize(length, static_cast<char>('a' + (i + w) % 26));
  return text;
}

// Takes a lock another writer may hold for a moment, as an application
// would: again after a short pause, for up to ten seconds.
bool Retry(bool (*lock)()) {
  for (int i = 0; i < 20000; ++i) {
    if (lock()) return true;
    usleep(500);
  }
  return false;
}

// Record of writer `w`'s k-th memo; the writers' records interleave.
int32_t RecordOf(int w, int k) { return k * kWriters + w + 1; }

class MemoShareTest : public test::EngineTest, public ::testing::WithParamInterface<uint8_t> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    AreaConfig().AnsiTables = true;
    AreaConfig().MultiUser = true;
    Engine().table.CreateVersion = GetParam();
    DbfFile dbf;
    const std::vector<FieldDef> defs{{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}};
    CreateDbf(dbf, Path("shared"), defs);
    USE(Path("shared") + " EXCLUSIVE");
    for (int r = 0; r < kWriters * kRecordsEach; ++r) {
      ClearRecord();
      Append();
    }
    CloseArea();
  }

  // One writer's run in a child process; its exit status says what failed.
  int Rewrite(const std::string& table, int w) {
    try {
      USE(table);
      for (int i = 0; i < kRewrites; ++i) {
        const int32_t rec = RecordOf(w, i % kRecordsEach);
        GO(rec);
        if (!RLock()) return 2;
        const std::string text = Text(w, i);
        const auto old = static_cast<int32_t>(GetFieldNumber(2));
        const int32_t block = Areas().memo.write_text(*CurrentArea(), text, old);
        if (block == 0) return 3;
        SetFieldNumber(2, block);
        Replace();
        Unlock();
        if (Areas().memo.read_text(*CurrentArea(), block) != text) return 4;
      }
      CloseArea();
      return 0;
    } catch (const EOrvelError& e) {
      std::fprintf(stderr, "writer %d: %s\n", w, e.what());
      return 5;
    }
  }
};

TEST_P(MemoShareTest, TwoProcessesRewriteMemosWithoutFailureOrDamage) {
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(Rewrite(Path("shared"), w));
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int st = -1;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "writer status " << st;
  }
  USE(Path("shared"));
  const uint16_t bs = MemoStateOf(*CurrentArea())->block_size;
  std::map<int64_t, int32_t> first_blocks;  // first block -> record
  for (int w = 0; w < kWriters; ++w) {
    for (int k = 0; k < kRecordsEach; ++k) {
      const int32_t rec = RecordOf(w, k);
      GO(rec);
      const auto block = static_cast<int32_t>(GetFieldNumber(2));
      const int last = kRewrites - kRecordsEach + k;  // the writer's last rewrite of this record
      const std::string text = Areas().memo.read_text(*CurrentArea(), block);
      EXPECT_EQ(text, Text(w, last)) << "record " << rec;
      // A headered memo takes 8 bytes more, a raw dBASE III one 1A 1A.
      const size_t stored = text.size() + (block > 0 && GetParam() == 0x83 ? 2 : 8);
      const int64_t first = std::llabs(int64_t{block});
      first_blocks[first] = static_cast<int32_t>((stored + bs - 1) / bs);
    }
  }
  ASSERT_EQ(first_blocks.size(), size_t{kWriters * kRecordsEach}) << "two records share a first block";
  int64_t end = 0;
  for (const auto& [first, blocks] : first_blocks) {
    EXPECT_GE(first, end) << "block " << first << " lies inside the memo before it";
    end = first + blocks;
  }
  CloseArea();
  EXPECT_EQ(FindingLines(CheckTableAndMemo(Path("shared.DBF"))), "");
}

// Eight processes append, rename and rewrite the memos of their own
// records on one shared table. Each child lists its records' final state;
// afterwards every one reads back, no block is shared, the end of the file
// is sound, and the independent readers read every record.
TEST_P(MemoShareTest, EightProcessesAppendReplaceAndRewriteWithoutLoss) {
  constexpr int kProcesses = 8;
  constexpr int kOps = 2000;
  const auto started = std::chrono::steady_clock::now();
  std::vector<pid_t> children;
  for (int w = 0; w < kProcesses; ++w) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 1;
      try {
        USE(Path("shared"));
        std::mt19937 rng(static_cast<uint32_t>(w));
        std::map<int32_t, std::pair<std::string, std::string>> mine;  // record -> name, memo
        for (int i = 0; i < kOps; ++i) {
          const bool append = mine.empty() || rng() % 3 == 0;
          const std::string name = "w" + std::to_string(w) + "i" + std::to_string(i);
          const std::string memo = rng() % 2 ? Text(w, i) : std::string();
          int32_t rec = 0;
          if (append) {
            if (!Retry(ALock)) throw EOrvelError("no append lock");
            ClearRecord();
          } else {
            auto it = mine.begin();
            std::advance(it, static_cast<long>(rng() % mine.size()));
            rec = it->first;
            GO(rec);
            if (!Retry(RLock)) throw EOrvelError("no record lock");
          }
          const auto old = static_cast<int32_t>(GetFieldNumber(2));
          const int32_t block = memo.empty() ? 0 : Areas().memo.write_text(*CurrentArea(), memo, old);
          SetFieldText(1, name);
          SetFieldNumber(2, block);
          if (append) {
            Append();
          } else {
            Replace();
          }
          if (old != 0 && old != block) Areas().memo.release(*CurrentArea(), old);
          Unlock();
          mine[RecNo()] = {name, memo};
        }
        CloseArea();
        std::ofstream out(Path("w" + std::to_string(w)));
        for (const auto& [rec, v] : mine) out << rec << ' ' << v.first << ' ' << v.second.size() << '\n';
        status = 0;
      } catch (const std::exception& e) {
        std::fprintf(stderr, "writer %d: %s\n", w, e.what());
      }
      _exit(status);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int st = -1;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "writer status " << st;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%d processes: %.0f operations per second\n", kProcesses, kProcesses * kOps / seconds);
  USE(Path("shared"));
  int32_t listed = kWriters * kRecordsEach;
  for (int w = 0; w < kProcesses; ++w) {
    std::ifstream in(Path("w" + std::to_string(w)));
    int32_t rec = 0;
    std::string name;
    size_t length = 0;
    while (in >> rec >> name >> length) {
      ++listed;
      GO(rec);
      std::string got = GetFieldText(1);
      got.erase(got.find_last_not_of(' ') + 1);
      ASSERT_EQ(got, name) << "record " << rec;
      const auto block = static_cast<int32_t>(GetFieldNumber(2));
      const std::string memo = block == 0 ? "" : Areas().memo.read_text(*CurrentArea(), block);
      const int i = std::stoi(name.substr(name.find('i') + 1));
      ASSERT_EQ(memo, length == 0 ? std::string() : Text(w, i)) << "record " << rec;
    }
  }
  EXPECT_EQ(RecCount(), listed);
  CloseArea();
  EXPECT_EQ(FindingLines(CheckTableAndMemo(Path("shared.DBF"))), "");
  std::string out;
  EXPECT_EQ(test::ReadWithPeers(Path("shared.DBF"), "all", &out), 0) << out;
}

INSTANTIATE_TEST_SUITE_P(Kinds, MemoShareTest, ::testing::Values(0x83, 0x8B, 0xF5),
                         [](const auto& info) { return "v" + std::to_string(info.param); });

}  // namespace
}  // namespace ov
