// Navigation over work areas: visible-record moves, the end-of-file
// phantom, conditions, the relation hook and ordered walks through the
// index slots.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/expr/expr_types.h"
#include "engine/support/ovcommon.h"
#include "tests/dbf_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

// Record i holds NAME "rec<i>" and N = i.
std::string RecordLine(int i, bool deleted) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%c%-10s%3d", deleted ? '*' : ' ', ("rec" + std::to_string(i)).c_str(), i);
  return buf;
}

// An index over a fixed key order: a list of record numbers and a position
// that follows the engine's calls the way a real order would.
struct FakeIndex {
  std::vector<int32_t> order;
  int pos = 0;
  bool eof = false, bof = false;
  int begins = 0, ends = 0, syncs = 0;

  // The record under the position; past the end it is the last one, as a
  // real order answers at its end.
  int32_t At(WorkArea& a) {
    if (order.empty()) return a.table.record_count + 1;
    return order[std::min<size_t>(pos, order.size() - 1)];
  }
  int Size() const { return static_cast<int>(order.size()); }
  void Install() {
    IndexHooks& ix = Areas().index;
    ix = IndexHooks{};  // a fake of its own, not the engine's index
    ix.active = [](WorkArea&) { return true; };
    ix.begin_position = [this](WorkArea&) { ++begins; };
    ix.end_position = [this](WorkArea&) { ++ends; };
    ix.first = [this](WorkArea& a) {
      pos = 0;
      eof = bof = order.empty();
      return At(a);
    };
    ix.last = [this](WorkArea& a) {
      pos = std::max(Size() - 1, 0);
      eof = bof = order.empty();
      return At(a);
    };
    ix.next = [this](WorkArea& a) {
      bof = false;
      if (pos + 1 < Size())
        ++pos;
      else
        eof = true;
      return At(a);
    };
    ix.prior = [this](WorkArea& a) {
      eof = false;
      if (pos >= Size())
        pos = Size() - 1;
      else if (pos > 0)
        --pos;
      else
        bof = true;
      return At(a);
    };
    ix.mark_beginning = [this](WorkArea&) { bof = true; };
    ix.mark_end = [this](WorkArea&) { eof = true; };
    ix.at_end = [this](WorkArea&) { return eof; };
    ix.at_beginning = [this](WorkArea&) { return bof; };
    ix.sync = [this](WorkArea& a) {
      ++syncs;
      auto it = std::find(order.begin(), order.end(), a.table.current_record);
      eof = it == order.end();
      pos = static_cast<int>(it - order.begin());
    };
  }
};

class NavTest : public test::EngineTest {
 protected:
  // Creates a table of n records (the listed ones marked deleted) and
  // opens it in the current area.
  std::string Use(const std::string& name, int n, const std::set<int>& deleted = {}) {
    const std::string path = Path(name + ".dbf");
    DbfFile dbf = test::MakeTable(path, {{"NAME", 'C', 10, 0}, {"N", 'N', 3, 0}});
    for (int i = 1; i <= n; ++i) {
      test::SetRecord(dbf, RecordLine(i, deleted.count(i) != 0));
      AppendDbfRecord(dbf);
    }
    CloseDbf(dbf);
    USE(path);
    return path;
  }
  static int N() { return static_cast<int>(GetFieldNumber(2)); }
  static bool Cleared() { return TrimText(GetFieldText(1)).empty() && GetFieldNumber(2) == 0; }
  // Runs a command with errors held back; answers the code it left.
  template <class F>
  static uint16_t Quiet(F f) {
    QuietErrors quiet;
    f();
    return Errors().DbfError;
  }
};

TEST_F(NavTest, SkipPastLastGoesToPhantomThenReportsPastEof) {
  Use("t", 3);
  GoBottom();
  EXPECT_EQ(N(), 3);
  SKIP(1);
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(Cleared());
  EXPECT_EQ(Quiet([] { SKIP(1); }), 212);
  EXPECT_EQ(Errors().ErrorContext, "Database \"" + DbfName() + "\" is past EOF. [SKIP]");
  EXPECT_EQ(RecNo(), 4);
  EXPECT_THROW(SKIP(1), EOrvelError);
  // Backward from the phantom reaches the last record again.
  SKIP(-1);
  EXPECT_EQ(N(), 3);
  EXPECT_FALSE(dEOF());
}

TEST_F(NavTest, SkipBackFromFirstVisibleStopsAtTop) {
  Use("t", 4, {1});
  SetIgnoreDel(true);
  GoTop();
  EXPECT_EQ(RecNo(), 2);
  SKIP(-1);
  EXPECT_EQ(RecNo(), 2);
  EXPECT_TRUE(dBOF());
  SKIP(-1);  // nothing more to do
  EXPECT_EQ(RecNo(), 2);
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(Errors().DbfError, 0);
  SKIP(1);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_FALSE(dBOF());
}

