// The in-memory Env: the same contract cases run on the POSIX layer and on
// memory files and must answer alike; then the engine runs on memory files.
#include "engine/support/mem_env.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "engine/dbf/dbf4.h"
#include "engine/engine.h"
#include "engine/memo/memo_area.h"
#include "engine/support/ovcommon.h"

namespace ov {
namespace {

using fmode::kDenyAll;
using fmode::kDenyNone;
using fmode::kDenyWrite;
using fmode::kRead;
using fmode::kReadWrite;
using fmode::kWrite;

constexpr uint16_t kRw = kReadWrite | kDenyNone;

class EnvContractTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      mem_ = std::make_unique<MemEnv>();
      env_ = mem_.get();
      dir_ = "/ov-mem-contract";
      return;
    }
    env_ = DefaultEnv();
    std::string templ = (std::filesystem::temp_directory_path() / "ovenvXXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    if (!mem_) std::filesystem::remove_all(dir_);
  }

  std::string P(const std::string& name) const { return dir_ + "/" + name; }
  std::unique_ptr<File> Open(const std::string& name, uint16_t mode, Disposition d = Disposition::kOpenExisting,
                             uint16_t want = 0) {
    std::unique_ptr<File> f;
    EXPECT_EQ(env_->Open(P(name), mode, d, f), want) << name << " mode " << mode;
    EXPECT_EQ(f != nullptr, want == 0);
    return f;
  }
  void Make(const std::string& name, const std::string& bytes) {
    auto f = Open(name, kRw, Disposition::kCreateTruncate);
    ASSERT_TRUE(f);
    ASSERT_EQ(f->WriteAt(0, bytes.data(), bytes.size()), 0);
  }
  std::string Contents(const std::string& name) {
    auto f = Open(name, kRead | kDenyNone);
    std::string s(64, '\0');
    size_t got = 0;
    if (f) {
      EXPECT_EQ(f->ReadAt(0, s.data(), s.size(), got), 0);
    }
    return s.substr(0, got);
  }

  std::unique_ptr<MemEnv> mem_;
  Env* env_ = nullptr;
  std::string dir_;
};

TEST_P(EnvContractTest, OpenAnswersByDispositionAndPlace) {
  Make("f", "abc");
  struct Case {
    const char* name;
    uint16_t mode;
    Disposition disp;
    uint16_t want;
  } const cases[] = {
      {"missing", kRead | kDenyNone, Disposition::kOpenExisting, 2},
      {"f", kRead | kDenyNone, Disposition::kCreateNew, 31},
      {"f/x", kRw, Disposition::kCreateNew, 3},
      {".", kRead | kDenyNone, Disposition::kOpenExisting, 5},
      {".", kRw, Disposition::kCreateTruncate, 5},
      {"new", kRead | kDenyNone, Disposition::kCreateNew, 0},
  };
  for (const Case& c : cases) Open(c.name, c.mode, c.disp, c.want);
  EXPECT_TRUE(env_->Exists(P("new")));
  EXPECT_TRUE(env_->Exists(dir_));
  EXPECT_FALSE(env_->Exists(P("missing")));
  // Created with read access, the handle can still write.
  auto f = Open("g", kRead | kDenyNone, Disposition::kCreateTruncate);
  EXPECT_EQ(f->WriteAt(2, "z", 1), 0);
  uint64_t size = 0;
  EXPECT_EQ(f->Size(size), 0);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(Contents("g"), std::string("\0\0z", 3));
}

