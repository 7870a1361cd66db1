// Shared fixtures of the engine tests: a fresh engine state per case, a
// private scratch folder, and a fault-injecting platform layer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "engine/support/platform.h"

namespace ov::test {

// Platform layer that breaks on request. Counters are per instance; every
// fault is off until a test arms it.
class FaultEnv : public EnvWrapper {
 public:
  FaultEnv() : EnvWrapper(DefaultEnv()) {}

  // Clock: a fixed local date, so header dates are checkable to the byte.
  void SetToday(int y, int m, int d) {
    today_ = LocalDate{y, m, d, 0};
    fixed_today_ = true;
  }
  // The n-th write from now (1-based) writes half its bytes and fails 101.
  void FailWriteAfter(int n) { writes_until_fail_ = n; }
  // Reads return at most half of what was asked, from the n-th read on.
  void ShortReadsFrom(int n) { reads_until_short_ = n; }
  void RefuseLocks(bool on) { refuse_locks_ = on; }
  void FailOpens(uint16_t code) { open_code_ = code; }
  void FailSyncs(bool on) { fail_sync_ = on; }
  // A counterfeit monotonic clock: sleeping returns at once and moves it
  // on by the time asked for, so bounded waits run out without waiting.
  void FakeClock(bool on) { fake_clock_ = on; }

  int writes_until_fail_ = 0;
  int failed_writes_ = 0;  // writes failed so far
  int reads_until_short_ = 0;
  bool refuse_locks_ = false;
  bool fail_sync_ = false;
  uint16_t open_code_ = 0;
  int syncs_ = 0;  // Sync calls that reached the files
  bool fake_clock_ = false;
  uint64_t clock_ms_ = 0;  // the counterfeit clock

  uint16_t Open(const std::string& p, uint16_t m, Disposition d, std::unique_ptr<File>& out) override;
  LocalDate Today() override;
  uint64_t TickCountMs() override { return fake_clock_ ? clock_ms_ : target()->TickCountMs(); }
  void SleepMs(uint32_t ms) override {
    if (fake_clock_)
      clock_ms_ += ms;
    else
      target()->SleepMs(ms);
  }

 private:
  LocalDate today_{};
  bool fixed_today_ = false;
};

// Engine started fresh for every case, errors raised as exceptions, in a
// private temporary folder (removed afterwards).
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }

  FaultEnv env_;
  std::string dir_;
};

// Runs `hold` in a forked child, which keeps what it took (open files,
// locks) until Release; then runs `release` and exits with its status.
// The child leaves with _exit, so no test teardown runs twice.
class ChildHolder {
 public:
  explicit ChildHolder(
      std::function<bool()> hold, std::function<int()> release = [] { return 0; });
  ~ChildHolder() { Release(); }
  ChildHolder(const ChildHolder&) = delete;
  ChildHolder& operator=(const ChildHolder&) = delete;

  // Whether the child got what it was to hold.
  bool ready() const { return ready_; }
  // Lets the child go and answers its exit status.
  int Release();

 private:
  int to_child_[2] = {-1, -1};
  int to_parent_[2] = {-1, -1};
  int pid_ = -1;
  bool ready_ = false;
};

std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);
std::string FixturesDir();
// Runs a command, returns its exit status; output goes to `out` when given.
int RunCommand(const std::string& cmd, std::string* out = nullptr);
bool HaveCommand(const std::string& probe);
// Reads a table with the independent readers (tests/oracle/dump_table.py;
// `peer` is dbfread, xbase, pydbf or all) and answers the exit status, with
// the messages and then the JSON in `out`. A reader that is not installed
// gives a non-zero status: the set-up installs them, so a test fails on it.
int ReadWithPeers(const std::string& table, const std::string& peer, std::string* out);

}  // namespace ov::test
