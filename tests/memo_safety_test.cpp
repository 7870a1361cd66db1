// Memo writes that fail or meet damaged files: committed memos stay as
// they were, damaged ones are reported rather than read, and a file
// rewritten in a steady state stops growing.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/memo/memo_area.h"
#include "engine/memo/memo_check.h"
#include "engine/support/coding.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

constexpr int32_t kRecords = 4;

std::string Text(int32_t rec, int v, size_t length) {
  std::string text = "r" + std::to_string(rec) + "v" + std::to_string(v) + " ";
  text.resize(std::max(length, text.size()), static_cast<char>('a' + (rec + v) % 26));
  return text;
}

class MemoSafetyTest : public test::EngineTest, public ::testing::WithParamInterface<uint8_t> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    AreaConfig().AnsiTables = true;
    Engine().table.CreateVersion = GetParam();
  }

  std::string Table() const { return Path("memos"); }

  // A table whose record r holds Text(r, 0, 300 * r).
  void Create() {
    DbfFile dbf;
    CreateDbf(dbf, Table(), std::vector<FieldDef>{{"NOTES", 'M', 10, 0}});
    CloseDbf(dbf);
    USE(Table() + " EXCLUSIVE");
    for (int32_t r = 1; r <= kRecords; ++r) {
      ClearRecord();
      SetFieldNumber(1, Areas().memo.write_text(*CurrentArea(), Text(r, 0, 300 * r), 0));
      Append();
    }
  }

  std::string MemoOf(int32_t rec) {
    GO(rec);
    const auto block = static_cast<int32_t>(GetFieldNumber(1));
    return block == 0 ? "" : Areas().memo.read_text(*CurrentArea(), block);
  }

  // Writes a new memo for the current record and commits it; the old one
  // is given back once the record points elsewhere.
  void Rewrite(const std::string& text, bool append) {
    const int32_t old = append ? 0 : static_cast<int32_t>(GetFieldNumber(1));
    const int32_t block = Areas().memo.write_text(*CurrentArea(), text, old);
    SetFieldNumber(1, block);
    if (append) {
      Append();
    } else {
      Replace();
    }
    if (old != 0 && old != block) Areas().memo.release(*CurrentArea(), old);
  }
};

// Each operation is run with the n-th write failing (and every write after
// it: the disk is full), for every n until the operation needs fewer.
TEST_P(MemoSafetyTest, AWriteFailingAnywhereLeavesCommittedMemosIntact) {
  struct Op {
    const char* name;
    int32_t rec;    // 0: append a record
    size_t length;  // of the new memo
    bool close;     // then close the table, still failing
  };
  const Op ops[] = {{"grow", 2, 2000, false},
                    {"shrink", 3, 40, false},
                    {"same size", 1, 290, false},
                    {"append", 0, 700, false},
                    {"close", 2, 100, true}};
  for (const Op& op : ops) {
    for (int n = 1;; ++n) {
      Create();
      const int32_t rec = op.rec == 0 ? kRecords + 1 : op.rec;
      const std::string text = Text(rec, 1, op.length);
      if (op.rec == 0) {
        ClearRecord();
      } else {
        GO(rec);
      }
      env_.FailWriteAfter(n);
      const int failures_before = env_.failed_writes_;
      bool failed = false;
      try {
        Rewrite(text, op.rec == 0);
        if (op.close) CloseArea();
      } catch (const EOrvelError&) {
        failed = true;
      }
      const bool reached = env_.failed_writes_ != failures_before;
      env_.FailWriteAfter(0);
      EXPECT_EQ(failed, reached) << op.name << " write " << n;
      if (CurrentArea() != nullptr) {
        try {
          CloseArea();
        } catch (const EOrvelError&) {
        }
      }
      Engine().table.RepairRecCount = true;
      USE(Table() + " EXCLUSIVE");
      Engine().table.RepairRecCount = false;
      for (int32_t r = 1; r <= RecCount(); ++r) {
        const std::string memo = MemoOf(r);
        const bool is_old = r <= kRecords && memo == Text(r, 0, 300 * r);
        const bool is_new = r == rec && memo == text;
        EXPECT_TRUE(is_old || is_new) << op.name << " write " << n << " record " << r;
        if (!failed && r == rec) {
          EXPECT_TRUE(is_new) << op.name << " write " << n;
        }
      }
      EXPECT_GE(RecCount(), kRecords) << op.name << " write " << n;
      CloseArea();
      EXPECT_EQ(FindingLines(CheckTableAndMemo(Table() + ".DBF")), "") << op.name << " write " << n;
      if (!reached) break;
      ASSERT_LT(n, 200) << op.name;
    }
  }
}

// Kinds with a free chain (dBASE IV, level 7).
class MemoChainTest : public MemoSafetyTest {};