TEST_F(NavTest, SkipCountsOnlyVisibleRecords) {
  Use("t", 6, {2, 3});
  SetIgnoreDel(true);
  GO(1);
  SKIP(3);
  EXPECT_EQ(RecNo(), 6);
  SKIP(-3);
  EXPECT_EQ(RecNo(), 1);
  SetIgnoreDel(false);
  SKIP(3);
  EXPECT_EQ(RecNo(), 4);
  SKIP(0);
  EXPECT_EQ(N(), 4);
}

TEST_F(NavTest, GoOutsideTheTableReportsAndLeavesAtEnd) {
  Use("t", 3);
  GO(2);
  EXPECT_EQ(Quiet([] { GO(0); }), 212);
  EXPECT_EQ(Errors().ErrorContext, "Invalid record number = 0 Database \"" + DbfName() + "\" [GO]");
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(N(), 2);  // the typed record keeps its contents
  GO(2);
  EXPECT_EQ(Quiet([] { GO(4); }), 212);
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 4);
  GO(3);
  EXPECT_EQ(N(), 3);
  EXPECT_FALSE(dEOF());
  EXPECT_FALSE(dBOF());
}

TEST_F(NavTest, GoIfValidAndRawMoves) {
  Use("t", 3);
  int runs = 0;
  SetRelationHook([&] { ++runs; });
  runs = 0;
  EXPECT_FALSE(GoIfValid(0));
  EXPECT_FALSE(GoIfValid(4));
  EXPECT_EQ(Errors().DbfError, 0);
  EXPECT_TRUE(GoIfValid(2));
  EXPECT_EQ(runs, 1);
  Dbf4RawGo(3);
  EXPECT_EQ(N(), 3);
  EXPECT_EQ(runs, 1);
  Dbf4RawGo(9);
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(Cleared());
  EXPECT_EQ(Quiet([] { Dbf4RawGo(0); }), 212);
  EXPECT_NE(Errors().ErrorContext.find("[Dbf4RawGo]"), std::string::npos);
  GoRecord(1);
  EXPECT_EQ(N(), 1);
  EXPECT_EQ(runs, 2);
}

TEST_F(NavTest, EmptyTable) {
  Use("t", 0);
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(dBOF());
  GoTop();
  GoBottom();
  EXPECT_EQ(Errors().DbfError, 0);
  EXPECT_EQ(Quiet([] { SKIP(1); }), 212);
  EXPECT_EQ(Quiet([] { SKIP(-1); }), 212);
  EXPECT_EQ(Errors().ErrorContext, "Database \"" + DbfName() + "\" is empty. [SKIP]");
  EXPECT_EQ(Quiet([] { GO(1); }), 212);
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(dBOF());
  FirstInScope();
  LastInScope();
  EXPECT_FALSE(LeaveInvisible());
}

TEST_F(NavTest, AllRecordsHiddenGivesPhantom) {
  Use("t", 3, {1, 2, 3});
  SetIgnoreDel(true);
  GoTop();
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(Cleared());
  GO(2);
  GoBottom();
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(dEOF());
  GO(2);
  SKIP(-1);  // runs off the front: GoTop finds nothing
  EXPECT_TRUE(dBOF());
  EXPECT_TRUE(Cleared());
}

TEST_F(NavTest, HidingKeepsDeletedRecordUntilLeaveInvisible) {
  Use("t", 4, {2, 4});
  GO(2);
  EXPECT_FALSE(SetIgnoreDel(true));
  EXPECT_EQ(RecNo(), 2);
  EXPECT_TRUE(GetDeletedFlag());
  EXPECT_FALSE(RecordVisible());
  EXPECT_TRUE(LeaveInvisible());
  EXPECT_EQ(RecNo(), 3);
  EXPECT_FALSE(LeaveInvisible());  // visible now
  // Nothing visible after the last record: step back instead.
  GO(4);
  EXPECT_TRUE(LeaveInvisible());
  EXPECT_EQ(RecNo(), 3);
  EXPECT_FALSE(dEOF());
  EXPECT_TRUE(SetIgnoreDel(false));
}

