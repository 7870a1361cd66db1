// The index semaphore file: user and reader counts, nesting, the change
// counter, waits that end, and counts left behind by killed processes.
#include "engine/index/index_semaphore.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/support/mem_env.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

using Bytes = std::vector<uint8_t>;

class SemaphoreTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    AreaConfig().MultiUser = true;
    DbfFile dbf;
    const std::vector<FieldDef> defs{{"NAME", 'C', 10, 0}};
    CreateDbf(dbf, Path("t.dbf"), defs);
  }
  void TearDown() override {
    semas_.clear();
    EngineTest::TearDown();
  }

  // A semaphore for the table opened in work area n.
  IndexSemaphore& Area(int n, bool exclusive = false) {
    Select(n);
    USE(Path("t.dbf") + " ALIAS A" + std::to_string(n) + (exclusive ? " EXCLUSIVE" : ""));
    return *semas_.emplace_back(std::make_unique<IndexSemaphore>(*CurrentArea()));
  }
  IndexSemaphore& LoggedIn(int n) {
    IndexSemaphore& s = Area(n);
    EXPECT_TRUE(s.Handle(SemaAction::kLogin));
    return s;
  }
  std::string SemaFile() const { return Path("t.@S@"); }
  Bytes Record() const { return test::ReadAll(SemaFile()); }
  static Bytes Rec(uint8_t users, uint8_t readers, uint16_t counter) {
    return {users, readers, static_cast<uint8_t>(counter), static_cast<uint8_t>(counter >> 8)};
  }
  // Runs `call`, which must report `code` with a text holding `text`.
  template <typename Call>
  void ExpectReport(Call call, uint16_t code, const std::string& text) {
    try {
      call();
      ADD_FAILURE() << "no report; wanted " << text;
    } catch (const EOrvelError& e) {
      EXPECT_EQ(Errors().DbfError, code);
      EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
  }

  std::vector<std::unique_ptr<IndexSemaphore>> semas_;
};

TEST(SemaphoreNameTest, BesideTheTableOrInTheSemaphoreDirectory) {
  struct Case {
    const char *table, *dir, *want;
  } const cases[] = {
      {"/d/movie.DBF", "", "/d/movie.@S@"},
      {"/d/movie", "", "/d/movie.@S@"},
      {"/d/x.y/movie.dbf", "/sem", "/sem/movie.@S@"},
      {"/d/movie.dbf", "/sem/", "/sem/movie.@S@"},
  };
  for (const Case& c : cases) {
    SemaphoreConfig().directory = c.dir;
    EXPECT_EQ(SemaphoreFileName(c.table), c.want) << c.table;
  }
  SemaphoreConfig().directory.clear();
}

TEST_F(SemaphoreTest, UsersCountedAndTheLastLogoutDeletesTheFile) {
  IndexSemaphore& a = LoggedIn(1);
  EXPECT_EQ(Record(), Rec(1, 0, 0));
  IndexSemaphore& b = LoggedIn(2);
  EXPECT_TRUE(b.Handle(SemaAction::kLogin));  // again: nothing
  EXPECT_EQ(Record(), Rec(2, 0, 0));
  EXPECT_TRUE(a.Handle(SemaAction::kLogout));
  EXPECT_FALSE(a.LoggedIn());
  EXPECT_EQ(Record(), Rec(1, 0, 0));
  EXPECT_TRUE(b.Handle(SemaAction::kLogout));
  EXPECT_FALSE(std::filesystem::exists(SemaFile()));
}

TEST_F(SemaphoreTest, ExclusiveTablesNeverTouchTheFile) {
  IndexSemaphore& s = Area(1, true);
  for (SemaAction act : {SemaAction::kLogin, SemaAction::kIncRead, SemaAction::kLockSemaphore,
                         SemaAction::kUnlockSemaphore, SemaAction::kDecRead, SemaAction::kLogout}) {
    EXPECT_TRUE(s.Handle(act)) << SemaActionName(act);
  }
  EXPECT_TRUE(s.Read(true) && s.Lock(true) && s.Lock(false) && s.Read(false));
  EXPECT_FALSE(s.LoggedIn());
  EXPECT_FALSE(std::filesystem::exists(SemaFile()));
}

