// POSIX implementation of the platform layer.
//
// Sharing modes are emulated with an open-file-description lock on one
// reserved byte far above every data and lock region: deny-none openers take
// a read lock there, every other sharing mode a write lock (a read lock when
// the descriptor is read-only). OFD locks belong to the descriptor, so two
// opens of one file in this process conflict exactly as two handles would,
// and closing one descriptor never drops another's locks. Byte-range locks
// of a read-only descriptor are read locks that stand alone (SoleReadLock).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "engine/support/ascii.h"
#include "engine/support/platform.h"

namespace ov {

namespace {

constexpr off_t kShareByte = static_cast<off_t>(0x7FFF000000000000LL);

uint16_t OfdLock(int fd, short type, uint64_t offset, uint64_t len) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(len);
  if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return 0;
  if (errno == EAGAIN || errno == EACCES) return 33;
  return MapErrno(errno);
}

// A read-only descriptor cannot take a write lock. It takes a read lock,
// which already keeps every write-lock holder out, and keeps it only when no
// other descriptor holds any lock on the region: of two read-only openers
// racing for one region the later one always sees the earlier and backs off,
// so the region never has two holders. (Both may back off: a busy answer a
// retry settles.)
uint16_t SoleReadLock(int fd, uint64_t offset, uint64_t len) {
  if (const uint16_t code = OfdLock(fd, F_RDLCK, offset, len); code != 0) return code;
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = static_cast<off_t>(offset);
  probe.l_len = static_cast<off_t>(len);
  const uint16_t code = fcntl(fd, F_OFD_GETLK, &probe) != 0 ? MapErrno(errno) : (probe.l_type == F_UNLCK ? 0 : 33);
  if (code != 0) (void)OfdLock(fd, F_UNLCK, offset, len);
  return code;
}

class PosixFile final : public File {
 public:
  PosixFile(int fd, bool writable) : fd_(fd), writable_(writable) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  uint16_t ReadAt(uint64_t offset, void* buf, size_t n, size_t& got) override {
    got = 0;
    auto* p = static_cast<char*>(buf);
    while (got < n) {
      ssize_t r = ::pread(fd_, p + got, n - got, static_cast<off_t>(offset + got));
      if (r < 0) {
        if (errno == EINTR) continue;
        return errno == EIO ? 30 : MapErrno(errno);
      }
      if (r == 0) break;
      got += static_cast<size_t>(r);
    }
    return 0;
  }

  uint16_t WriteAt(uint64_t offset, const void* buf, size_t n) override {
    const auto* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < n) {
      ssize_t w = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return errno == EIO ? 29 : MapErrno(errno);
      }
      if (w == 0) return 101;
      done += static_cast<size_t>(w);
    }
    return 0;
  }

  uint16_t Size(uint64_t& size) override {
    struct stat st {};
    if (fstat(fd_, &st) != 0) return MapErrno(errno);
    size = static_cast<uint64_t>(st.st_size);
    return 0;
  }

  uint16_t Truncate(uint64_t size) override {
    return ftruncate(fd_, static_cast<off_t>(size)) == 0 ? 0 : MapErrno(errno);
  }

  uint16_t Sync() override { return fsync(fd_) == 0 ? 0 : MapErrno(errno); }

  uint16_t Lock(uint64_t offset, uint64_t len) override {
    return writable_ ? OfdLock(fd_, F_WRLCK, offset, len) : SoleReadLock(fd_, offset, len);
  }
  uint16_t LockShared(uint64_t offset, uint64_t len) override { return OfdLock(fd_, F_RDLCK, offset, len); }
  uint16_t Unlock(uint64_t offset, uint64_t len) override { return OfdLock(fd_, F_UNLCK, offset, len); }

  uint16_t Close() override {
    if (fd_ < 0) return 6;
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : MapErrno(errno);
  }

 private:
  int fd_;
  bool writable_;
};

