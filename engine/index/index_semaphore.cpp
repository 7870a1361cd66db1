#include "engine/index/index_semaphore.h"

#include <algorithm>
#include <optional>
#include <string>

#include "engine/dbf/dbf4.h"
#include "engine/index/index_engine.h"
#include "engine/support/coding.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

constexpr uint64_t kRegionOffset = 1;
constexpr uint64_t kRegionLength = 4;
// Past the record: held shared by every logged-in area and every counted
// reader, so that counts nobody holds can be told from live ones.
constexpr uint64_t kUserByte = 16;
constexpr uint64_t kReaderByte = 17;
constexpr size_t kRecordSize = 4;
constexpr uint8_t kMaxCount = 127;
constexpr int kLastArea = 35;
// Between two attempts at a lock or two looks at the readers.
constexpr uint32_t kPauseMs = 2;

// Without network mode nothing is locked, and lock-based liveness cannot
// be told: the counts in the file are all there is.
bool Networked() { return AreaConfig().MultiUser; }

uint64_t Now() { return CurrentEnv()->TickCountMs(); }

bool IsInUseCode(uint16_t code) {
  return code == 3 || code == 5 || code == 32 || code == 150 || code == 162 || code == 163;
}

}  // namespace

const char* SemaActionName(SemaAction action) {
  switch (action) {
    case SemaAction::kLogin: return "LOGIN";
    case SemaAction::kLogout: return "LOGOUT";
    case SemaAction::kIncRead: return "INCREAD";
    case SemaAction::kDecRead: return "DECREAD";
    case SemaAction::kLockSemaphore: return "LOCKSEMAPHORE";
    case SemaAction::kUnlockSemaphore: return "UNLOCKSEMAPHORE";
  }
  return "";
}

SemaphoreSettings& SemaphoreConfig() { return IndexEngine().semaphore; }

std::string SemaphoreFileName(const std::string& table_path) {
  const std::string own = ForceExt(table_path, "@S@");
  const std::string& dir = SemaphoreConfig().directory;
  if (dir.empty()) return own;
  return dir + (dir.back() == '/' ? "" : "/") + BareName(own);
}

IndexSemaphore::IndexSemaphore(WorkArea& area)
    : area_(area), exclusive_(area.exclusive), name_(SemaphoreFileName(area.table.path)) {}

bool IndexSemaphore::Handle(SemaAction action) {
  if (exclusive_) return true;
  if (area_.number < 1 || area_.number > kLastArea) {
    return Report(err::kInternal, "Work area [" + std::to_string(area_.number) + " ] out of range. [HandleSemafore]");
  }
  if (action != SemaAction::kLogin && !file_) return true;
  action_ = action;
  switch (action) {
    case SemaAction::kLogin: return Login();
    case SemaAction::kLogout: return Logout();
    case SemaAction::kIncRead:
    case SemaAction::kDecRead: return CountRead(action == SemaAction::kIncRead);
    case SemaAction::kLockSemaphore: return LockForWriter();
    case SemaAction::kUnlockSemaphore: return UnlockForWriter();
  }
  return true;
}

// The nesting count changes only once the action succeeded: a report may
// raise out of it.
bool IndexSemaphore::Nest(int& nesting, bool enter, SemaAction first, SemaAction last, const char* proc) {
  if (enter) {
    if (nesting == 0 && !Handle(first)) return false;
    ++nesting;
    return true;
  }
  if (nesting == 0) return Report(err::kInternal, std::string("Non-symmetrical Lock-Unlock [") + proc + "]");
  return --nesting > 0 || Handle(last);
}

bool IndexSemaphore::Read(bool enter) {
  return Nest(read_nesting_, enter, SemaAction::kIncRead, SemaAction::kDecRead, "SetReadSemaphoreProc");
}

bool IndexSemaphore::Lock(bool enter) {
  return Nest(lock_nesting_, enter, SemaAction::kLockSemaphore, SemaAction::kUnlockSemaphore, "SetLockSemaphoreProc");
}