TEST_P(EnvContractTest, SharingModesBetweenHandles) {
  Make("f", "abc");
  struct Case {
    uint16_t first, second, want;
  } const cases[] = {
      {kRw, kRw, 0},
      {kRw, kReadWrite | kDenyAll, 32},
      {kReadWrite | kDenyAll, kRw, 32},
      {kReadWrite | kDenyWrite, kRead | kDenyNone, 32},
      {kRead | kDenyAll, kRead | kDenyAll, 0},  // read-only handles never exclude each other
      {kRead | kDenyNone, kReadWrite | kDenyAll, 32},
      {kWrite | kDenyAll, kRead | kDenyNone, 32},
  };
  for (const Case& c : cases) {
    auto a = Open("f", c.first);
    Open("f", c.second, Disposition::kOpenExisting, c.want);
    // A refused create-truncate leaves the other opener's data alone.
    if (c.want != 0) Open("f", c.second, Disposition::kCreateTruncate, c.want);
    a.reset();
    Open("f", c.second);
  }
  EXPECT_EQ(Contents("f"), "abc");
}

TEST_P(EnvContractTest, ByteRangeLocksBetweenHandles) {
  Make("f", "abc");
  struct Case {
    uint16_t a_mode, b_mode;
    uint64_t b_offset, b_len;
    uint16_t want;
  } const cases[] = {
      {kRw, kRw, 15, 10, 33},
      {kRw, kRw, 20, 10, 0},
      {kRw, kRw, 0, 10, 0},
      {kRead | kDenyNone, kRead | kDenyNone, 19, 1, 33},
      {kRead | kDenyNone, kRw, 10, 1, 33},
      {kRw, kRead | kDenyNone, 12, 2, 33},
      {kRw, kRw, 0, 11, 33},
  };
  for (const Case& c : cases) {
    auto a = Open("f", c.a_mode);
    auto b = Open("f", c.b_mode);
    ASSERT_EQ(a->Lock(10, 10), 0);
    EXPECT_EQ(a->Lock(12, 3), 0);  // a handle's own locks never conflict
    EXPECT_EQ(b->Lock(c.b_offset, c.b_len), c.want) << c.b_offset << "+" << c.b_len;
    ASSERT_EQ(a->Unlock(10, 5), 0);
    EXPECT_EQ(b->Lock(10, 5), 0);
    EXPECT_EQ(b->Lock(15, 1), 33);
    a.reset();  // closing drops every lock of the handle
    EXPECT_EQ(b->Lock(15, 5), 0);
  }
}