TEST_F(NavTest, RecordsAppendedByAnotherProcessBecomeReachable) {
  const std::string path = Use("t", 3);
  GoBottom();
  SKIP(1);
  EXPECT_TRUE(dEOF());
  pid_t pid = fork();
  if (pid == 0) {
    int status = 1;
    try {
      QuietErrors quiet;
      DbfFile dbf;
      dbf.path = path;
      OpenDbf(dbf);
      for (int i = 4; i <= 5; ++i) {
        test::SetRecord(dbf, RecordLine(i, false));
        AppendDbfRecord(dbf);
      }
      CloseDbf(dbf);
      status = Errors().DbfError == 0 ? 0 : 2;
    } catch (...) {
      status = 3;
    }
    _exit(status);
  }
  int st = -1;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st));
  ASSERT_EQ(WEXITSTATUS(st), 0);
  EXPECT_TRUE(dEOF());  // still on the old phantom
  EXPECT_EQ(RecCount(), 5);
  GO(3);
  SKIP(1);
  EXPECT_EQ(N(), 4);
  GO(5);
  EXPECT_EQ(N(), 5);
  GoBottom();
  EXPECT_EQ(RecNo(), 5);
}

// Another program packs the table to two records while this area sits on
// the phantom after record 5: once the count is refreshed, a step back
// lands on the new last record, not on a record the file no longer holds.
TEST_F(NavTest, SkipBackFromThePhantomOfATableCutShortLandsOnItsLast) {
  for (const bool counted_first : {true, false}) {
    const std::string path = Use("t", 5);
    GoBottom();
    SKIP(1);
    ASSERT_EQ(RecNo(), 6);
    const DbfFile& t = CurrentArea()->table;
    std::filesystem::resize_file(path, t.header_length + 2u * t.record_length);
    if (counted_first) {
      EXPECT_TRUE(dEOF());
      EXPECT_EQ(RecCount(), 2);
    }
    EXPECT_EQ(Quiet([] { SKIP(-1); }), 0) << Errors().ErrorContext;
    EXPECT_EQ(RecNo(), 2) << counted_first;
    EXPECT_EQ(N(), 2);
    EXPECT_FALSE(dEOF());
    CloseArea();
  }
}

TEST_F(NavTest, FilterAndForConditionHideRecords) {
  Use("t", 6);
  SetForCondition([] { return N() % 2 == 0; });
  GoTop();
  EXPECT_EQ(N(), 2);
  SKIP(2);
  EXPECT_EQ(N(), 6);
  GoBottom();
  EXPECT_EQ(N(), 6);
  // A filter takes the place of the FOR condition while it is set.
  SetFilter([] { return N() >= 5; });
  GoTop();
  EXPECT_EQ(N(), 5);
  SetFilter(nullptr);
  GoTop();
  EXPECT_EQ(N(), 2);
  SetForCondition(nullptr);
  GoTop();
  EXPECT_EQ(N(), 1);
}

TEST_F(NavTest, ConditionExpressionsGoThroughTheExpressionHooks) {
  Use("t", 6);
  ExprHooks& ex = Areas().expr;
  ex = ExprHooks{};
  EXPECT_FALSE(SetForExpression("N > 3"));  // no expression engine installed
  EXPECT_EQ(Errors().DbfError, 0);
  // A stand-in engine that knows two conditions by their text.
  ex.compile = [](const std::string& text) -> std::shared_ptr<CompiledExpr> {
    if (text != "N > 3" && text != "N < 5") return nullptr;
    auto e = std::make_shared<CompiledExpr>();
    e->source = text;
    return e;
  };
  ex.evaluate_logical = [](const std::shared_ptr<CompiledExpr>& e) { return e->source == "N > 3" ? N() > 3 : N() < 5; };
  EXPECT_TRUE(SetForExpression("N > 3"));
  GoTop();
  EXPECT_EQ(N(), 4);
  EXPECT_FALSE(SetForExpression("bad"));  // keeps the condition in force
  GoTop();
  EXPECT_EQ(N(), 4);
  EXPECT_TRUE(SetWhileExpression("N < 5"));
  EXPECT_TRUE(IsWhileOn());
  SKIP(1);
  EXPECT_EQ(N(), 5);
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(SetForExpression(""));
  EXPECT_TRUE(SetWhileExpression(" "));
  EXPECT_FALSE(IsWhileOn());
  GoTop();
  EXPECT_EQ(N(), 1);
}

TEST_F(NavTest, WhileConditionBoundsSkip) {
  Use("t", 8);
  SetWhileCondition([] { return N() >= 3 && N() <= 5; });
  EXPECT_TRUE(IsWhileOn());
  GO(4);
  SKIP(5);
  EXPECT_EQ(RecNo(), 6);  // the record that failed stays in the buffer
  EXPECT_TRUE(dEOF());
  GO(4);
  SKIP(-5);
  EXPECT_EQ(RecNo(), 3);  // back on the last record inside the scope
  EXPECT_TRUE(dBOF());
  EXPECT_FALSE(dEOF());
  GO(4);
  FirstInScope();
  EXPECT_EQ(RecNo(), 3);
  LastInScope();
  EXPECT_EQ(RecNo(), 5);
  EXPECT_TRUE(WhileHolds());
  SetWhileCondition(nullptr);
  FirstInScope();
  EXPECT_EQ(RecNo(), 1);
  LastInScope();
  EXPECT_EQ(RecNo(), 8);
}