// Only the outermost call of a nesting procedure changes the file; the
// writer's unlock moves the counter by one.
TEST_F(SemaphoreTest, NestedProceduresChangeTheFileOnce) {
  IndexSemaphore& s = LoggedIn(1);
  struct Step {
    bool lock, enter;
    Bytes want;
  } const steps[] = {
      {false, true, Rec(1, 1, 0)}, {false, true, Rec(1, 1, 0)}, {false, false, Rec(1, 1, 0)},
      {false, false, Rec(1, 0, 0)}, {true, true, Rec(1, 1, 0)},  {true, true, Rec(1, 1, 0)},
      {true, false, Rec(1, 1, 0)},  {true, false, Rec(1, 0, 1)},  {true, true, Rec(1, 1, 1)},
      {false, true, Rec(1, 1, 1)},  {false, false, Rec(1, 1, 1)}, {true, false, Rec(1, 0, 2)},
  };
  int i = 0;
  for (const Step& st : steps) {
    EXPECT_TRUE(st.lock ? s.Lock(st.enter) : s.Read(st.enter));
    EXPECT_EQ(Record(), st.want) << "step " << i++;
  }
  ExpectReport([&] { s.Read(false); }, err::kInternal, "Non-symmetrical Lock-Unlock [SetReadSemaphoreProc]");
  ExpectReport([&] { s.Lock(false); }, err::kInternal, "Non-symmetrical Lock-Unlock [SetLockSemaphoreProc]");
  ExpectReport([&] { s.Handle(SemaAction::kUnlockSemaphore); }, err::kInternal,
               "Unbalanced Lock/Unlock for semaphore file: " + SemaFile() + " UNLOCKSEMAPHORE");
  EXPECT_EQ(Record(), Rec(1, 0, 2));
}

TEST_F(SemaphoreTest, OthersSeeTheWritersChangeTheWriterDoesNot) {
  IndexSemaphore& w = LoggedIn(1);
  IndexSemaphore& r = LoggedIn(2);
  ASSERT_TRUE(w.Lock(true));
  EXPECT_FALSE(w.CounterMoved());
  ASSERT_TRUE(w.Lock(false));
  EXPECT_EQ(w.counter(), 1);
  EXPECT_FALSE(w.CounterMoved());
  ASSERT_TRUE(r.Read(true));
  EXPECT_TRUE(r.CounterMoved());
  EXPECT_FALSE(r.CounterMoved());
  ASSERT_TRUE(r.Read(false));
  // A writer learns of another's change as soon as it holds the lock.
  ASSERT_TRUE(w.Lock(true) && w.Lock(false));
  ASSERT_TRUE(r.Lock(true));
  EXPECT_TRUE(r.CounterMoved());
  ASSERT_TRUE(r.Lock(false));
  EXPECT_FALSE(w.CounterMoved());
  ASSERT_TRUE(w.Read(true));
  EXPECT_TRUE(w.CounterMoved());
  EXPECT_EQ(Record(), Rec(2, 1, 3));
}

// Counts stay within 0..127 however the file got its numbers; a log-out
// at 0 users deletes the file once nobody has it open.
TEST_F(SemaphoreTest, CountsStayWithinTheirRange) {
  IndexSemaphore& a = LoggedIn(1);
  IndexSemaphore& b = LoggedIn(2);
  test::WriteAll(SemaFile(), Rec(127, 127, 9));
  ASSERT_TRUE(a.Read(true));
  EXPECT_EQ(Record(), Rec(127, 127, 9));
  test::WriteAll(SemaFile(), Rec(0, 0, 9));
  ASSERT_TRUE(a.Read(false));
  EXPECT_EQ(Record(), Rec(0, 0, 9));
  ASSERT_TRUE(b.Handle(SemaAction::kLogout));
  EXPECT_EQ(Record(), Rec(0, 0, 9));  // still open in area 1
  ASSERT_TRUE(a.Handle(SemaAction::kLogout));
  EXPECT_FALSE(std::filesystem::exists(SemaFile()));
}

