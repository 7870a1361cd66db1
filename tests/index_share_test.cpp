// Several processes on one indexed table: four writers append records and
// change the NUM key of any record under their locks, while two readers
// walk both orders and Find names. NAME never changes once written, so a
// reader's NAME walk must ascend and hold every base record; a NUM walk
// runs while the keys under it move and must simply end. Afterwards every
// record is in every tag exactly once and the check passes; the semaphore
// file is gone after the last log-out; and a writer alone does not re-read
// its own anchors.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/index/index_check.h"
#include "engine/index/index_engine.h"
#include "engine/index/ovndx.h"
#include "engine/index/umakemdx.h"
#include "tests/test_support.h"

namespace ov {
namespace {

constexpr int kBase = 40;  // records whose NAME never changes
constexpr int kWriters = 4;
constexpr int kEdits = 300;  // per writer
constexpr int kReaders = 2;

std::string BaseName(int n) { return "BASE" + std::to_string(1000 + n); }

class IndexShareTest : public test::EngineTest {
 protected:
  std::string Table() const { return Path("SHARED.DBF"); }

  void SetUp() override {
    EngineTest::SetUp();
    DbfFile dbf;
    CreateDbf(dbf, Table(), std::vector<FieldDef>{{"NAME", 'C', 12, 0}, {"NUM", 'N', 8, 0}});
    CloseDbf(dbf);
    USE(Table() + " EXCLUSIVE");
    for (int n = 1; n <= kBase; ++n) {
      ClearRecord();
      SetFieldText(1, BaseName(n));
      SetFieldNumber(2, n * 37 % 101);
      Append();
    }
    ASSERT_TRUE(MakeMdx({{"NAME", "NAME", "", false, false}, {"NUM", "NUM", "", true, false}}, "", true));
    CloseArea();
    AreaConfig().MultiUser = true;
  }

  // Locks give up soon by design; the writers here simply try again.
  static bool Retry(bool (*lock)()) {
    for (int tries = 0; tries < 5000; ++tries) {
      if (lock()) return true;
      usleep(1000);
    }
    return false;
  }

  void OpenShared() {
    USE(Table());
    if (!SetIndexTo("")) throw std::runtime_error("index not opened");
  }

  // A writer: appends records and changes the numbers of any record. Exit
  // status 0 when every step worked.
  int Writer(int w) {
    try {
      OpenShared();
      uint32_t x = 7u + static_cast<uint32_t>(w);
      for (int i = 0; i < kEdits; ++i) {
        x = x * 1103515245u + 12345u;
        if (i % 3 == 0) {
          if (!Retry(ALock)) return 2;
          ClearRecord();
          SetFieldText(1, "W" + std::to_string(w) + "-" + std::to_string(1000 + i));
          SetFieldNumber(2, x % 1000);
          Append();
        } else {
          GO(static_cast<int32_t>(1 + x / 7 % static_cast<uint32_t>(RecCount())));
          if (!Retry(RLock)) return 3;
          SetFieldNumber(2, x / 3 % 1000);
          Replace();
        }
        Unlock();
      }
      CloseArea();
      return 0;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "writer %d: %s\n", w, e.what());
      return 5;
    }
  }

  // A reader: walks NAME order checking that names ascend and every base
  // record is there, walks NUM order to its end, and finds base names.
  int Reader(int passes) {
    try {
      OpenShared();
      for (int p = 0; p < passes; ++p) {
        Set_Order_To(1);
        int base = 0;
        std::string last;
        for (GoTop(); !dEOF(); SKIP(1)) {
          const std::string name = GetFieldText(1);
          if (name <= last) return 2;
          last = name;
          base += name.rfind("BASE", 0) == 0;
        }
        if (base != kBase) return 3;
        Set_Order_To(2);
        int steps = 0;
        for (GoTop(); !dEOF(); SKIP(1)) {
          if (++steps > 4 * RecCount()) return 4;
        }
        Set_Order_To(1);
        const int n = 1 + p % kBase;
        if (!Find(BaseName(n)) || RecNo() != n) return 6;
      }
      CloseArea();
      return 0;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "reader: %s\n", e.what());
      return 5;
    }
  }
};

TEST_F(IndexShareTest, WritersAndReadersKeepEveryTagExact) {
  std::vector<pid_t> children;
  for (int i = 0; i < kWriters + kReaders; ++i) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(i < kWriters ? Writer(i) : Reader(60));
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int st = -1;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "child status " << st;
  }
  EXPECT_FALSE(CurrentEnv()->Exists(Path("SHARED.@S@")));
  OpenShared();
  EXPECT_EQ(RecCount(), kBase + kWriters * (kEdits / 3));
  EXPECT_EQ(FindingLines(CheckIndex()), "");
  CloseArea();
  EXPECT_FALSE(CurrentEnv()->Exists(Path("SHARED.@S@")));
}

// A writer whose only company is a reader never refreshes its anchors: the
// counter it moved itself is not news to it.
TEST_F(IndexShareTest, AWriterDoesNotRereadItsOwnChanges) {
  const pid_t reader = fork();
  ASSERT_GE(reader, 0);
  if (reader == 0) _exit(Reader(20));
  OpenShared();
  const uint64_t before = IndexEngine().anchor_refreshes;
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(ALock());
    ClearRecord();
    SetFieldText(1, "SOLO" + std::to_string(i));
    Append();
    Unlock();
  }
  EXPECT_EQ(IndexEngine().anchor_refreshes, before);
  int st = -1;
  ASSERT_EQ(waitpid(reader, &st, 0), reader);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
  EXPECT_EQ(FindingLines(CheckIndex()), "");
}

}  // namespace
}  // namespace ov