TEST_F(NavTest, RelationHookMovesRelatedAreas) {
  Use("parent", 4);
  Select(2);
  Use("child", 4);
  Select(1);
  int runs = 0;
  EXPECT_FALSE(SetRelationHook([&] {
    const int32_t n = RecNo();
    ++runs;
    Select(2);
    GO(n);
  }));
  EXPECT_EQ(runs, 1);  // runs once when installed
  GO(3);
  SKIP(-1);
  EXPECT_EQ(runs, 3);
  EXPECT_EQ(SelectedArea(), 1);
  Select(2);
  EXPECT_EQ(RecNo(), 2);
  Select(1);
  GoTop();
  GoBottom();
  SKIP(0);
  EXPECT_EQ(runs, 6);
  EXPECT_TRUE(SetRelationHook(nullptr));
}

TEST_F(NavTest, RelationHookThatMovesItsOwnAreaReports224) {
  Use("t", 4);
  int runs = 0;
  SetRelationHook([&] {
    if (++runs > 1) GO(4);  // would recurse if the hook ran again inside
  });
  EXPECT_EQ(Quiet([] { GO(2); }), 224);
  EXPECT_EQ(Errors().ErrorContext, DbfName());
  EXPECT_EQ(runs, 2);
  EXPECT_THROW(GO(1), EOrvelError);
  // A hook that closes its own area leaves nothing dangling.
  SetRelationHook([] { CloseArea(); });
  EXPECT_EQ(CurrentArea(), nullptr);
}

TEST_F(NavTest, ReadErrorKeepsRecordAndSkipsHook) {
  Use("t", 3);
  GO(1);
  int runs = 0;
  SetRelationHook([&] { ++runs; });
  env_.ShortReadsFrom(1);
  EXPECT_NE(Quiet([] { SKIP(1); }), 0);
  EXPECT_EQ(N(), 1);
  EXPECT_EQ(runs, 1);
  EXPECT_NE(Quiet([] { GoTop(); }), 0);
  EXPECT_NE(Quiet([] { Dbf4RawGo(2); }), 0);
  EXPECT_NE(Errors().ErrorContext.find("[Dbf4RawGo]"), std::string::npos);
  EXPECT_EQ(runs, 1);
}

TEST_F(NavTest, CommandsOnAnEmptyAreaReport215) {
  Select(5);
  EXPECT_THROW(GoTop(), EOrvelError);
  EXPECT_EQ(Quiet([] { SKIP(1); }), 215);
  EXPECT_EQ(Errors().ErrorContext, "No database in use [SKIP()]  WorkArea = 5");
  QuietErrors quiet;
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(RecNo(), 0);
  EXPECT_EQ(RecCount(), 0);
  EXPECT_FALSE(RecordVisible());
  EXPECT_FALSE(LeaveInvisible());
}

TEST_F(NavTest, IndexOrderDrivesNavigation) {
  Use("t", 5, {4});
  FakeIndex ix;
  ix.order = {3, 1, 4, 2, 5};
  ix.Install();
  GoTop();
  EXPECT_EQ(RecNo(), 3);
  SKIP(1);
  EXPECT_EQ(RecNo(), 1);
  SetIgnoreDel(true);
  SKIP(1);
  EXPECT_EQ(RecNo(), 2);  // 4 is hidden
  SKIP(-1);
  EXPECT_EQ(RecNo(), 1);
  GoBottom();
  EXPECT_EQ(RecNo(), 5);
  const int syncs = ix.syncs;
  SKIP(1);
  EXPECT_EQ(RecNo(), 6);
  EXPECT_TRUE(dEOF());
  EXPECT_GT(ix.syncs, syncs);
  SKIP(-2);
  EXPECT_EQ(RecNo(), 2);
  GO(1);
  SKIP(-3);  // off the front of the order: GoTop, at the beginning
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(ix.begins, ix.ends);
  EXPECT_GT(ix.begins, 0);
}

TEST_F(NavTest, IndexThatNeverReachesItsEndCannotHang) {
  Use("t", 3, {1, 2, 3});
  IndexHooks& ix = Areas().index;
  ix = IndexHooks{};
  ix.active = [](WorkArea&) { return true; };
  ix.first = ix.last = ix.next = ix.prior = [](WorkArea&) { return 2; };
  SetIgnoreDel(true);
  GoTop();
  EXPECT_EQ(RecNo(), 4);
  GoBottom();
  EXPECT_EQ(RecNo(), 4);
  ix.next = [](WorkArea&) { return 77; };  // beyond the table
  SetIgnoreDel(false);
  GO(2);
  SKIP(1);
  EXPECT_EQ(RecNo(), 4);
}

}  // namespace
}  // namespace ov
