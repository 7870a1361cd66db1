// Walks served from the table's read-ahead window and, in index order, its
// kept record pages: a record read under a lock of a shared table, and
// every record after a write of the area, is what the file holds; records
// appended by others are reached.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_search.h"
#include "engine/index/ovndx.h"
#include "engine/index/umakemdx.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

constexpr int kRecords = 10;

void AppendName(const std::string& name) {
  ASSERT_TRUE(ALock());
  ClearRecord();
  SetFieldText(1, name);
  Append();
  Unlock();
}

// Replaces record n's name under its lock, from wherever the area stands.
void ReplaceName(int32_t n, const std::string& name) {
  GO(n);
  ASSERT_TRUE(RLock());
  SetFieldText(1, name);
  Replace();
  Unlock();
}

std::string Name() { return TrimRightText(GetFieldText(1)); }

class DbfScanTest : public test::EngineTest {
 protected:
  // The table "scan" with records "a1".."a10", open in area 1.
  void SetUp() override {
    test::EngineTest::SetUp();
    table_ = Path("scan.dbf");
    const FieldDef fields[] = {{"name", 'C', 10, 0}};
    DbfFile dbf;
    CreateDbf(dbf, table_, fields);
    USE(table_);
    for (int k = 1; k <= kRecords; ++k) AppendName("a" + std::to_string(k));
  }

  std::string table_;
};

// The walker's window holds the old records while another process
// replaces two of them and appends one; the reads made under a record lock
// and under the append lock see the replacements.
TEST_F(DbfScanTest, ReadsUnderLocksSeeWhatAnotherProcessCommitted) {
  GoTop();
  auto other = [this](const std::function<void()>& work) {
    Select(2);  // area 1 is the walker's, inherited
    USE(table_ + " ALIAS OTHER");
    work();
    return Errors().DbfError == 0;
  };
  test::ChildHolder first([&] { return other([] { ReplaceName(3, "b3"); }); });
  ASSERT_TRUE(first.ready());
  SKIP(1);
  ASSERT_TRUE(RLock());
  SKIP(1);
  EXPECT_EQ(Name(), "b3");
  Unlock();
  SKIP(1);  // record 4: the window now holds 4 to 10 as they are
  test::ChildHolder second([&] {
    return other([] {
      ReplaceName(6, "b6");
      AppendName("a11");
    });
  });
  ASSERT_TRUE(second.ready());
  SKIP(1);
  ASSERT_TRUE(ALock());
  SKIP(1);
  EXPECT_EQ(Name(), "b6");
  Unlock();
  std::vector<std::string> rest;
  for (SKIP(1); !dEOF(); SKIP(1)) rest.push_back(Name());
  EXPECT_EQ(rest, (std::vector<std::string>{"a7", "a8", "a9", "a10", "a11"}));
  EXPECT_EQ(RecCount(), kRecords + 1);
}

// The area's own writes (Replace, DeleteRec, Poke) reach its next steps,
// whether others may write the table or not.
TEST_F(DbfScanTest, TheAreasWritesReachItsWalk) {
  for (const bool exclusive : {false, true}) {
    SCOPED_TRACE(exclusive);
    CloseArea();
    USE(table_ + (exclusive ? " EXCLUSIVE" : ""));
    SetIgnoreDel(true);
    GoTop();
    ASSERT_TRUE(RLock());
    SetFieldText(1, "c1");
    Replace();
    Unlock();
    SKIP(0);
    EXPECT_EQ(Name(), "c1");
    SKIP(1);                          // the window holds 2 on
    if (exclusive) Poke("e4", 1, 4);  // a shared table wants the record locked
    SKIP(2);
    EXPECT_EQ(Name(), exclusive ? "e4" : "a4");
    ASSERT_TRUE(RLock());
    DeleteRec();
    Unlock();
    SKIP(-1);
    SKIP(1);  // over the deleted record
    EXPECT_EQ(Name(), "a5");
    GO(4);
    ASSERT_TRUE(RLock());
    RecallRec();
    Unlock();
  }
}

// In index order (KEY descending: records 10 down to 1) each step is served
// from a kept page, whatever the budget allows: the area's own Replace
// reaches the next step of a table held exclusively, and a step under a
// record lock of a shared table sees what another process committed.
TEST_F(DbfScanTest, IndexOrderStepsSeeWritesAndLockedReads) {
  CloseArea();
  const std::string table = Path("order.dbf");
  const FieldDef fields[] = {{"key", 'C', 3, 0}, {"name", 'C', 10, 0}};
  DbfFile dbf;
  CreateDbf(dbf, table, fields);
  USE(table + " EXCLUSIVE");
  for (int k = 1; k <= kRecords; ++k) {
    ClearRecord();
    SetFieldText(1, std::to_string(100 + k));
    SetFieldText(2, "a" + std::to_string(k));
    Append();
  }
  ASSERT_TRUE(MakeIndex({{"KEY", "KEY", "", true, false}}, ""));
  CloseArea();
  auto name = [] { return TrimRightText(GetFieldText(2)); };
  auto open = [&](const char* how) {
    USE(table + how);
    SetIndexTo(ForceExt(table, "MDX"));
    Set_Order_To(1);
    ASSERT_EQ(CurrentOrder(), 1);
  };
  const size_t budgets[] = {0, kReadWindowBytes, Engine().table.RecordPageBytes};
  for (const size_t budget : budgets) {
    SCOPED_TRACE(budget);
    Engine().table.RecordPageBytes = budget;
    const std::string mark = std::to_string(budget % 1000);
    open(" EXCLUSIVE");
    std::vector<std::string> names;
    for (GoTop(); !dEOF(); SKIP(1)) names.push_back(name());
    ASSERT_EQ(names.size(), size_t{kRecords});
    // A damaged index may name any record: prefetching it is harmless.
    GoTop();
    SKIP(3);
    for (const int32_t n : {INT32_MIN, -1, 0, kRecords + 1, INT32_MAX}) PrefetchRecord(CurrentArea()->table, n);
    EXPECT_EQ(Errors().DbfError, 0);
    EXPECT_EQ(names.front(), "a10");
    GoTop();
    SKIP(1);
    SetFieldText(2, "c" + mark);
    Replace();
    SKIP(-1);
    SKIP(1);
    EXPECT_EQ(name(), "c" + mark);
    CloseArea();

    open("");
    GoTop();
    test::ChildHolder other([&] {
      Select(2);
      USE(table + " ALIAS OTHER");
      GO(5);
      if (!RLock()) return false;
      SetFieldText(2, "b" + mark);
      Replace();
      Unlock();
      return Errors().DbfError == 0;
    });
    ASSERT_TRUE(other.ready());
    SKIP(1);  // record 9, its page kept before the other's write
    ASSERT_TRUE(RLock());
    SKIP(4);
    EXPECT_EQ(RecNo(), 5);
    EXPECT_EQ(name(), "b" + mark);
    Unlock();
    CloseArea();
  }
}

}  // namespace
}  // namespace ov
