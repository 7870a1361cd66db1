// A memo write reaches the disk at once only when other programs share the
// memo file; a table held exclusively leaves it to the system.
#include <gtest/gtest.h>

#include "engine/dbf/dbf4.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

class MemoFlushTest : public test::EngineTest {
 protected:
  int SyncsForOneMemo(const std::string& options) {
    DbfFile dbf;
    const std::vector<FieldDef> defs = {{"notes", 'M', 10, 0}};
    CreateDbf(dbf, Path("m"), defs);
    USE(Path("m") + options);
    const int before = env_.syncs_;
    const int32_t block = Areas().memo.write_text(*CurrentArea(), "some text", 0);
    EXPECT_GT(block, 0);
    const int syncs = env_.syncs_ - before;
    EXPECT_EQ(Areas().memo.read_text(*CurrentArea(), block), "some text");
    CloseArea();
    return syncs;
  }
};

TEST_F(MemoFlushTest, SharedWritesFlushExclusiveOnesDoNot) {
  EXPECT_GE(SyncsForOneMemo(""), 1);
  EXPECT_EQ(SyncsForOneMemo(" EXCLUSIVE"), 0);
  AreaConfig().MultiUser = false;
  EXPECT_EQ(SyncsForOneMemo(""), 0);
}

TEST_F(MemoFlushTest, ARefusedSyncIsReported) {
  DbfFile dbf;
  const std::vector<FieldDef> defs = {{"notes", 'M', 10, 0}};
  CreateDbf(dbf, Path("m"), defs);
  USE(Path("m"));
  env_.FailSyncs(true);
  QuietErrors quiet;
  Areas().memo.write_text(*CurrentArea(), "some text", 0);
  EXPECT_NE(Errors().DbfError, 0);
  EXPECT_NE(Errors().ErrorContext.find("[FlushMemoFile]"), std::string::npos);
  env_.FailSyncs(false);
  CloseArea();
}

}  // namespace
}  // namespace ov
