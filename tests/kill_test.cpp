// Processes killed at random moments while they append and rewrite records
// with memos. Every operation the child reported as committed must read
// back exactly afterwards; the one it was in the middle of may be there or
// not, but never half. Memos may leak blocks, never share or lose them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/memo/memo_check.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

constexpr int kRunsPerCase = 35;  // six cases: 210 kills
constexpr int kStartRecords = 6;

// The memo text of version `v` of record `rec`: from empty to a few blocks.
std::string Text(int32_t rec, int v) {
  const uint32_t h = static_cast<uint32_t>(rec) * 2654435761u ^ static_cast<uint32_t>(v) * 40503u;
  const size_t length = v == 0 ? 0 : h % 3 == 0 ? h % 40 : h % 2600;
  std::string text = "r" + std::to_string(rec) + "v" + std::to_string(v) + " ";
  text.resize(std::max(length, text.size()), static_cast<char>('a' + h % 26));
  return text;
}

std::string Name(int32_t rec, int v) { return "r" + std::to_string(rec) + "v" + std::to_string(v); }

struct Case {
  uint8_t version;
  bool shared;
};

class KillTest : public test::EngineTest, public ::testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    AreaConfig().AnsiTables = true;
    Engine().table.CreateVersion = GetParam().version;
  }

  std::string Table() const { return Path("killed"); }

  void Create() {
    DbfFile dbf;
    CreateDbf(dbf, Table(), std::vector<FieldDef>{{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}});
    CloseDbf(dbf);
  }

  // Sets the record's name and memo to version v, replacing the memo it
  // had; the old memo is given back only once the record points elsewhere.
  bool WriteVersion(int32_t rec, int v, bool append) {
    const int32_t old = append ? 0 : static_cast<int32_t>(GetFieldNumber(2));
    const std::string text = Text(rec, v);
    int32_t block = 0;
    if (!text.empty()) {
      block = Areas().memo.write_text(*CurrentArea(), text, old);
      if (block == 0) return false;
    }
    SetFieldText(1, Name(rec, v));
    SetFieldNumber(2, block);
    if (append) {
      Append();
    } else {
      Replace();
    }
    if (Errors().DbfError != 0) return false;
    if (old != 0 && old != block) Areas().memo.release(*CurrentArea(), old);
    return true;
  }

  // The child: announces each operation ("rec version"), then says "ok"
  // once it is committed. Runs until killed.
  [[noreturn]] void Child(int out, uint32_t seed) {
    int status = 1;
    try {
      const bool shared = GetParam().shared;
      AreaConfig().MultiUser = shared;
      USE(Table() + (shared ? "" : " EXCLUSIVE"));
      std::mt19937 rng(seed);
      std::map<int32_t, int> versions;
      for (int32_t r = 1; r <= RecCount(); ++r) versions[r] = 0;
      for (;;) {
        const bool append = rng() % 4 == 0 || versions.empty();
        int32_t rec =
            append ? static_cast<int32_t>(versions.size()) + 1 : static_cast<int32_t>(rng() % versions.size()) + 1;
        const int v = append ? 1 : versions[rec] + 1;
        const std::string line = std::to_string(rec) + " " + std::to_string(v) + "\n";
        if (write(out, line.data(), line.size()) < 0) break;
        if (append) {
          if (shared && !ALock()) break;
          ClearRecord();
        } else {
          GO(rec);
          if (shared && !RLock()) break;
        }
        if (!WriteVersion(rec, v, append)) break;
        if (shared) Unlock();
        versions[rec] = v;
        if (write(out, "ok\n", 3) < 0) break;
      }
    } catch (...) {
    }
    _exit(status);
  }
};

// What the child reported: committed versions, and the operation under way.
struct Reported {
  std::map<int32_t, int> committed;
  int32_t pending_rec = 0;
  int pending_version = 0;
};