bool IndexSemaphore::CounterMoved() {
  if (!file_ || record_.counter == counter_) return false;
  counter_ = record_.counter;
  return true;
}

// ---- The actions ----

bool IndexSemaphore::Login() {
  if (file_) return true;
  if (MemoryAvailable() < 350) return Report(err::kNoMemory, "Memory needed=349 [Set_Index_To]");
  name_ = SemaphoreFileName(area_.table.path);
  if (!LockTable()) return false;
  if (!CreateOrOpen() || !LockRegionWithTable()) return false;
  if (!created_) {
    if (const uint16_t code = ReadRecord(); code != 0) return Abort(code, Named("Cannot read: "));
  }
  record_.users = static_cast<uint8_t>(std::min<int>(record_.users + 1, kMaxCount));
  users_ = record_.users;
  if (!LockWithRetry(kUserByte, 1, true)) return false;
  if (const uint16_t code = WriteRecord(); code != 0) return Abort(code, Named("Cannot write to: "));
  counter_ = record_.counter;
  if (!UnlockRegion()) return false;
  UnlockTable();
  return true;
}

bool IndexSemaphore::Logout() {
  if (!LockRegionWithTable()) return false;
  if (const uint16_t code = ReadRecord(); code != 0) return Abort(code, Named("Cannot read: "));
  if (read_counted_ && record_.readers > 0) --record_.readers;
  if (record_.users > 0) --record_.users;
  // The last living user: whatever else is counted belongs to the dead.
  if (Networked() && !OthersHold(kUserByte, true)) record_.users = record_.readers = 0;
  if (const uint16_t code = WriteRecord(); code != 0) return Abort(code, Named("Cannot write to: "));
  const bool last = record_.users == 0;
  Forget();  // closing the file drops its region, user and reader locks
  // Another process that still holds the file open refuses the delete; it
  // logs out later.
  if (last) (void)CurrentEnv()->Delete(ResolveName(name_));
  UnlockTable();
  return true;
}

bool IndexSemaphore::CountRead(bool enter) {
  // The writer holds the region: its reads need no counting.
  if (region_held_ || read_counted_ == enter) return true;
  if (!LockWithRetry(kRegionOffset, kRegionLength, false)) return false;
  region_held_ = true;
  if (const uint16_t code = ReadRecord(); code != 0) return Abort(code, Named("Cannot read: "));
  if (enter) {
    record_.readers = static_cast<uint8_t>(std::min<int>(record_.readers + 1, kMaxCount));
    if (!LockWithRetry(kReaderByte, 1, true)) return false;
  } else if (record_.readers > 0) {
    --record_.readers;
  }
  if (const uint16_t code = WriteRecord(); code != 0) {
    if (enter) (void)file_->Unlock(kReaderByte, 1);
    return Abort(code, Named("Cannot write to: "));
  }
  if (!enter) (void)file_->Unlock(kReaderByte, 1);
  read_counted_ = enter;
  return UnlockRegion();
}

bool IndexSemaphore::LockForWriter() {
  if (++writer_depth_ > 1 || region_held_) return true;
  const uint32_t limit_s = SemaphoreConfig().wait_limit_s;
  const uint64_t start = Now();
  auto out_of_time = [&] { return limit_s != 0 && Now() - start > uint64_t{limit_s} * 1000; };
  const int own = read_counted_ ? 1 : 0;
  for (;;) {
    if (ReadRecord() != 0) {
      if (out_of_time()) return WaitTimeout();
      CurrentEnv()->SleepMs(kPauseMs);
      continue;
    }
    if (!LockWithRetry(kRegionOffset, kRegionLength, false)) return false;
    region_held_ = true;
    if (const uint16_t code = ReadRecord(); code != 0) return Abort(code, Named("Cannot read: "));
    // Readers counted while nobody else holds the reader byte died reading.
    if (record_.readers <= own || (Networked() && !OthersHold(kReaderByte, read_counted_))) break;
    UnlockRegionQuietly();
    if (out_of_time()) return WaitTimeout();
    CurrentEnv()->SleepMs(kPauseMs);
  }
  record_.readers = static_cast<uint8_t>(own + 1);
  if (const uint16_t code = WriteRecord(); code != 0) return Abort(code, Named("Cannot write to: "));
  return true;
}