class PosixEnv final : public Env {
 public:
  uint16_t Open(const std::string& path, uint16_t mode, Disposition disp, std::unique_ptr<File>& out) override {
    out.reset();
    int flags = O_CLOEXEC;
    switch (mode & fmode::kAccessMask) {
      case fmode::kRead: flags |= O_RDONLY; break;
      case fmode::kWrite: flags |= O_WRONLY; break;
      default: flags |= O_RDWR; break;
    }
    if (disp != Disposition::kOpenExisting && (flags & O_ACCMODE) == O_RDONLY) {
      flags = (flags & ~O_ACCMODE) | O_RDWR;
    }
    if (disp == Disposition::kCreateNew) flags |= O_CREAT | O_EXCL;
    if (disp == Disposition::kCreateTruncate) flags |= O_CREAT;
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return MapErrno(errno);
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      return 5;
    }
    const bool writable = (flags & O_ACCMODE) != O_RDONLY;
    const bool deny_none = (mode & fmode::kShareMask) == fmode::kDenyNone;
    short type = (deny_none || !writable) ? F_RDLCK : F_WRLCK;
    if (OfdLock(fd, type, kShareByte, 1) != 0) {
      ::close(fd);
      return 32;
    }
    // Truncate only once the sharing check passed, so a refused create
    // never destroys another opener's data.
    if (disp == Disposition::kCreateTruncate && ftruncate(fd, 0) != 0) {
      uint16_t code = MapErrno(errno);
      ::close(fd);
      return code;
    }
    out = std::make_unique<PosixFile>(fd, writable);
    return 0;
  }

  uint16_t Delete(const std::string& path) override {
    // Windows refuses to delete a file that another handle holds open; the
    // sharing byte tells us whether anyone does.
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
      uint16_t lk = OfdLock(fd, F_WRLCK, kShareByte, 1);
      ::close(fd);
      if (lk != 0) return 32;
    }
    if (::unlink(path.c_str()) != 0) return MapErrno(errno);
    return 0;
  }

  uint16_t Rename(const std::string& from, const std::string& to) override {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : MapErrno(errno);
  }

  // Copies by hand: the library's copy reports a full disk as an I/O
  // fault, and a full disk must read as one (101).
  uint16_t CopyFile(const std::string& from, const std::string& to) override {
    const int in_fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in_fd < 0) return MapErrno(errno);
    PosixFile in(in_fd, false);
    struct stat st {};
    if (fstat(in_fd, &st) != 0) return MapErrno(errno);
    if (S_ISDIR(st.st_mode)) return 5;
    struct stat target {};
    // Opening a file onto itself would truncate the source.
    if (::stat(to.c_str(), &target) == 0 && target.st_dev == st.st_dev && target.st_ino == st.st_ino) return 32;
    const int out_fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777);
    if (out_fd < 0) return MapErrno(errno);
    PosixFile out(out_fd, true);
    std::vector<char> buf(size_t{1} << 16);
    for (uint64_t pos = 0;;) {
      size_t got = 0;
      if (const uint16_t code = in.ReadAt(pos, buf.data(), buf.size(), got); code != 0) return code;
      if (got == 0) return out.Close();
      if (const uint16_t code = out.WriteAt(pos, buf.data(), got); code != 0) return code;
      pos += got;
    }
  }

  bool Exists(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }

  bool IsReadOnly(const std::string& path) override { return ::access(path.c_str(), W_OK) != 0; }

  std::vector<std::string> ListDir(const std::string& dir) override {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) return names;
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      std::string full = (dir.empty() ? std::string(".") : dir) + "/" + n;
      struct stat st {};
      if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(n);
    }
    ::closedir(d);
    return names;
  }

  uint32_t FreeSpaceKB(const std::string& path) override {
    struct statvfs vs {};
    if (::statvfs(path.empty() ? "." : path.c_str(), &vs) != 0) return 0xFFFFFFFFu;
    uint64_t kb = static_cast<uint64_t>(vs.f_bavail) * vs.f_frsize / 1024;
    return kb > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(kb);
  }

  uint16_t TempFile(std::string& name) override {
    const char* t = std::getenv("TMPDIR");
    std::string dir = (t != nullptr && *t != '\0') ? t : "/tmp";
    if (dir.back() != '/') dir += '/';
    std::string templ = dir + "OVPXXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    int fd = ::mkstemp(buf.data());
    if (fd < 0) return MapErrno(errno);
    ::close(fd);
    name = buf.data();
    return 0;
  }

  std::string CurrentDir() override {
    std::error_code ec;
    auto p = std::filesystem::current_path(ec);
    return ec ? std::string(".") : p.string();
  }

  LocalDate Today() override {
    time_t now = ::time(nullptr);
    struct tm tmv {};
    ::localtime_r(&now, &tmv);
    return LocalDate{tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_wday + 1};
  }

  uint64_t TickCountMs() override {
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
  }

  void SleepMs(uint32_t ms) override {
    struct timespec ts {};
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }

  std::string GetEnvVar(const std::string& name) override {
    const char* v = std::getenv(name.c_str());
    return v != nullptr ? v : "";
  }
};

Env* g_env = nullptr;

}  // namespace

uint16_t MapErrno(int err) {
  switch (err) {
    case 0: return 0;
    case ENOENT: return 2;
    case ENOTDIR: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM:
    case EISDIR: return 5;
    case EBADF: return 6;
    case ENOMEM: return 8;
    case EROFS: return 19;
    case EAGAIN: return 33;
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return 101;
    case EIO: return 30;
    default: return 31;
  }
}

Env* DefaultEnv() {
  static PosixEnv env;
  return &env;
}

Env* CurrentEnv() { return g_env != nullptr ? g_env : DefaultEnv(); }
void SetEnv(Env* env) { g_env = env; }

std::string ResolveName(const std::string& path) {
  Env* env = CurrentEnv();
  if (path.empty() || env->Exists(path)) return path;
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string found;
  for (const std::string& n : env->ListDir(slash == std::string::npos ? "" : (dir.empty() ? "/" : dir))) {
    if (EqualsIgnoringAsciiCase(n, base)) {
      if (!found.empty()) return path;  // ambiguous: keep the name as given
      found = n;
    }
  }
  if (found.empty()) return path;
  return slash == std::string::npos ? found : path.substr(0, slash + 1) + found;
}

uint16_t OpenResolved(const std::string& path, uint16_t mode, Disposition disp, std::unique_ptr<File>& out) {
  std::string p = disp == Disposition::kOpenExisting ? ResolveName(path) : path;
  if (disp == Disposition::kCreateTruncate) p = ResolveName(path);
  return CurrentEnv()->Open(p, mode, disp, out);
}

bool FileExistsResolved(const std::string& path) { return CurrentEnv()->Exists(ResolveName(path)); }

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace ov
