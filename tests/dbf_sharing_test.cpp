// Sharing modes of table opens, across processes and within one process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf_check.h"
#include "engine/dbf/ovdbflow.h"
#include "engine/support/ovcommon.h"
#include "tests/dbf_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

constexpr uint16_t kShared = fmode::kReadWrite | fmode::kDenyNone;
constexpr uint16_t kExclusive = fmode::kReadWrite | fmode::kDenyAll;
constexpr uint16_t kReadShared = fmode::kRead | fmode::kDenyNone;

// A child process that holds the table open in a given mode until told to
// let go; its exit status is 0 when the close went well too.
class Holder : public test::ChildHolder {
 public:
  Holder(const std::string& path, uint16_t mode) : Holder(std::make_shared<DbfFile>(), path, mode) {}
  bool opened() const { return ready(); }

 private:
  Holder(std::shared_ptr<DbfFile> dbf, const std::string& path, uint16_t mode)
      : test::ChildHolder(
            [dbf, path, mode] {
              QuietErrors quiet;
              dbf->path = path;
              dbf->open_mode = mode;
              OpenDbf(*dbf);
              return Errors().DbfError == 0;
            },
            [dbf] {
              QuietErrors quiet;
              CloseDbf(*dbf);
              return Errors().DbfError == 0 ? 0 : 2;
            }) {}
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
  EXPECT_EQ(ErrorText(), std::string(ErrorTableText(32)) + "\r\nFailure to open " + table_ + " [USE/OpenDbf]");
  CloseDbf(exclusive);
}

// Appends one record "NAME" to the table of the current area.
void AppendNamed(const std::string& name) {
  ASSERT_TRUE(ALock());
  ClearRecord();
  SetFieldText(1, name);
  Append();
  Unlock();
}

// The header count on disk, every record whole and sound, and the
// independent readers see `names` in order.
void ExpectTableHolds(const std::string& table, const std::vector<std::string>& names) {
  EXPECT_EQ(test::Le32(test::ReadAll(table), 4), names.size());
  EXPECT_EQ(FindingLines(CheckTable(table)), "");
  std::string out;
  ASSERT_EQ(test::ReadWithPeers(table, "all", &out), 0) << out;
  const nlohmann::json dump = nlohmann::json::parse(out.substr(out.find('{')));
  ASSERT_EQ(dump["records"].size(), names.size()) << out;
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(dump["records"][i]["values"][0], names[i]);
}

// An area whose count another area has overtaken closes or reopens: the
// end-of-file byte goes after the other's record, not on its flag.
TEST_F(DbfSharingTest, StaleAreaEndsTheTableAfterAnotherAreasAppend) {
  for (const bool reopen : {false, true}) {
    SCOPED_TRACE(reopen ? "ReopenTable" : "CloseArea");
    Select(1);
    USE(table_ + " ALIAS STALE");
    AppendNamed("stale");
    Select(2);
    USE(table_ + " ALIAS OTHER");
    AppendNamed("other");
    Select(1);
    if (reopen) {
      EXPECT_EQ(ReopenTable(false), 0);
    } else {
      CloseArea();
    }
    ExpectTableHolds(table_, {"stale", "other"});
    CloseAll();
    const FieldDef fields[] = {{"name", 'C', 10, 0}};
    DbfFile dbf;
    CreateDbf(dbf, table_, fields);
  }
}

// Another process appends while this one holds the table open: its records
// are in the header at once, and neither side's close or reopen writes
// into the other's records.
TEST_F(DbfSharingTest, ProcessesAppendingToOneTableKeepEachOthersRecords) {
  USE(table_);
  AppendNamed("parent1");
  test::ChildHolder child(
      [this] {
        Select(2);  // area 1 is the parent's, inherited
        USE(table_ + " ALIAS CHILD");
        for (const char* name : {"child1", "child2", "child3"}) AppendNamed(name);
        return Errors().DbfError == 0;
      },
      [] {
        CloseArea();  // with a count the parent has overtaken
        return Errors().DbfError == 0 ? 0 : 2;
      });
  ASSERT_TRUE(child.ready());
  ExpectTableHolds(table_, {"parent1", "child1", "child2", "child3"});
  EXPECT_EQ(ReopenTable(false), 0);
  AppendNamed("parent2");
  EXPECT_EQ(child.Release(), 0);
  CloseArea();
  ExpectTableHolds(table_, {"parent1", "child1", "child2", "child3", "parent2"});
}

}  // namespace
}  // namespace ov