bool IndexSemaphore::UnlockForWriter() {
  if (--writer_depth_ < 0) {
    writer_depth_ = 0;
    UnlockRegionQuietly();
    return Report(err::kInternal, Named("Unbalanced Lock/Unlock for semaphore file: "));
  }
  if (writer_depth_ > 0 || !region_held_) return true;
  if (const uint16_t code = ReadRecord(); code != 0) return Abort(code, Named("Cannot read: "));
  ++record_.counter;
  record_.readers = read_counted_ ? 1 : 0;
  if (const uint16_t code = WriteRecord(); code != 0) return Abort(code, Named("Cannot write to: "));
  counter_ = record_.counter;
  return UnlockRegion();
}

// ---- Steps ----

bool IndexSemaphore::Report(uint16_t code, const std::string& text) {
  ReportError(code, text);
  return false;
}

// Lets go of whatever the failing action took, then reports: a report may
// raise, and nothing after it would run.
bool IndexSemaphore::Abort(uint16_t code, const std::string& text) {
  if (action_ == SemaAction::kLockSemaphore) writer_depth_ = 0;
  UnlockRegionQuietly();
  if (action_ == SemaAction::kLogin) Forget();
  UnlockTable();
  return Report(code, text);
}

std::string IndexSemaphore::Named(const char* what) const { return what + name_ + " " + SemaActionName(action_); }

bool IndexSemaphore::WaitTimeout() {
  return Abort(err::kSemaphore,
               std::to_string(SemaphoreConfig().wait_limit_s) + " second timeout, cannot read: " + name_ + "\r\n" +
                   "Possible cause: Other user's program has terminated abnormally." + "\r\n" +
                   "Cure: Log all users of this application off the network," + "\r\n" + "then delete " + name_);
}

uint16_t IndexSemaphore::ReadRecord() {
  uint8_t b[kRecordSize] = {};
  size_t got = 0;
  const uint16_t code = file_->ReadAt(0, b, kRecordSize, got);
  if (code != 0) return code;
  if (got < kRecordSize) return err::kDiskRead;
  record_ = Record{b[0], b[1], GetLe16(b + 2)};
  return 0;
}

uint16_t IndexSemaphore::WriteRecord() {
  uint8_t b[kRecordSize] = {record_.users, record_.readers, 0, 0};
  PutLe16(b + 2, record_.counter);
  return file_->WriteAt(0, b, kRecordSize);
}

// Tries on the clock rather than by a count of attempts, so the wait is
// the same on any processor.
bool IndexSemaphore::LockWithRetry(uint64_t offset, uint64_t len, bool shared) {
  const uint64_t deadline = Now() + SemaphoreConfig().region_retry_ms;
  for (;;) {
    const uint16_t code = !Networked() ? 0 : shared ? file_->LockShared(offset, len) : file_->Lock(offset, len);
    if (code == 0) return true;
    if (Now() >= deadline) return RegionTimeout(code);
    CurrentEnv()->SleepMs(kPauseMs);
  }
}

bool IndexSemaphore::RegionTimeout(uint16_t code) {
  return Abort(err::kSemaphore, "10 second timeout: Cannot lock index semaphore file: " + name_ + " " +
                                    SemaActionName(action_) + "\r\nPossible cause: Network lock limit exceeded\r\n" +
                                    " Lock result code: " + std::to_string(code));
}

bool IndexSemaphore::UnlockRegion() {
  if (!region_held_) return true;
  region_held_ = false;
  const uint16_t code = Networked() ? file_->Unlock(kRegionOffset, kRegionLength) : 0;
  if (code == 0) return true;
  return Abort(code, Named("Cannot unlock index semaphore file: "));
}

