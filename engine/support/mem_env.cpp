#include "engine/support/mem_env.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

namespace ov {

namespace mem_env_detail {

// Bytes in use against the capacity; shared with nodes, which may outlive
// the MemEnv through open handles.
struct Disk {
  uint64_t capacity = 0;
  uint64_t used = 0;
};

struct Range {
  const void* owner;
  uint64_t begin, end;  // end exclusive
  bool shared = false;
};

struct Sharer {
  const void* owner;
  bool exclusive;
};

// One file: what an inode is to the POSIX layer.
struct Node {
  explicit Node(std::shared_ptr<Disk> d) : disk(std::move(d)) {}
  ~Node() { disk->used -= bytes.size(); }
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  // 101 when the disk cannot hold the new size; the contents stay as they were.
  [[nodiscard]] uint16_t Resize(uint64_t size) {
    const uint64_t old = bytes.size();
    if (size > old && size - old > disk->capacity - disk->used) return 101;
    bytes.resize(static_cast<size_t>(size));
    disk->used = disk->used - old + size;
    return 0;
  }

  bool Shared(const void* owner) const {
    return std::any_of(sharers.begin(), sharers.end(), [&](const Sharer& s) { return s.owner != owner; });
  }

  void Release(const void* owner) {
    std::erase_if(sharers, [&](const Sharer& s) { return s.owner == owner; });
    std::erase_if(locks, [&](const Range& r) { return r.owner == owner; });
  }

  std::shared_ptr<Disk> disk;
  std::string bytes;
  bool read_only = false;
  std::vector<Sharer> sharers;
  std::vector<Range> locks;
};

}  // namespace mem_env_detail

namespace {

using mem_env_detail::Disk;
using mem_env_detail::Node;
using mem_env_detail::Range;

constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

bool Overlaps(const Range& r, uint64_t begin, uint64_t end) { return r.begin < end && begin < r.end; }

// The range a lock call covers; length 0 reaches to the end of every file,
// and ranges the POSIX layer cannot express are refused (its EINVAL, 31).
uint16_t LockRange(uint64_t offset, uint64_t len, uint64_t& end) {
  if (offset > kMaxOffset || (len > 0 && len - 1 > kMaxOffset - offset)) return 31;
  end = len == 0 ? UINT64_MAX : offset + len;
  return 0;
}

class MemFile final : public File {
 public:
  MemFile(std::shared_ptr<Node> node, bool readable, bool writable)
      : node_(std::move(node)), readable_(readable), writable_(writable) {}
  ~MemFile() override {
    if (node_) node_->Release(this);
  }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;

  uint16_t ReadAt(uint64_t offset, void* buf, size_t n, size_t& got) override {
    got = 0;
    if (!node_ || !readable_) return 6;
    const std::string& b = node_->bytes;
    if (offset < b.size()) got = static_cast<size_t>(std::min<uint64_t>(n, b.size() - offset));
    if (got > 0) std::memcpy(buf, b.data() + offset, got);
    return 0;
  }

  uint16_t WriteAt(uint64_t offset, const void* buf, size_t n) override {
    if (!node_ || !writable_) return 6;
    if (n == 0) return 0;
    if (offset > kMaxOffset || n > kMaxOffset - offset) return 101;
    if (offset + n > node_->bytes.size()) {
      if (const uint16_t code = node_->Resize(offset + n); code != 0) return code;
    }
    std::memcpy(node_->bytes.data() + offset, buf, n);
    return 0;
  }

  uint16_t Size(uint64_t& size) override {
    if (!node_) return 6;
    size = node_->bytes.size();
    return 0;
  }

  uint16_t Truncate(uint64_t size) override {
    if (!node_) return 6;
    if (!writable_) return 31;  // what ftruncate answers on a read-only descriptor
    return node_->Resize(size);
  }

  uint16_t Sync() override { return node_ ? 0 : 6; }

  // A read-only handle's read lock is only kept when it stands alone, so
  // either way a lock is refused when another handle holds any part.
  uint16_t Lock(uint64_t offset, uint64_t len) override { return Take(offset, len, false); }
  uint16_t LockShared(uint64_t offset, uint64_t len) override { return Take(offset, len, true); }

  uint16_t Unlock(uint64_t offset, uint64_t len) override {
    if (!node_) return 6;
    uint64_t end = 0;
    if (const uint16_t code = LockRange(offset, len, end); code != 0) return code;
    Drop(offset, end);
    return 0;
  }

  uint16_t Close() override {
    if (!node_) return 6;
    node_->Release(this);
    node_.reset();
    return 0;
  }

