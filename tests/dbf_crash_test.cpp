// A process killed in the middle of appending to a shared table: the header
// holds the count of its last append or the one before, and an open that
// repairs the count from the file size mends the file and reaches every
// record.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/dbf/dbf_check.h"
#include "engine/dbf/ovdbflow.h"
#include "engine/support/ovcommon.h"
#include "tests/dbf_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

class CrashTest : public test::EngineTest {};

TEST_F(CrashTest, KilledAppenderLeavesARepairableTable) {
  DbfFile made = test::MakeTable(Path("crash"), {{"n", 'C', 12, 0}});
  CloseDbf(made);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Appends until killed; a report ends the child here, before it could
    // run the test's teardown or gtest's reporting a second time.
    close(ready[0]);
    try {
      DbfFile dbf;
      dbf.path = Path("crash.DBF");
      OpenDbf(dbf);
      for (int i = 1;; ++i) {
        test::SetRecord(dbf, " record " + std::to_string(i));
        AppendDbfRecord(dbf);
        if (i == 200) (void)!write(ready[1], "y", 1);
      }
    } catch (...) {
    }
    _exit(1);
  }
  close(ready[1]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1) << "the appender failed before record 200";
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  close(ready[0]);

  // A shared table's header follows every append: at most the record being
  // appended when the kill came is missing from it.
  const std::vector<CheckFinding> left = CheckTable(Path("crash.DBF"));
  ASSERT_LE(left.size(), 1u) << FindingLines(left);
  for (const CheckFinding& f : left) EXPECT_EQ(f.what, FindingKind::kRecordCount);
  DbfFile dbf;
  dbf.path = Path("crash.DBF");
  OpenDbf(dbf);
  EXPECT_GE(dbf.record_count, 199);
  CloseDbf(dbf);
  // The repairing open mends the file itself, before any write of its own.
  Engine().table.RepairRecCount = true;
  OpenDbf(dbf);
  EXPECT_EQ(FindingLines(CheckTable(Path("crash.DBF"))), "");
  ASSERT_GE(dbf.record_count, 200);
  for (int32_t n = 1; n <= dbf.record_count; ++n) {
    GetDbfRecord(dbf, n);
    std::string want = " record " + std::to_string(n);
    want.resize(13, ' ');
    ASSERT_EQ(test::RecordText(dbf), want) << n;
  }
  // The repaired count reaches the header with the next write.
  test::SetRecord(dbf, " one more");
  AppendDbfRecord(dbf);
  const int32_t total = dbf.record_count;
  CloseDbf(dbf);
  Engine().table.RepairRecCount = false;
  OpenDbf(dbf);
  EXPECT_EQ(dbf.record_count, total);
  CloseDbf(dbf);
  EXPECT_EQ(FindingLines(CheckTable(Path("crash.DBF"))), "");
}

// A write that fails at any step of an append or of the close after it is
// reported, and leaves the committed records as they were.
TEST_F(CrashTest, FailedWriteAtAnyStepOfAppendAndCloseKeepsCommittedRecords) {
  const std::vector<std::string> committed = {" one", " two"};
  for (int fail_at = 1; fail_at < 20; ++fail_at) {
    SCOPED_TRACE(fail_at);
    DbfFile dbf = test::MakeTable(Path("fault"), {{"n", 'C', 12, 0}});
    for (const std::string& r : committed) {
      test::SetRecord(dbf, r);
      AppendDbfRecord(dbf);
    }
    CloseDbf(dbf);
    OpenDbf(dbf);
    env_.FailWriteAfter(fail_at);
    bool reported = false;
    try {
      test::SetRecord(dbf, " three");
      AppendDbfRecord(dbf);
      CloseDbf(dbf);
    } catch (const EOrvelError&) {
      reported = true;
    }
    env_.FailWriteAfter(0);
    if (dbf.is_open()) CloseDbf(dbf);
    Engine().table.RepairRecCount = true;
    OpenDbf(dbf);
    Engine().table.RepairRecCount = false;
    ASSERT_GE(dbf.record_count, 2);
    for (int32_t n = 1; n <= 2; ++n) {
      GetDbfRecord(dbf, n);
      EXPECT_EQ(test::RecordText(dbf).substr(0, committed[n - 1].size()), committed[n - 1]);
    }
    CloseDbf(dbf);
    if (!reported) {
      EXPECT_EQ(FindingLines(CheckTable(dbf.path)), "");
      return;
    }
  }
  ADD_FAILURE() << "every write step failed";
}

}  // namespace
}  // namespace ov