void IndexSemaphore::UnlockRegionQuietly() {
  if (region_held_ && file_ && Networked()) (void)file_->Unlock(kRegionOffset, kRegionLength);
  region_held_ = false;
}

uint16_t IndexSemaphore::TryTable() {
  if (table_lock_ || area_.table.header_locked) return 0;
  const std::optional<uint32_t> at = HeaderLockByte();
  if (!at) return 0;
  if (!area_.table.file) return 6;
  const uint16_t code = area_.table.file->Lock(*at, 1);
  if (code == 0) table_lock_ = at;
  return code;
}

bool IndexSemaphore::TableTimeout() {
  return Abort(err::kSemaphore,
               "Cannot lock database for: " + name_ + " Action=" + SemaActionName(action_) + " [Database Semaphore]");
}

bool IndexSemaphore::LockTable() {
  const uint64_t deadline = Now() + SemaphoreConfig().region_retry_ms;
  while (TryTable() != 0) {
    if (Now() >= deadline) return TableTimeout();
    CurrentEnv()->SleepMs(kPauseMs);
  }
  return true;
}

// Log-in and log-out hold the table's lock, then the region. They never
// wait for the region while holding the table's lock: a writer holding
// the region may need the table's header byte to finish an append.
bool IndexSemaphore::LockRegionWithTable() {
  const uint64_t deadline = Now() + SemaphoreConfig().region_retry_ms;
  for (;;) {
    uint16_t code = TryTable();
    const bool table_refused = code != 0;
    if (!table_refused) {
      code = Networked() ? file_->Lock(kRegionOffset, kRegionLength) : 0;
      if (code == 0) {
        region_held_ = true;
        return true;
      }
      UnlockTable();
    }
    if (Now() >= deadline) return table_refused ? TableTimeout() : RegionTimeout(code);
    CurrentEnv()->SleepMs(kPauseMs);
  }
}

void IndexSemaphore::UnlockTable() {
  if (table_lock_ && area_.table.file) (void)area_.table.file->Unlock(*table_lock_, 1);
  table_lock_.reset();
}

// A new file starts with a zero record, is closed and opened again shared;
// one that exists is open elsewhere (the deny-write create is refused) and
// is opened shared. A file left behind by processes that all ended is
// nobody's: the create takes it over and starts it afresh.
bool IndexSemaphore::CreateOrOpen() {
  std::unique_ptr<File> fresh;
  const uint16_t code = OpenResolved(name_, fmode::kReadWrite | fmode::kDenyWrite, Disposition::kCreateTruncate, fresh);
  created_ = code == 0;
  const std::string suffix = " Action=" + std::string(SemaActionName(action_)) + " [Database Semaphore]";
  if (created_) {
    record_ = Record{};
    counter_ = 0;
    const uint8_t zero[kRecordSize] = {};
    if (const uint16_t wcode = fresh->WriteAt(0, zero, kRecordSize); wcode != 0) {
      return Abort(wcode, "Cannot write to: " + name_ + suffix);
    }
    (void)fresh->Close();
  } else if (!IsInUseCode(code)) {
    return Abort(code, Named("Cannot open/create: "));
  }
  const uint16_t ocode = OpenResolved(name_, fmode::kReadWrite | fmode::kDenyNone, Disposition::kOpenExisting, file_);
  if (ocode != 0) return Abort(ocode, created_ ? "Cannot open: " + name_ + suffix : Named("Cannot open: "));
  return true;
}

// Whether another handle holds `byte`: an exclusive lock on it is refused
// then. Ours, when `keep_shared`, is shared again afterwards.
bool IndexSemaphore::OthersHold(uint64_t byte, bool keep_shared) {
  if (file_->Lock(byte, 1) != 0) return true;
  (void)(keep_shared ? file_->LockShared(byte, 1) : file_->Unlock(byte, 1));
  return false;
}

void IndexSemaphore::Forget() {
  file_.reset();
  record_ = Record{};
  region_held_ = read_counted_ = false;
  read_nesting_ = lock_nesting_ = writer_depth_ = 0;
}

}  // namespace ov
