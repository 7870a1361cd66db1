// The one door between the engine and the operating system.
//
// Every file, lock, clock and locale access of the engine goes through an
// `Env`. The real implementation (`PosixEnv`) maps the engine's DOS-style
// access/sharing modes onto open(2) plus open-file-description locks; tests
// install a forwarding `Env` that injects faults (short reads, full disks,
// refused locks) without touching production code.
//
// Error results are the engine's file codes (DOS numbers): 0 success,
// 2 not found, 5 access denied, 32 sharing violation, 33 lock violation,
// 100 short read, 101 short write / disk full, 29/30 device faults,
// 31 anything else. `MapErrno` is the one place that translates errno.
//
// Single-threaded, process-wide state: the current Env is a process global.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ov {

// File-access mode values as the engine passes them around: the low bits
// choose access, the 0x70 bits the sharing granted to other openers.
namespace fmode {
inline constexpr uint16_t kRead = 0x00;
inline constexpr uint16_t kWrite = 0x01;
inline constexpr uint16_t kReadWrite = 0x02;
inline constexpr uint16_t kCompat = 0x00;
inline constexpr uint16_t kDenyAll = 0x10;
inline constexpr uint16_t kDenyWrite = 0x20;
inline constexpr uint16_t kDenyRead = 0x30;
inline constexpr uint16_t kDenyNone = 0x40;
inline constexpr uint16_t kAccessMask = 0x03;
inline constexpr uint16_t kShareMask = 0x70;
}  // namespace fmode

// How an open treats a missing or existing file.
enum class Disposition { kOpenExisting, kCreateTruncate, kCreateNew };

uint16_t MapErrno(int err);

// An open file. Closing happens in the destructor; `Close` reports its code.
class File {
 public:
  virtual ~File() = default;
  // Reads up to n bytes at offset; `got` receives the count. A short count
  // at end of file is not an error here: callers decide (code 100/213).
  [[nodiscard]] virtual uint16_t ReadAt(uint64_t offset, void* buf, size_t n, size_t& got) = 0;
  // Writes all n bytes or reports 101 (short write / disk full) or the
  // device code.
  [[nodiscard]] virtual uint16_t WriteAt(uint64_t offset, const void* buf, size_t n) = 0;
  [[nodiscard]] virtual uint16_t Size(uint64_t& size) = 0;
  [[nodiscard]] virtual uint16_t Truncate(uint64_t size) = 0;
  [[nodiscard]] virtual uint16_t Sync() = 0;
  // Non-blocking exclusive byte-range lock; a conflict answers 33.
  [[nodiscard]] virtual uint16_t Lock(uint64_t offset, uint64_t len) = 0;
  // Non-blocking shared byte-range lock: any number of handles may hold one
  // together; refused (33) while another handle holds the range
  // exclusively. A handle's own lock on the range changes kind in place.
  [[nodiscard]] virtual uint16_t LockShared(uint64_t offset, uint64_t len) = 0;
  [[nodiscard]] virtual uint16_t Unlock(uint64_t offset, uint64_t len) = 0;
  [[nodiscard]] virtual uint16_t Close() = 0;
};

struct LocalDate {
  int year = 0, month = 0, day = 0;
  int weekday = 0;  // 1 = Sunday .. 7 = Saturday
};

class Env {
 public:
  virtual ~Env() = default;

  // Opens `path` (already resolved) with a DOS-style access/sharing mode.
  [[nodiscard]] virtual uint16_t Open(const std::string& path, uint16_t mode, Disposition disp,
                                      std::unique_ptr<File>& out) = 0;
  [[nodiscard]] virtual uint16_t Delete(const std::string& path) = 0;
  [[nodiscard]] virtual uint16_t Rename(const std::string& from, const std::string& to) = 0;
  [[nodiscard]] virtual uint16_t CopyFile(const std::string& from, const std::string& to) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual bool IsReadOnly(const std::string& path) = 0;
  // Names of the regular files in `dir` (no directories, no "." entries).
  virtual std::vector<std::string> ListDir(const std::string& dir) = 0;
  // Free space of the file system holding `path`, in KiB; 0xFFFFFFFF when
  // it cannot be found out.
  virtual uint32_t FreeSpaceKB(const std::string& path) = 0;
  // Creates an empty, uniquely named file ("OVP" prefix) in the temporary
  // directory and returns its full name.
  [[nodiscard]] virtual uint16_t TempFile(std::string& name) = 0;
  virtual std::string CurrentDir() = 0;
  virtual LocalDate Today() = 0;
  virtual uint64_t TickCountMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
  // Value of an environment variable ("" when unset); locale detection only.
  virtual std::string GetEnvVar(const std::string& name) = 0;
};

// Forwards everything to a target; tests derive from it and override only
// what they want to break.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  uint16_t Open(const std::string& p, uint16_t m, Disposition d, std::unique_ptr<File>& out) override {
    return target_->Open(p, m, d, out);
  }
  uint16_t Delete(const std::string& p) override { return target_->Delete(p); }
  uint16_t Rename(const std::string& a, const std::string& b) override { return target_->Rename(a, b); }
  uint16_t CopyFile(const std::string& a, const std::string& b) override { return target_->CopyFile(a, b); }
  bool Exists(const std::string& p) override { return target_->Exists(p); }
  bool IsReadOnly(const std::string& p) override { return target_->IsReadOnly(p); }
  std::vector<std::string> ListDir(const std::string& d) override { return target_->ListDir(d); }
  uint32_t FreeSpaceKB(const std::string& p) override { return target_->FreeSpaceKB(p); }
  uint16_t TempFile(std::string& name) override { return target_->TempFile(name); }
  std::string CurrentDir() override { return target_->CurrentDir(); }
  LocalDate Today() override { return target_->Today(); }
  uint64_t TickCountMs() override { return target_->TickCountMs(); }
  void SleepMs(uint32_t ms) override { target_->SleepMs(ms); }
  std::string GetEnvVar(const std::string& n) override { return target_->GetEnvVar(n); }

 private:
  Env* target_;
};

// The real operating system.
Env* DefaultEnv();

// The Env the engine uses now; tests swap it (pass nullptr to restore).
Env* CurrentEnv();
void SetEnv(Env* env);

// Resolves a path the way a case-insensitive file system would: the exact
// name wins; otherwise the one entry of the directory that equals the last
// component ignoring ASCII case; otherwise the path unchanged.
std::string ResolveName(const std::string& path);

// Convenience wrappers over CurrentEnv() that resolve names first.
[[nodiscard]] uint16_t OpenResolved(const std::string& path, uint16_t mode, Disposition disp,
                                    std::unique_ptr<File>& out);
bool FileExistsResolved(const std::string& path);

// Whether the process's standard error is a terminal (progress bars are
// drawn only there).
bool StderrIsTerminal();

}  // namespace ov
