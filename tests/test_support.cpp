#include "tests/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/engine.h"

namespace ov::test {

namespace {

class FaultFile final : public File {
 public:
  FaultFile(std::unique_ptr<File> inner, FaultEnv* env) : inner_(std::move(inner)), env_(env) {}

  uint16_t ReadAt(uint64_t off, void* buf, size_t n, size_t& got) override {
    if (env_->reads_until_short_ > 0 && --env_->reads_until_short_ == 0) {
      env_->reads_until_short_ = 1;  // stay short from now on
      return inner_->ReadAt(off, buf, n / 2, got);
    }
    return inner_->ReadAt(off, buf, n, got);
  }
  uint16_t WriteAt(uint64_t off, const void* buf, size_t n) override {
    if (env_->writes_until_fail_ > 0 && --env_->writes_until_fail_ == 0) {
      env_->writes_until_fail_ = 1;  // the disk stays full
      ++env_->failed_writes_;
      (void)inner_->WriteAt(off, buf, n / 2);
      return 101;
    }
    return inner_->WriteAt(off, buf, n);
  }
  uint16_t Size(uint64_t& s) override { return inner_->Size(s); }
  uint16_t Truncate(uint64_t s) override { return inner_->Truncate(s); }
  uint16_t Sync() override {
    ++env_->syncs_;
    return env_->fail_sync_ ? 29 : inner_->Sync();
  }
  uint16_t Lock(uint64_t o, uint64_t l) override { return env_->refuse_locks_ ? 33 : inner_->Lock(o, l); }
  uint16_t LockShared(uint64_t o, uint64_t l) override {
    return env_->refuse_locks_ ? 33 : inner_->LockShared(o, l);
  }
  uint16_t Unlock(uint64_t o, uint64_t l) override { return inner_->Unlock(o, l); }
  uint16_t Close() override { return inner_->Close(); }

 private:
  std::unique_ptr<File> inner_;
  FaultEnv* env_;
};

}  // namespace

uint16_t FaultEnv::Open(const std::string& p, uint16_t m, Disposition d, std::unique_ptr<File>& out) {
  if (open_code_ != 0) return open_code_;
  std::unique_ptr<File> inner;
  uint16_t code = target()->Open(p, m, d, inner);
  if (code == 0) out = std::make_unique<FaultFile>(std::move(inner), this);
  return code;
}

LocalDate FaultEnv::Today() { return fixed_today_ ? today_ : target()->Today(); }

void EngineTest::SetUp() {
  SetEnv(&env_);
  StartEngine();
  SetRaiseErrors(true);
  std::string templ = (std::filesystem::temp_directory_path() / "ovtestXXXXXX").string();
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  ASSERT_NE(mkdtemp(buf.data()), nullptr);
  dir_ = buf.data();
}

void EngineTest::TearDown() {
  StopEngine();
  SetEnv(nullptr);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

ChildHolder::ChildHolder(std::function<bool()> hold, std::function<int()> release) {
  if (pipe(to_child_) != 0 || pipe(to_parent_) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    close(to_child_[1]);
    close(to_parent_[0]);
    bool ok = false;
    try {
      ok = hold();
    } catch (...) {
    }
    const char reply = ok ? 'y' : 'n';
    (void)!write(to_parent_[1], &reply, 1);
    char go = 0;
    (void)!read(to_child_[0], &go, 1);
    int status = 3;
    try {
      if (ok) status = release();
    } catch (...) {
      status = 4;
    }
    _exit(status);
  }
  close(to_child_[0]);
  close(to_parent_[1]);
  char reply = 0;
  ready_ = pid_ > 0 && read(to_parent_[0], &reply, 1) == 1 && reply == 'y';
}

int ChildHolder::Release() {
  if (pid_ <= 0) return -1;
  const char go = 'x';
  (void)!write(to_child_[1], &go, 1);
  close(to_child_[1]);
  close(to_parent_[0]);
  int st = 0;
  waitpid(pid_, &st, 0);
  pid_ = -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string FixturesDir() { return std::string(OV_SOURCE_DIR) + "/tests/data/fixtures"; }

int RunCommand(const std::string& cmd, std::string* out) {
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
    if (out != nullptr) out->append(buf, n);
  }
  int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool HaveCommand(const std::string& probe) { return RunCommand(probe + " >/dev/null 2>&1") == 0; }

int ReadWithPeers(const std::string& table, const std::string& peer, std::string* out) {
  const std::string tool = std::string(OV_ORACLE_DIR) + "/dump_table.py";
  return RunCommand("/usr/bin/python3 '" + tool + "' '" + table + "' --peer " + peer + " 2>&1", out);
}

}  // namespace ov::test

#include "tests/dbf_test_util.h"

namespace ov::test {

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

DbfFile MakeTable(const std::string& name, const std::vector<FieldDef>& defs) {
  DbfFile dbf;
  CreateDbf(dbf, name, defs);
  dbf.path = name;
  OpenDbf(dbf);
  return dbf;
}

void SetRecord(DbfFile& dbf, const std::string& text) {
  dbf.record.assign(dbf.record_length, ' ');
  std::copy(text.begin(), text.begin() + std::min(text.size(), dbf.record.size()), dbf.record.begin());
}

std::string RecordText(const DbfFile& dbf) { return std::string(dbf.record.begin(), dbf.record.end()); }

}  // namespace ov::test