// 20 memos rewritten 3,000 times with random sizes: released runs are
// reused, so the file ends no larger than twice the live data plus a
// block per memo.
TEST_P(MemoChainTest, SteadyRewritesStopTheFileGrowing) {
  DbfFile dbf;
  CreateDbf(dbf, Table(), std::vector<FieldDef>{{"NOTES", 'M', 10, 0}});
  CloseDbf(dbf);
  USE(Table() + " EXCLUSIVE");
  constexpr int kMemos = 20;
  for (int r = 1; r <= kMemos; ++r) {
    ClearRecord();
    Append();
  }
  std::mt19937 rng(7);
  std::vector<size_t> live(kMemos + 1, 0);
  for (int i = 0; i < 3000; ++i) {
    const int32_t rec = 1 + static_cast<int32_t>(rng() % kMemos);
    live[rec] = 1 + rng() % 3000;
    GO(rec);
    Rewrite(Text(rec, i, live[rec]), false);
  }
  CloseArea();
  uint64_t live_bytes = 0;
  for (size_t l : live) live_bytes += l + 8;
  const uint64_t size = test::ReadAll(Table() + ".DBT").size();
  EXPECT_LE(size, 2 * live_bytes + uint64_t{kMemos + 1} * Engine().table.MemoBlockSize);
  EXPECT_EQ(FindingLines(CheckTableAndMemo(Table() + ".DBF")), "");
}

// Kinds whose memos carry a block header to check (plain dBASE III memos
// carry nothing: any block reads to its 0x1A).
class MemoHeaderTest : public MemoSafetyTest {};

// A damaged memo gives "invalid memo address" with its record number and
// none of another memo's text; the next record reads as before.
TEST_P(MemoHeaderTest, DamagedMemosAreReportedNotRead) {
  const bool fox = GetParam() == 0xF5;
  struct Damage {
    const char* name;
    int at;          // offset in record 2's first block to overwrite, -1 none
    uint32_t value;  // written there, little-endian
    int pointer;     // record 2 then points: 0 unchanged, 1 into record 4's memo, -1 negated
  };
  const Damage damages[] = {
      {"no block marker", 0, 0x78787878, 0},
      {"length 0", 4, 0, 0},
      {"length past the file", 4, 0x7FFFFF00, 0},
      {"pointer into another memo", -1, 0, 1},
      {"negative pointer", -1, 0, -1},
  };
  for (const Damage& d : damages) {
    if (fox && d.at == 4 && d.value == 0) continue;  // an empty memo is valid there
    Create();
    GO(4);
    const auto block4 = static_cast<int32_t>(GetFieldNumber(1));
    GO(2);
    const auto block2 = static_cast<int32_t>(GetFieldNumber(1));
    if (d.pointer != 0) {
      SetFieldNumber(1, d.pointer > 0 ? block4 + 1 : -block2);
      Replace();
    }
    const uint32_t bs = MemoStateOf(*CurrentArea())->block_size;
    CloseArea();
    if (d.at >= 0) {
      const std::string memo_path = Table() + (fox ? ".FPT" : ".DBT");
      std::vector<uint8_t> memo = test::ReadAll(memo_path);
      PutLe32(&memo[static_cast<size_t>(block2) * bs + static_cast<size_t>(d.at)], d.value);
      test::WriteAll(memo_path, memo);
    }
    USE(Table() + " EXCLUSIVE");
    std::string text, message;
    try {
      text = MemoOf(2);
    } catch (const EOrvelError& e) {
      message = e.what();
    }
    EXPECT_EQ(Errors().DbfError, err::kMemoAddress) << d.name;
    EXPECT_NE(message.find("Record # 2"), std::string::npos) << d.name << ": " << message;
    EXPECT_EQ(text.find("r4v0"), std::string::npos) << d.name;
    Errors().DbfError = 0;
    EXPECT_EQ(MemoOf(3), Text(3, 0, 900)) << d.name;
    CloseArea();
  }
}

// A memo file cut short while the table is open (by a program that ignores
// its lock) gives "invalid memo address", not the part of the memo left.
TEST_P(MemoHeaderTest, AMemoFileCutWhileOpenIsReported) {
  Create();
  ASSERT_EQ(MemoOf(4), Text(4, 0, 1200));
  const auto block4 = static_cast<size_t>(GetFieldNumber(1));
  const size_t bs = MemoStateOf(*CurrentArea())->block_size;
  const std::string memo_path = Table() + (GetParam() == 0xF5 ? ".FPT" : ".DBT");
  std::vector<uint8_t> memo = test::ReadAll(memo_path);
  memo.resize(block4 * bs + 100);
  test::WriteAll(memo_path, memo);
  std::string text;
  try {
    text = MemoOf(4);
  } catch (const EOrvelError&) {
  }
  EXPECT_EQ(Errors().DbfError, err::kMemoAddress);
  EXPECT_EQ(text, "");
}

INSTANTIATE_TEST_SUITE_P(Kinds, MemoChainTest, ::testing::Values(0x8B, 0x8C),
                         [](const auto& info) { return "v" + std::to_string(info.param); });
INSTANTIATE_TEST_SUITE_P(Kinds, MemoHeaderTest, ::testing::Values(0x8B, 0x8C, 0xF5),
                         [](const auto& info) { return "v" + std::to_string(info.param); });
INSTANTIATE_TEST_SUITE_P(Kinds, MemoSafetyTest, ::testing::Values(0x83, 0x8B, 0x8C, 0xF5),
                         [](const auto& info) { return "v" + std::to_string(info.param); });

}  // namespace
}  // namespace ov
