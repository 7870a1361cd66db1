// Record, append and header-byte locks of the work areas: bookkeeping,
// unlock forms, retries, and exclusion between descriptors and processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

class LockTest : public test::EngineTest {
 protected:
  // A table of `rows` records, closed again.
  void MakeTable(int rows) {
    DbfFile dbf;
    const std::vector<FieldDef> defs = {{"NAME", 'C', 10, 0}};
    CreateDbf(dbf, path(), defs);
    USE(path() + " EXCLUSIVE");
    for (int i = 1; i <= rows; ++i) {
      ClearRecord();
      SetFieldText(1, "ROW" + std::to_string(i));
      Append();
    }
    CloseArea();
  }
  std::string path() const { return Path("LOCKS.DBF"); }
  static const std::vector<int32_t>& Held() { return CurrentArea()->record_locks; }
  static uint8_t State() { return CurrentArea()->lock_state; }
};

TEST_F(LockTest, RecordLockBookkeeping) {
  MakeTable(3);
  USE(path());
  GO(2);
  EXPECT_TRUE(RLock());
  EXPECT_TRUE(RLock());
  EXPECT_EQ(Held(), std::vector<int32_t>{2});
  EXPECT_EQ(State(), 3);
  EXPECT_TRUE(IsLocked(2));
  EXPECT_FALSE(IsLocked(1));
  EXPECT_FALSE(ALock());
  Unlock();
  EXPECT_EQ(State(), 0);
  EXPECT_TRUE(Held().empty());

  EXPECT_TRUE(ALock());
  EXPECT_TRUE(ALock());
  EXPECT_EQ(State(), 2);
  EXPECT_FALSE(RLock());
  Unlock();
  EXPECT_EQ(State(), 0);
  EXPECT_TRUE(RLock());
}

TEST_F(LockTest, RecordLockLimit) {
  MakeTable(3);
  USE(path());
  AreaConfig().RecordLockLimit = 2;
  GO(1);
  ASSERT_TRUE(RLock());
  GO(2);
  ASSERT_TRUE(RLock());
  EXPECT_TRUE(RLock());  // a record already held stays held at the limit
  GO(3);
  {
    QuietErrors quiet;
    EXPECT_FALSE(RLock());
    EXPECT_EQ(Errors().DbfError, 212);
    EXPECT_EQ(Errors().ErrorContext, "Orvel record lock limit exceeded [RLock]");
  }
  EXPECT_EQ(Held(), (std::vector<int32_t>{2, 1}));
}

TEST_F(LockTest, UnlockRecReportsQuietly) {
  MakeTable(1);
  USE(path());
  // ImmediateErrors and RaiseErrors are on: nothing may be raised.
  EXPECT_FALSE(UnlockRec(5));
  EXPECT_EQ(Errors().DbfError, 220);
  EXPECT_EQ(Errors().ErrorContext, "Record not locked. [UnlockRec(5)]");
  EXPECT_FALSE(UnlockRec(0));
  EXPECT_EQ(Errors().ErrorContext, "[UnlockRec(0)]");
  EXPECT_FALSE(UnlockRec(-4));
  EXPECT_EQ(Errors().ErrorContext, "[UnlockRec(-4)]");
  EXPECT_TRUE(UnlockRec(-1));
  EXPECT_TRUE(UnlockRec(-2));
  EXPECT_TRUE(UnlockRec(-3));
}

TEST_F(LockTest, UnlockRecForms) {
  MakeTable(4);
  USE(path());
  for (int n = 1; n <= 4; ++n) {
    GO(n);
    ASSERT_TRUE(RLock());
  }
  EXPECT_EQ(Held(), (std::vector<int32_t>{4, 3, 2, 1}));
  EXPECT_TRUE(UnlockRec(-1));  // oldest
  EXPECT_EQ(Held(), (std::vector<int32_t>{4, 3, 2}));
  EXPECT_TRUE(UnlockRec(-2));  // most recent
  EXPECT_EQ(Held(), (std::vector<int32_t>{3, 2}));
  EXPECT_TRUE(UnlockRec(3));
  EXPECT_EQ(Held(), std::vector<int32_t>{2});
  EXPECT_EQ(State(), 3);
  GO(1);
  ASSERT_TRUE(RLock());
  EXPECT_TRUE(UnlockRec(-3));
  EXPECT_TRUE(Held().empty());
  EXPECT_EQ(State(), 0);
}

