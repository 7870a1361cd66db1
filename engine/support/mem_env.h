// Files held in memory, for fuzzers and tests that need no disk.
//
// A `MemEnv` keeps whole files as byte strings under normalised absolute
// names (relative names are taken against the base Env's current
// directory). Directories are implicit: every directory may hold files and
// exists while it does. Open handles honour the sharing modes and
// byte-range locks between each other exactly as the POSIX layer does
// between descriptors, and answer the same codes (2 missing, 5 denied or a
// directory, 6 closed or wrong access, 32 sharing, 33 lock, 101 full).
// Renaming or overwriting a file that is open leaves the handle on the old
// contents, as an inode would. Clock, date, free space, environment and the
// names of temporary files come from the base Env.
//
// Single-threaded, like the engine. Handles may outlive the MemEnv.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/support/platform.h"

namespace ov {

namespace mem_env_detail {
struct Disk;
struct Node;
}  // namespace mem_env_detail

class MemEnv final : public EnvWrapper {
 public:
  // `capacity` bounds the bytes of all files together; writing past it
  // answers 101, as a full disk does.
  static constexpr uint64_t kDefaultCapacity = uint64_t{1} << 30;

  explicit MemEnv(Env* base = DefaultEnv(), uint64_t capacity = kDefaultCapacity);
  ~MemEnv() override;
  MemEnv(const MemEnv&) = delete;
  MemEnv& operator=(const MemEnv&) = delete;

  uint16_t Open(const std::string& path, uint16_t mode, Disposition disp, std::unique_ptr<File>& out) override;
  uint16_t Delete(const std::string& path) override;
  uint16_t Rename(const std::string& from, const std::string& to) override;
  uint16_t CopyFile(const std::string& from, const std::string& to) override;
  bool Exists(const std::string& path) override;
  bool IsReadOnly(const std::string& path) override;
  std::vector<std::string> ListDir(const std::string& dir) override;
  uint16_t TempFile(std::string& name) override;

  // Direct access for set-up and inspection, bypassing sharing modes.
  // `Put` creates or replaces the whole contents (101 past the capacity).
  [[nodiscard]] uint16_t Put(const std::string& path, const std::string& bytes);
  [[nodiscard]] uint16_t Put(const std::string& path, const uint8_t* data, size_t size);
  // False when there is no such file.
  bool Get(const std::string& path, std::string& bytes);
  // The counterpart of a file's write permission (missing files: no-op).
  void SetReadOnly(const std::string& path, bool read_only);
  // Forgets every file; open handles keep their contents.
  void Clear();
  uint64_t BytesUsed() const;

 private:
  std::string Normal(const std::string& path);
  std::shared_ptr<mem_env_detail::Node> Find(const std::string& key) const;
  bool IsDir(const std::string& key) const;
  // What a missing file answers: 5 for a directory, else 2.
  uint16_t NotAFile(const std::string& key) const;
  // 3 when a parent of `key` is a file, 5 when `key` is a directory, else 0.
  uint16_t CheckPlace(const std::string& key) const;

  std::shared_ptr<mem_env_detail::Disk> disk_;
  std::map<std::string, std::shared_ptr<mem_env_detail::Node>> files_;
};

}  // namespace ov