TEST_P(EnvContractTest, NamesAndClosedHandles) {
  Make("a", "one");
  Make("b", "two");
  auto held = Open("a", kRead | kDenyNone);
  struct Case {
    const char* what;
    uint16_t got, want;
  } const cases[] = {
      {"delete missing", env_->Delete(P("x")), 2},
      {"delete open", env_->Delete(P("a")), 32},
      {"rename missing", env_->Rename(P("x"), P("y")), 2},
      {"copy missing", env_->CopyFile(P("x"), P("y")), 2},
      {"copy onto itself", env_->CopyFile(P("a"), P("a")), 32},
      {"copy", env_->CopyFile(P("a"), P("c")), 0},
      {"rename over", env_->Rename(P("b"), P("a")), 0},
      {"delete closed", env_->Delete(P("c")), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  EXPECT_EQ(Contents("a"), "two");
  char buf[8];
  size_t got = 0;
  ASSERT_EQ(held->ReadAt(0, buf, sizeof buf, got), 0);
  EXPECT_EQ(std::string(buf, got), "one");  // the handle keeps the file it opened
  EXPECT_EQ(held->WriteAt(0, "x", 1), 6);
  EXPECT_EQ(held->Truncate(0), 31);
  ASSERT_EQ(held->Close(), 0);
  uint64_t size = 0;
  for (uint16_t code :
       {held->Close(), held->ReadAt(0, buf, 1, got), held->Size(size), held->Lock(0, 1), held->Sync()}) {
    EXPECT_EQ(code, 6);
  }
  EXPECT_EQ(Open("a", kWrite | kDenyAll)->ReadAt(0, buf, 1, got), 6);
  std::vector<std::string> names = env_->ListDir(dir_);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a"}));
}

INSTANTIATE_TEST_SUITE_P(Envs, EnvContractTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Memory" : "Posix"; });

TEST(MemEnvTest, PermissionsCapacityAndLifetime) {
  std::unique_ptr<File> f;
  {
    MemEnv env(DefaultEnv(), 100);
    ASSERT_EQ(env.Put("/m/ro", "x"), 0);
    env.SetReadOnly("/m/ro", true);
    EXPECT_TRUE(env.IsReadOnly("/m/ro"));
    EXPECT_TRUE(env.IsReadOnly("/m/missing"));
    EXPECT_EQ(env.Open("/m/ro", kRw, Disposition::kOpenExisting, f), 5);
    EXPECT_EQ(env.CopyFile("/m/ro", "/m/copy"), 0);
    EXPECT_TRUE(env.IsReadOnly("/m/copy"));
    EXPECT_EQ(env.CopyFile("/m/ro", "/m/copy"), 5);
    EXPECT_EQ(env.Open("/m/./sub/../ro", kRead | kDenyNone, Disposition::kOpenExisting, f), 0);
    for (const char* alias : {"/m//ro", "/../m/x/../ro", "//m/./ro"}) EXPECT_TRUE(env.Exists(alias)) << alias;
    for (const char* other : {"/m/.ro", "/m/..ro", "/m/ro.", "/m/r", "/m/ro/x"})
      EXPECT_FALSE(env.Exists(other)) << other;

    ASSERT_EQ(env.Open("/m/big", kRw, Disposition::kCreateNew, f), 0);
    const std::string block(99, 'b');
    EXPECT_EQ(f->WriteAt(0, block.data(), block.size()), 101);  // 2 bytes already used
    EXPECT_EQ(f->WriteAt(0, block.data(), 40), 0);
    EXPECT_EQ(env.BytesUsed(), 42u);
    std::string temp;
    ASSERT_EQ(env.TempFile(temp), 0);
    EXPECT_TRUE(env.Exists(temp));
    EXPECT_FALSE(DefaultEnv()->Exists(temp));
  }
  // A handle outlives its Env.
  uint64_t size = 0;
  EXPECT_EQ(f->Size(size), 0);
  EXPECT_EQ(size, 40u);
}

class MemEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnv(&env_);
    StartEngine();
    SetRaiseErrors(true);
  }
  void TearDown() override {
    StopEngine();
    SetEnv(nullptr);
  }
  MemEnv env_;
};

// The engine, unchanged, on memory files in a folder that does not exist
// on disk.
TEST_F(MemEngineTest, CreatesEditsPacksAndReopensATableWithMemos) {
  const std::string table = "/ov-mem-engine/T.DBF";
  DbfFile dbf;
  const std::vector<FieldDef> defs = {{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}};
  CreateDbf(dbf, table, defs);
  USE(table + " EXCLUSIVE");
  const std::vector<std::string> notes = {"first memo", std::string(900, 'n'), "third"};
  for (size_t i = 0; i < notes.size(); ++i) {
    ClearRecord();
    SetFieldText(1, "name" + std::to_string(i));
    SetFieldNumber(2, AddMemo(notes[i]));
    Append();
  }
  GO(2);
  SetFieldNumber(2, StoreMemoText(*CurrentArea(), "replaced", static_cast<int32_t>(GetFieldNumber(2)), "test"));
  Replace();
  PackMemofile();
  CloseArea();

  USE(table);  // shared: record locks go through the memory files
  ASSERT_EQ(RecCount(), 3);
  EXPECT_TRUE(RLock());
  for (int32_t n = 1; n <= 3; ++n) {
    GO(n);
    EXPECT_EQ(GetFieldText(1), "name" + std::to_string(n - 1) + "     ");
    const std::string want = n == 2 ? "replaced" : notes[static_cast<size_t>(n - 1)];
    EXPECT_EQ(LoadMemoText(*CurrentArea(), static_cast<int32_t>(GetFieldNumber(2)), "test"), want);
  }
  CloseArea();
  std::vector<std::string> names = env_.ListDir("/ov-mem-engine");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"T.DBF", "T.DBT"}));
  EXPECT_FALSE(DefaultEnv()->Exists("/ov-mem-engine"));
}

}  // namespace
}  // namespace ov
