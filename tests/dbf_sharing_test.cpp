// Sharing modes of table opens, across processes and within one process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <string>

#include "engine/dbf/ovdbflow.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

constexpr uint16_t kShared = fmode::kReadWrite | fmode::kDenyNone;
constexpr uint16_t kExclusive = fmode::kReadWrite | fmode::kDenyAll;
constexpr uint16_t kReadShared = fmode::kRead | fmode::kDenyNone;

// A child process that holds the table open in a given mode until told to
// let go. The child opens after the fork, so its lock lives on its own
// descriptor, and it leaves with _exit so no test teardown runs twice.
class Holder {
 public:
  Holder(const std::string& path, uint16_t mode) {
    if (pipe(to_child_.data()) != 0 || pipe(to_parent_.data()) != 0) return;
    pid_ = fork();
    if (pid_ == 0) RunChild(path, mode);
    close(to_child_[0]);
    close(to_parent_[1]);
    char reply = 0;
    opened_ = pid_ > 0 && read(to_parent_[0], &reply, 1) == 1 && reply == 'y';
  }
  ~Holder() { Release(); }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  bool opened() const { return opened_; }

  // Tells the child to close and waits for it; answers its exit status.
  int Release() {
    if (pid_ <= 0) return -1;
    const char go = 'x';
    (void)!write(to_child_[1], &go, 1);
    close(to_child_[1]);
    close(to_parent_[0]);
    int st = 0;
    waitpid(pid_, &st, 0);
    pid_ = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }

 private:
  [[noreturn]] void RunChild(const std::string& path, uint16_t mode) {
    close(to_child_[1]);
    close(to_parent_[0]);
    int status = 3;
    try {
      QuietErrors quiet;
      Errors().DbfError = 0;
      DbfFile dbf;
      dbf.path = path;
      dbf.open_mode = mode;
      OpenDbf(dbf);
      const char reply = Errors().DbfError == 0 ? 'y' : 'n';
      (void)!write(to_parent_[1], &reply, 1);
      char go = 0;
      (void)!read(to_child_[0], &go, 1);
      if (dbf.is_open()) CloseDbf(dbf);
      status = Errors().DbfError == 0 ? 0 : 2;
    } catch (...) {
      status = 4;
    }
    _exit(status);
  }

  std::array<int, 2> to_child_{-1, -1};
  std::array<int, 2> to_parent_{-1, -1};
  pid_t pid_ = -1;
  bool opened_ = false;
};

class DbfSharingTest : public test::EngineTest {
 protected:
  void SetUp() override {
    test::EngineTest::SetUp();
    table_ = Path("share.dbf");
    const FieldDef fields[] = {{"name", 'C', 10, 0}};
    DbfFile dbf;
    CreateDbf(dbf, table_, fields);
  }

  // Opens the table in this process with reports quiet; answers DbfError.
  uint16_t TryOpen(DbfFile& dbf, uint16_t mode) {
    QuietErrors quiet;
    Errors().DbfError = 0;
    dbf.path = table_;
    dbf.open_mode = mode;
    OpenDbf(dbf);
    return Errors().DbfError;
  }

  // Opens, expects the given outcome, and closes again when it opened.
  void ExpectOpen(uint16_t mode, uint16_t expected) {
    DbfFile dbf;
    EXPECT_EQ(TryOpen(dbf, mode), expected);
    if (expected != 0) {
      EXPECT_FALSE(dbf.is_open());
      EXPECT_EQ(dbf.file, nullptr);
    }
    if (dbf.is_open()) CloseDbf(dbf);
  }

  std::string table_;
};

TEST_F(DbfSharingTest, SharedHolderInOtherProcessRefusesExclusiveOpen) {
  Holder holder(table_, kShared);
  ASSERT_TRUE(holder.opened());
  ExpectOpen(kExclusive, 32);
  ExpectOpen(kShared, 0);  // shared openers still get in
  EXPECT_EQ(holder.Release(), 0);
  ExpectOpen(kExclusive, 0);  // the child's exit gave the table free
}

TEST_F(DbfSharingTest, ExclusiveHolderInOtherProcessRefusesEveryOpen) {
  Holder holder(table_, kExclusive);
  ASSERT_TRUE(holder.opened());
  ExpectOpen(kShared, 32);
  ExpectOpen(kReadShared, 32);
  ExpectOpen(kExclusive, 32);
  EXPECT_EQ(holder.Release(), 0);
  ExpectOpen(kShared, 0);
}

TEST_F(DbfSharingTest, ReadOnlySharedHolderKeepsOutExclusiveOpeners) {
  Holder holder(table_, kReadShared);
  ASSERT_TRUE(holder.opened());
  ExpectOpen(kExclusive, 32);
  ExpectOpen(kShared, 0);
}

TEST_F(DbfSharingTest, ChildIsRefusedWhileParentHoldsExclusive) {
  DbfFile mine;
  ASSERT_EQ(TryOpen(mine, kExclusive), 0);
  {
    Holder holder(table_, kShared);
    EXPECT_FALSE(holder.opened());
  }
  CloseDbf(mine);
  Holder holder(table_, kShared);
  EXPECT_TRUE(holder.opened());
}

TEST_F(DbfSharingTest, TwoOpensInOneProcessConflictLikeTwoProcesses) {
  DbfFile shared;
  ASSERT_EQ(TryOpen(shared, kShared), 0);
  ExpectOpen(kExclusive, 32);
  ExpectOpen(kShared, 0);
  CloseDbf(shared);

  DbfFile exclusive;
  ASSERT_EQ(TryOpen(exclusive, kExclusive), 0);
  ExpectOpen(kShared, 32);
  ExpectOpen(kExclusive, 32);
  // A refused second open must not drop the lock the first one holds.
  ExpectOpen(kShared, 32);
  CloseDbf(exclusive);
  ExpectOpen(kExclusive, 0);
}

TEST_F(DbfSharingTest, RefusalIsReportedWithThePath) {
  DbfFile exclusive;
  ASSERT_EQ(TryOpen(exclusive, kExclusive), 0);
  DbfFile other;
  QuietErrors quiet;
  EXPECT_EQ(TryOpen(other, kShared), 32);
  EXPECT_EQ(ErrorText(), std::string(ErrorTableText(32)) + "\r\nFailure to open " + table_ +
                             " [USE/OpenDbf]");
  CloseDbf(exclusive);
}

}  // namespace
}  // namespace ov