// A living reader keeps a writer out until the wait limit, and a writer
// keeps readers out until the region lock's retries end; both with the
// texts users are shown.
TEST_F(SemaphoreTest, WaitsEndWithTheirTimeoutTexts) {
  env_.FakeClock(true);
  SemaphoreConfig().wait_limit_s = 2;
  IndexSemaphore& r = LoggedIn(1);
  IndexSemaphore& w = LoggedIn(2);
  ASSERT_TRUE(r.Read(true));
  ExpectReport([&] { w.Lock(true); }, err::kSemaphore,
               "2 second timeout, cannot read: " + SemaFile() +
                   "\r\nPossible cause: Other user's program has terminated abnormally.\r\n"
                   "Cure: Log all users of this application off the network,\r\nthen delete " + SemaFile());
  EXPECT_FALSE(w.Writing());
  ASSERT_TRUE(r.Read(false));
  ASSERT_TRUE(w.Lock(true));
  ExpectReport([&] { r.Read(true); }, err::kSemaphore,
               "10 second timeout: Cannot lock index semaphore file: " + SemaFile() +
                   " INCREAD\r\nPossible cause: Network lock limit exceeded\r\n Lock result code: 33");
  ASSERT_TRUE(w.Lock(false));
  ASSERT_TRUE(r.Read(true) && r.Read(false));
  EXPECT_EQ(Record(), Rec(2, 0, 1));
}

// A failed write leaves nothing held: another area takes the lock at once.
TEST_F(SemaphoreTest, AFailedWriteReleasesTheRegion) {
  env_.FakeClock(true);
  IndexSemaphore& a = LoggedIn(1);
  IndexSemaphore& b = LoggedIn(2);
  for (SemaAction act : {SemaAction::kIncRead, SemaAction::kLockSemaphore, SemaAction::kLogout}) {
    env_.FailWriteAfter(1);
    ExpectReport([&] { a.Handle(act); }, err::kDiskWrite,
                 "Cannot write to: " + SemaFile() + " " + SemaActionName(act));
    env_.FailWriteAfter(0);
    EXPECT_TRUE(a.LoggedIn());
    EXPECT_FALSE(a.Writing());
    ASSERT_TRUE(b.Lock(true) && b.Lock(false)) << SemaActionName(act);
  }
}

// A reader killed inside its read leaves its count; a writer sees nobody
// holds it and goes ahead, and the last living user deletes the file.
TEST_F(SemaphoreTest, CountsOfAKilledReaderDoNotHoldAWriter) {
  env_.FakeClock(true);
  SemaphoreConfig().wait_limit_s = 1;
  IndexSemaphore& w = LoggedIn(1);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    try {
      IndexSemaphore& r = LoggedIn(2);
      if (r.Read(true)) (void)!write(ready[1], "y", 1);
    } catch (...) {
    }
    pause();
    _exit(0);
  }
  char got = 0;
  ASSERT_EQ(read(ready[0], &got, 1), 1);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_EQ(Record(), Rec(2, 1, 0));
  ASSERT_TRUE(w.Lock(true));
  ASSERT_TRUE(w.Lock(false));
  EXPECT_EQ(Record(), Rec(2, 0, 1));
  ASSERT_TRUE(w.Handle(SemaAction::kLogout));
  EXPECT_FALSE(std::filesystem::exists(SemaFile()));
}

// Shared locks of different handles coexist and keep exclusive ones out;
// a handle's own lock changes kind in place.
TEST(SharedLockTest, BothPlatformLayersAgree) {
  MemEnv mem;
  const std::string path = (std::filesystem::temp_directory_path() / ("ov_shared_lock_" + std::to_string(getpid()))).string();
  for (Env* env : {DefaultEnv(), static_cast<Env*>(&mem)}) {
    std::unique_ptr<ov::File> a, b;
    constexpr uint16_t kMode = fmode::kReadWrite | fmode::kDenyNone;
    ASSERT_EQ(env->Open(path, kMode, Disposition::kCreateTruncate, a), 0);
    ASSERT_EQ(env->Open(path, kMode, Disposition::kOpenExisting, b), 0);
    const std::array<uint16_t, 7> got = {a->LockShared(16, 1), b->LockShared(16, 1), b->Lock(16, 1),
                                         a->Lock(16, 1), b->Unlock(16, 1), a->Lock(16, 1), b->LockShared(16, 1)};
    EXPECT_EQ(got, (std::array<uint16_t, 7>{0, 0, 33, 33, 0, 0, 33}));
    a.reset();
    EXPECT_EQ(b->Lock(16, 1), 0);
  }
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace ov