 private:
  // Shared locks of different handles overlap; anything else conflicts.
  // The handle's own locks in the range give way to the new one.
  uint16_t Take(uint64_t offset, uint64_t len, bool shared) {
    if (!node_) return 6;
    uint64_t end = 0;
    if (const uint16_t code = LockRange(offset, len, end); code != 0) return code;
    for (const Range& r : node_->locks) {
      if (r.owner != this && Overlaps(r, offset, end) && !(shared && r.shared)) return 33;
    }
    Drop(offset, end);
    node_->locks.push_back(Range{this, offset, end, shared});
    return 0;
  }

  // Removes this handle's locks from [offset, end), keeping the parts outside.
  void Drop(uint64_t offset, uint64_t end) {
    std::vector<Range> kept;
    for (const Range& r : node_->locks) {
      if (r.owner != this || !Overlaps(r, offset, end)) {
        kept.push_back(r);
        continue;
      }
      if (r.begin < offset) kept.push_back(Range{this, r.begin, offset, r.shared});
      if (end < r.end) kept.push_back(Range{this, end, r.end, r.shared});
    }
    node_->locks = std::move(kept);
  }

  std::shared_ptr<Node> node_;
  bool readable_;
  bool writable_;
};

// Absolute, without empty, "." or ".." parts: the engine's usual name.
bool IsNormal(const std::string& path) {
  if (path.empty() || path[0] != '/' || (path.size() > 1 && path.back() == '/')) return false;
  for (size_t at = path.find("/."); at != std::string::npos; at = path.find("/.", at + 1)) {
    const size_t next = at + 2;
    if (next == path.size() || path[next] == '/' ||
        (path[next] == '.' && (next + 1 == path.size() || path[next + 1] == '/'))) {
      return false;
    }
  }
  return path.find("//") == std::string::npos;
}

// "a//b/./c/../d/" -> "a/b/d"; keeps a leading "/", never climbs above it.
std::string Lexical(const std::string& path) {
  if (IsNormal(path)) return path;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(start, slash - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    start = slash + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

std::string Parent(const std::string& key) {
  const size_t slash = key.rfind('/');
  return slash == 0 ? "/" : key.substr(0, slash);
}

}  // namespace

MemEnv::MemEnv(Env* base, uint64_t capacity) : EnvWrapper(base), disk_(std::make_shared<Disk>()) {
  disk_->capacity = capacity;
}

MemEnv::~MemEnv() = default;

std::string MemEnv::Normal(const std::string& path) {
  if (path.empty()) return std::string();
  return Lexical(path[0] == '/' ? path : target()->CurrentDir() + "/" + path);
}

std::shared_ptr<Node> MemEnv::Find(const std::string& key) const {
  const auto it = files_.find(key);
  return it == files_.end() ? nullptr : it->second;
}

bool MemEnv::IsDir(const std::string& key) const {
  if (key.empty()) return false;
  if (key == "/") return true;
  const std::string prefix = key + "/";
  const auto it = files_.lower_bound(prefix);
  return it != files_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

uint16_t MemEnv::NotAFile(const std::string& key) const { return IsDir(key) ? 5 : 2; }

uint16_t MemEnv::CheckPlace(const std::string& key) const {
  if (IsDir(key)) return 5;
  for (std::string dir = Parent(key); dir != "/"; dir = Parent(dir)) {
    if (Find(dir)) return 3;
  }
  return 0;
}

uint16_t MemEnv::Open(const std::string& path, uint16_t mode, Disposition disp, std::unique_ptr<File>& out) {
  out.reset();
  const std::string key = Normal(path);
  if (key.empty()) return 2;
  uint16_t access = mode & fmode::kAccessMask;
  // Creating needs a writable handle, whatever access was asked for.
  if (disp != Disposition::kOpenExisting && access == fmode::kRead) access = fmode::kReadWrite;
  const bool writable = access != fmode::kRead;
  std::shared_ptr<Node> node = Find(key);
  if (node && disp == Disposition::kCreateNew) return 31;  // the POSIX layer's answer to EEXIST
  if (!node) {
    if (disp == Disposition::kCreateNew && IsDir(key)) return 31;
    if (const uint16_t code = CheckPlace(key); code != 0) return code;
    if (disp == Disposition::kOpenExisting) return 2;
    node = std::make_shared<Node>(disk_);
    files_[key] = node;
  } else if (writable && node->read_only) {
    return 5;
  }
  auto file = std::make_unique<MemFile>(node, access != fmode::kWrite, writable);
  const bool exclusive = writable && (mode & fmode::kShareMask) != fmode::kDenyNone;
  for (const auto& s : node->sharers) {
    if (exclusive || s.exclusive) return 32;
  }
  node->sharers.push_back({file.get(), exclusive});
  // Truncate only once the sharing check passed, so a refused create never
  // destroys another opener's data.
  if (disp == Disposition::kCreateTruncate) (void)node->Resize(0);
  out = std::move(file);
  return 0;
}

uint16_t MemEnv::Delete(const std::string& path) {
  const std::string key = Normal(path);
  const auto it = files_.find(key);
  if (it == files_.end()) return NotAFile(key);
  // As on Windows, a file another handle holds open stays.
  if (!it->second->sharers.empty()) return 32;
  files_.erase(it);
  return 0;
}

uint16_t MemEnv::Rename(const std::string& from, const std::string& to) {
  const std::string a = Normal(from);
  const std::string b = Normal(to);
  std::shared_ptr<Node> node = Find(a);
  if (!node) return NotAFile(a);
  if (b.empty()) return 2;
  if (a == b) return 0;
  if (const uint16_t code = CheckPlace(b); code != 0) return code;
  files_.erase(a);
  files_[b] = std::move(node);
  return 0;
}

uint16_t MemEnv::CopyFile(const std::string& from, const std::string& to) {
  const std::string a = Normal(from);
  const std::string b = Normal(to);
  std::shared_ptr<Node> src = Find(a);
  if (!src) return NotAFile(a);
  std::shared_ptr<Node> dst = Find(b);
  if (dst == src) return 32;  // copying onto itself would truncate the source
  if (!dst) {
    if (b.empty()) return 2;
    if (const uint16_t code = CheckPlace(b); code != 0) return code;
    dst = std::make_shared<Node>(disk_);
    dst->read_only = src->read_only;  // a new copy takes the source's permissions
    files_[b] = dst;
  } else if (dst->read_only) {
    return 5;
  }
  if (const uint16_t code = dst->Resize(src->bytes.size()); code != 0) return code;
  dst->bytes = src->bytes;
  return 0;
}

bool MemEnv::Exists(const std::string& path) {
  const std::string key = Normal(path);
  return files_.count(key) != 0 || IsDir(key);
}

bool MemEnv::IsReadOnly(const std::string& path) {
  const std::string key = Normal(path);
  const std::shared_ptr<Node> node = Find(key);
  if (node) return node->read_only;
  return !IsDir(key);  // a missing file cannot be written either
}

std::vector<std::string> MemEnv::ListDir(const std::string& dir) {
  const std::string key = Normal(dir.empty() ? "." : dir);
  const std::string prefix = key == "/" ? key : key + "/";
  std::vector<std::string> names;
  for (auto it = files_.lower_bound(prefix); it != files_.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    std::string rest = it->first.substr(prefix.size());
    if (rest.find('/') == std::string::npos) names.push_back(std::move(rest));
  }
  return names;
}

uint16_t MemEnv::TempFile(std::string& name) {
  // The base Env makes the name unique on disk; the file itself lives here.
  std::string real;
  if (const uint16_t code = target()->TempFile(real); code != 0) return code;
  (void)target()->Delete(real);
  std::unique_ptr<File> file;
  if (const uint16_t code = Open(real, fmode::kReadWrite | fmode::kDenyNone, Disposition::kCreateNew, file);
      code != 0) {
    return code;
  }
  name = real;
  return file->Close();
}

uint16_t MemEnv::Put(const std::string& path, const uint8_t* data, size_t size) {
  const std::string key = Normal(path);
  if (key.empty()) return 2;
  std::shared_ptr<Node> node = Find(key);
  if (!node) {
    if (const uint16_t code = CheckPlace(key); code != 0) return code;
    node = std::make_shared<Node>(disk_);
  }
  if (const uint16_t code = node->Resize(size); code != 0) return code;
  if (size > 0) std::memcpy(node->bytes.data(), data, size);
  files_[key] = std::move(node);
  return 0;
}

uint16_t MemEnv::Put(const std::string& path, const std::string& bytes) {
  return Put(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

bool MemEnv::Get(const std::string& path, std::string& bytes) {
  const std::shared_ptr<Node> node = Find(Normal(path));
  if (node) bytes = node->bytes;
  return node != nullptr;
}

void MemEnv::SetReadOnly(const std::string& path, bool read_only) {
  if (const std::shared_ptr<Node> node = Find(Normal(path))) node->read_only = read_only;
}

void MemEnv::Clear() { files_.clear(); }

uint64_t MemEnv::BytesUsed() const { return disk_->used; }

}  // namespace ov
