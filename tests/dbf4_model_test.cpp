// Random command sequences against an in-memory model of the table: every
// append, replace, delete, recall and movement is mirrored, and after each
// step the area must stand where the model says, showing what it holds.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/memo/memo_check.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

struct Row {
  std::string name;
  int qty = 0;
  bool deleted = false;
};

class ModelTest : public test::EngineTest {
 protected:
  std::vector<Row> rows_;
  bool hide_ = false;
  int pos_ = 0;  // 1-based; rows_.size() + 1 is the phantom record

  int Count() const { return static_cast<int>(rows_.size()); }
  bool Visible(int n) const { return !(hide_ && rows_[n - 1].deleted); }
  int FirstVisible() const {
    for (int n = 1; n <= Count(); ++n) {
      if (Visible(n)) return n;
    }
    return Count() + 1;
  }
  int LastVisible() const {
    for (int n = Count(); n >= 1; --n) {
      if (Visible(n)) return n;
    }
    return Count() + 1;
  }

  void ModelSkip(int k) {
    int n = pos_;
    if (k > 0) {
      for (int step = 0; step < k; ++step) {
        do {
          ++n;
        } while (n <= Count() && !Visible(n));
        if (n > Count()) break;
      }
      pos_ = n > Count() ? Count() + 1 : n;
    } else {
      if (n > Count()) n = Count() + 1;
      for (int step = 0; step < -k; ++step) {
        do {
          --n;
        } while (n >= 1 && !Visible(n));
        if (n < 1) break;
      }
      pos_ = n < 1 ? FirstVisible() : n;
    }
  }

  void ExpectPosition(const std::string& what) {
    ASSERT_EQ(RecNo(), pos_) << what;
    if (pos_ > Count()) {
      EXPECT_TRUE(dEOF()) << what;
      EXPECT_EQ(GetFieldText(1), std::string(8, ' ')) << what;
      return;
    }
    const Row& r = rows_[pos_ - 1];
    std::string name = r.name;
    name.resize(8, ' ');
    EXPECT_EQ(GetFieldText(1), name) << what;
    EXPECT_EQ(GetFieldNumber(2), r.qty) << what;
    EXPECT_EQ(GetDeletedFlag(), r.deleted) << what;
  }
};

TEST_F(ModelTest, RandomCommandsAgreeWithTheModel) {
  DbfFile dbf;
  const std::vector<FieldDef> defs = {{"name", 'C', 8, 0}, {"qty", 'N', 5, 0}};
  CreateDbf(dbf, Path("model"), defs);
  USE(Path("model") + " EXCLUSIVE");
  const unsigned seed = 20261208;
  std::mt19937 rng(seed);
  QuietErrors quiet;
  for (int step = 0; step < 4000; ++step) {
    const int op = static_cast<int>(rng() % 9);
    std::string what = "seed " + std::to_string(seed) + " step " + std::to_string(step) + " op " + std::to_string(op);
    Errors().DbfError = 0;
    if (op == 0 || Count() == 0) {  // append
      Row r{"n" + std::to_string(rng() % 1000), static_cast<int>(rng() % 20000) - 9999, false};
      ClearRecord();
      SetFieldText(1, r.name);
      SetFieldNumber(2, r.qty);
      Append();
      rows_.push_back(r);
      pos_ = Count();
    } else if (op == 1 && pos_ <= Count()) {  // replace the current record
      Row& r = rows_[pos_ - 1];
      r.qty = static_cast<int>(rng() % 20000) - 9999;
      SetFieldNumber(2, r.qty);
      Replace();
      if (!Visible(pos_)) ModelSkip(0);
    } else if (op == 2 && pos_ <= Count()) {
      DeleteRec();
      rows_[pos_ - 1].deleted = true;
    } else if (op == 3 && pos_ <= Count()) {
      RecallRec();
      rows_[pos_ - 1].deleted = false;
    } else if (op == 4) {
      hide_ = !hide_;
      SetIgnoreDel(hide_);  // re-reads in place
    } else if (op == 5) {
      GoTop();
      pos_ = FirstVisible();
    } else if (op == 6) {
      GoBottom();
      pos_ = LastVisible();
    } else if (op == 7) {
      const int n = 1 + static_cast<int>(rng() % Count());
      GO(n);
      pos_ = n;
    } else {
      const int k = static_cast<int>(rng() % 7) - 3;
      if (k > 0 && pos_ > Count()) {
        SKIP(k);
        EXPECT_EQ(Errors().DbfError, 212) << what;  // past EOF: nothing moves
        continue;
      }
      SKIP(k);
      if (k != 0) ModelSkip(k);
    }
    ASSERT_EQ(Errors().DbfError, 0) << what;
    ASSERT_EQ(RecCount(), Count()) << what;
    ExpectPosition(what);
    if (HasFatalFailure()) return;
  }
  CloseArea();
  // Everything reached the file: reopen and compare every record.
  USE(Path("model"));
  for (int n = 1; n <= Count(); ++n) {
    GO(n);
    pos_ = n;
    ExpectPosition("after reopen, record " + std::to_string(n));
  }
  CloseArea();
  EXPECT_EQ(FindingLines(CheckTableAndMemo(Path("model.DBF"))), "");
}

}  // namespace
}  // namespace ov