TEST_F(LockTest, RecordLockOffsetUses32BitArithmetic) {
  WorkArea area;
  area.table.header_length = 513;
  area.table.record_length = 100;
  EXPECT_EQ(RecordLockOffset(area, 3), 1073741824u + 513u + 200u);
  EXPECT_EQ(RecordLockOffset(area, 1), 1073741824u + 513u);
  // Far records wrap around as every other process computes them.
  EXPECT_EQ(RecordLockOffset(area, 40000001), static_cast<uint32_t>(1073741824u + 513u + 4000000000u));
}

constexpr uint16_t kReadOnlyShared = fmode::kRead | fmode::kDenyNone;

// Opens the table in the current area, read-only when asked.
void Open(const std::string& command, bool read_only) {
  if (read_only) AreaConfig().OpenModeOverride = kReadOnlyShared;
  USE(command);
  AreaConfig().OpenModeOverride = 0xFFFF;
}

// Two work areas of one process hold separate descriptors, read-only
// ones included.
TEST_F(LockTest, TwoDescriptorsExcludeEachOther) {
  MakeTable(2);
  for (const bool read_only : {false, true}) {
    SCOPED_TRACE(read_only ? "read-only" : "read/write");
    Select(1);
    Open(path(), read_only);
    GO(1);
    ASSERT_TRUE(RLock());
    Select(2);
    Open(path() + " ALIAS OTHER", read_only);
    GO(1);
    EXPECT_FALSE(RLock());
    EXPECT_EQ(Errors().DbfError, 0);  // a busy record is no error
    GO(2);
    EXPECT_TRUE(RLock());
    Select(1);
    CloseArea();  // releases record 1
    Select(2);
    GO(1);
    EXPECT_TRUE(RLock());
    CloseArea();
  }
}

// Two areas append to one shared table in turn, each under its append
// lock: every append goes after the records the other area added.
TEST_F(LockTest, AppendsOfTwoDescriptorsNeverOverwriteEachOther) {
  MakeTable(1);
  Select(1);
  Open(path(), false);
  Select(2);
  Open(path() + " ALIAS OTHER", false);
  for (int round = 1; round <= 2; ++round) {
    for (const int area : {1, 2}) {
      Select(area);
      ASSERT_TRUE(ALock());
      ClearRecord();
      SetFieldText(1, "A" + std::to_string(area) + "R" + std::to_string(round));
      Append();
      Unlock();
    }
  }
  const std::vector<std::string> want = {"ROW1", "A1R1", "A2R1", "A1R2", "A2R2"};
  ASSERT_EQ(RecCount(), 5);
  for (int32_t n = 1; n <= 5; ++n) {
    GO(n);
    EXPECT_EQ(TrimText(GetFieldText(1)), want[n - 1]) << "record " << n;
  }
  CloseAll();
}

TEST_F(LockTest, ExclusiveUseAndSingleUserTakeNoOsLocks) {
  MakeTable(1);
  env_.RefuseLocks(true);
  USE(path() + " EXCLUSIVE");
  EXPECT_TRUE(RLock());
  Unlock();
  EXPECT_TRUE(ALock());
  CloseArea();

  USE(path());
  EXPECT_FALSE(LockHeaderByte());
  AreaConfig().MultiUser = false;
  EXPECT_TRUE(LockHeaderByte());
  UnlockHeaderByte();
}

// A clock that moves only when the engine sleeps (never more than a second
// at a time, as an interrupted sleep would) or when a wait hook moves it.
class StepClock : public EnvWrapper {
 public:
  explicit StepClock(Env* target) : EnvWrapper(target) {}
  uint64_t TickCountMs() override { return now; }
  void SleepMs(uint32_t ms) override {
    waits.push_back(ms);
    now += std::min<uint32_t>(ms, 1000);
  }
  uint64_t now = 5000;
  std::vector<uint32_t> waits;
};

