// A process killed in the middle of appending: the header still holds the
// count of its last flush, the records it wrote are whole or cut, and an
// open that repairs the count from the file size reaches every whole one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

  EXPECT_EQ(CheckTable(Path("crash.DBF")).at(0).what, FindingKind::kRecordCount);
  DbfFile dbf;
  dbf.path = Path("crash.DBF");
  OpenDbf(dbf);
  EXPECT_EQ(dbf.record_count, 0);  // never flushed: the header still says empty
  CloseDbf(dbf);
  Engine().table.RepairRecCount = true;
  OpenDbf(dbf);
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

}  // namespace
}  // namespace ov