Reported Parse(const std::string& log, int32_t start_records) {
  Reported r;
  for (int32_t n = 1; n <= start_records; ++n) r.committed[n] = 0;
  size_t at = 0;
  while (true) {
    const size_t end = log.find('\n', at);
    if (end == std::string::npos) break;
    const std::string line = log.substr(at, end - at);
    at = end + 1;
    if (line == "ok") {
      r.committed[r.pending_rec] = r.pending_version;
      r.pending_rec = 0;
    } else {
      std::sscanf(line.c_str(), "%d %d", &r.pending_rec, &r.pending_version);
    }
  }
  return r;
}

TEST_P(KillTest, CommittedRecordsAndMemosSurviveAKill) {
  int clean = 0, repaired = 0, wrong = 0;
  std::mt19937 rng(GetParam().version * 2 + GetParam().shared);
  for (int run = 0; run < kRunsPerCase; ++run) {
    Create();
    USE(Table() + " EXCLUSIVE");
    for (int32_t n = 1; n <= kStartRecords; ++n) {
      ClearRecord();
      ASSERT_TRUE(WriteVersion(n, 0, true));
    }
    CloseArea();

    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    const uint32_t seed = rng();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(pipefd[0]);
      Child(pipefd[1], seed);
    }
    close(pipefd[1]);
    // Let it commit a random number of operations, then kill it at once
    // or a little later, wherever it then is.
    const int wanted = 1 + static_cast<int>(rng() % 40);
    std::string log;
    int oks = 0;
    char buf[256];
    while (oks < wanted) {
      const ssize_t got = read(pipefd[0], buf, sizeof buf);
      if (got <= 0) break;
      for (ssize_t i = 0; i < got; ++i) oks += buf[i] == 'k';
      log.append(buf, static_cast<size_t>(got));
    }
    if (rng() % 2 != 0) usleep(rng() % 3000);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    for (ssize_t got; (got = read(pipefd[0], buf, sizeof buf)) > 0;) log.append(buf, static_cast<size_t>(got));
    close(pipefd[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself (status " << status << ")";
    const Reported model = Parse(log, kStartRecords);

    const bool was_clean = CheckTableAndMemo(Table() + ".DBF").empty();
    Engine().table.RepairRecCount = true;
    AreaConfig().MultiUser = GetParam().shared;
    USE(Table());
    Engine().table.RepairRecCount = false;
    bool right = RecCount() >= static_cast<int32_t>(model.committed.size()) &&
                 RecCount() <= static_cast<int32_t>(model.committed.size()) + 1;
    for (int32_t n = 1; right && n <= RecCount(); ++n) {
      GO(n);
      std::string name = GetFieldText(1);
      name.erase(name.find_last_not_of(' ') + 1);
      const auto block = static_cast<int32_t>(GetFieldNumber(2));
      const std::string memo = block == 0 ? "" : Areas().memo.read_text(*CurrentArea(), block);
      auto matches = [&](int v) { return name == Name(n, v) && memo == Text(n, v); };
      const auto it = model.committed.find(n);
      const bool in_flight = n == model.pending_rec;
      right = (it != model.committed.end() && matches(it->second)) || (in_flight && matches(model.pending_version));
      EXPECT_TRUE(right) << "run " << run << " record " << n << ": \"" << name << "\", memo of " << memo.size()
                         << " bytes";
    }
    CloseArea();
    const std::string findings = FindingLines(CheckTableAndMemo(Table() + ".DBF"));
    EXPECT_EQ(findings, "") << "run " << run;
    if (!right || !findings.empty()) {
      ++wrong;
    } else {
      ++(was_clean ? clean : repaired);
    }
    if (run % 12 == 0) {
      std::string out;
      EXPECT_EQ(test::ReadWithPeers(Table() + ".DBF", "all", &out), 0) << out;
    }
  }
  std::printf("kills: %d clean, %d repaired, %d silently wrong\n", clean, repaired, wrong);
  EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, KillTest,
                         ::testing::Values(Case{0x83, true}, Case{0x8B, true}, Case{0xF5, true}, Case{0x83, false},
                                           Case{0x8B, false}, Case{0xF5, false}),
                         [](const auto& info) {
                           return "v" + std::to_string(info.param.version) +
                                  (info.param.shared ? "Shared" : "Exclusive");
                         });

}  // namespace
}  // namespace ov