// Retries wait LockRetryWait seconds by the clock, however early a sleep
// or the host's hook comes back; a hook answering false ends the wait.
TEST_F(LockTest, RetriesWaitOnTheClock) {
  enum class Waiter { kSleep, kHook, kEndingHook };
  struct Case {
    Waiter waiter;
    int wait_seconds;
    std::vector<uint32_t> waits;  // of one failed RLock with 2 retries
    uint64_t elapsed;
  };
  const Case cases[] = {
      {Waiter::kSleep, 3, {3000, 2000, 1000, 3000, 2000, 1000}, 6000},
      {Waiter::kHook, 3, {3000, 2000, 1000, 3000, 2000, 1000}, 6000},
      {Waiter::kEndingHook, 3, {3000, 3000}, 0},
      {Waiter::kHook, 0, {}, 0},
  };
  MakeTable(1);
  USE(path());
  env_.RefuseLocks(true);
  StepClock clock(&env_);
  SetEnv(&clock);
  AreaConfig().LockRetries = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.waiter));
    clock.waits.clear();
    const uint64_t start = clock.now;
    AreaConfig().LockRetryWait = c.wait_seconds;
    AreaConfig().LockWaitHook = nullptr;
    if (c.waiter != Waiter::kSleep) {
      const bool go_on = c.waiter == Waiter::kHook;
      AreaConfig().LockWaitHook = [&clock, go_on](uint32_t ms) {
        clock.waits.push_back(ms);
        if (go_on) clock.now += std::min<uint32_t>(ms, 1000);
        return go_on;
      };
    }
    EXPECT_FALSE(RLock());
    EXPECT_EQ(clock.waits, c.waits);
    EXPECT_EQ(clock.now - start, c.elapsed);
  }
  EXPECT_FALSE(ALock());
  EXPECT_TRUE(Held().empty());
  EXPECT_EQ(State(), 0);
  SetEnv(&env_);
}

TEST_F(LockTest, RetryHookStartsOver) {
  MakeTable(1);
  USE(path());
  env_.RefuseLocks(true);
  int asked = 0;
  AreaConfig().LockRetries = 1;
  AreaConfig().LockRetryHook = [&] { return ++asked == 1; };
  EXPECT_FALSE(RLock());
  EXPECT_EQ(asked, 2);

  // The host frees the record while it is asked: the next round succeeds.
  asked = 0;
  AreaConfig().LockRetryHook = [&] {
    env_.RefuseLocks(false);
    return ++asked == 1;
  };
  EXPECT_TRUE(RLock());
  EXPECT_EQ(asked, 1);
}

// A child process that opens the table itself, locks record 1 in one area
// and the append region in another, and holds them until told to go.
std::unique_ptr<test::ChildHolder> HoldLocks(const std::string& path, bool read_only) {
  return std::make_unique<test::ChildHolder>([path, read_only] {
    QuietErrors quiet;
    Select(1);
    Open(path, read_only);
    GO(1);
    const bool record = RLock();
    Select(2);
    Open(path + " ALIAS HOLDER", read_only);
    return record && ALock();
  });
}

// Every pairing of read-only and read/write opens: a read-only descriptor
// cannot take a write lock, yet its locks must work and exclude as well.
TEST_F(LockTest, LocksExcludeAnotherProcess) {
  MakeTable(2);
  for (const bool holder_read_only : {false, true}) {
    for (const bool read_only : {false, true}) {
      SCOPED_TRACE(std::string(holder_read_only ? "read-only" : "read/write") + " holder, " +
                   (read_only ? "read-only" : "read/write") + " contender");
      auto holder_ptr = HoldLocks(path(), holder_read_only);
      test::ChildHolder& holder = *holder_ptr;
      ASSERT_TRUE(holder.ready());
      Open(path(), read_only);
      GO(1);
      EXPECT_FALSE(RLock());
      EXPECT_FALSE(ALock());
      GO(2);
      EXPECT_TRUE(RLock());
      EXPECT_EQ(holder.Release(), 0);

      GO(1);
      EXPECT_TRUE(RLock());
      Unlock();
      EXPECT_TRUE(ALock());
      EXPECT_TRUE(LockHeaderByte());
      UnlockHeaderByte();
      CloseArea();
    }
  }
}

TEST_F(LockTest, CommandsNeedAnOpenTable) {
  QuietErrors quiet;
  EXPECT_FALSE(RLock());
  EXPECT_EQ(Errors().ErrorContext, "No database in use [RLock]  WorkArea = 1");
  EXPECT_FALSE(ALock());
  EXPECT_EQ(Errors().ErrorContext, "No database in use [ALock]  WorkArea = 1");
  EXPECT_FALSE(UnlockRec(1));
  EXPECT_EQ(Errors().ErrorContext, "No database in use [UnlockRec]  WorkArea = 1");
  EXPECT_FALSE(LockHeaderByte());
}

}  // namespace
}  // namespace ov
