// The index semaphore file: several processes on one table's index.
//
// Beside each table whose index is open shared lies a small file (the
// table's name with the extension ".@S@", or the same name in the
// semaphore directory) of one 4-byte record:
//
//   | Offset | Width | Contents                                            |
//   |--------|-------|-----------------------------------------------------|
//   | 0      | 1     | users that have the table's index open (0..127)     |
//   | 1      | 1     | readers inside a read, +1 while a writer holds the  |
//   |        |       | lock (0..127)                                       |
//   | 2      | 2     | change counter, +1 per writer's unlock (wraps)      |
//
// Bytes 1..4 are the region lock: held for the moment of counting by a
// reader, for the whole update by a writer. A writer waits until no reader
// is counted, and its unlock moves the change counter, by which every
// other process learns to re-read its tag anchors.
//
// Processes that die leave their counts behind. Every logged-in work area
// therefore holds a shared lock on a user byte (16) and every counted
// reader one on a reader byte (17); open-file-description locks vanish with
// their process. A writer that sees readers counted while nobody holds the
// reader byte knows they are dead and goes ahead; a log-out that finds the
// user byte free of others is the last living user and deletes the file.
// These locks lie past the record, so the file stays four bytes.
//
// States of one work area: logged out --Login--> logged in (user counted)
// --Read(true)--> reading (reader counted) --Read(false)--> logged in;
// logged in --Lock(true)--> writing (region held) --Lock(false)--> logged in
// (counter + 1); --Logout--> logged out. A table opened exclusively never
// touches the file.
//
// Single-threaded, process-wide state: one IndexSemaphore per work area.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/support/platform.h"

namespace ov {

struct WorkArea;

// The actions of HandleSemafore; their names appear in messages.
enum class SemaAction { kLogin, kLogout, kIncRead, kDecRead, kLockSemaphore, kUnlockSemaphore };
const char* SemaActionName(SemaAction action);

struct SemaphoreSettings {
  // Where semaphore files go; "" = beside the table.
  std::string directory;
  // Seconds a writer waits for readers before it gives up; 0 = no limit.
  uint32_t wait_limit_s = 30;
  // How long the region and table locks are retried before giving up.
  uint32_t region_retry_ms = 10000;
};

// The process-wide settings (kept in the index engine's state).
SemaphoreSettings& SemaphoreConfig();

// The semaphore file of a table under the current settings.
std::string SemaphoreFileName(const std::string& table_path);

class IndexSemaphore {
 public:
  // Takes the area's table, number and exclusive flag as they are now; the
  // area must outlive the semaphore.
  explicit IndexSemaphore(WorkArea& area);
  IndexSemaphore(const IndexSemaphore&) = delete;
  IndexSemaphore& operator=(const IndexSemaphore&) = delete;

  // HandleSemafore. Failures are reported (ReportError) and answer false,
  // with the area's state as before the action.
  bool Handle(SemaAction action);
  // The read and lock nesting procedures: only the outermost pair acts.
  bool Read(bool enter);
  bool Lock(bool enter);
  // Whether another process changed the index since this area last looked
  // (the counter as last read differs from the remembered one); remembers
  // the new counter. The caller then re-reads its anchors. A writer's own
  // unlock is never seen here.
  bool CounterMoved();

  bool LoggedIn() const { return file_ != nullptr; }
  bool Writing() const { return region_held_; }
  uint16_t counter() const { return counter_; }
  const std::string& file_name() const { return name_; }

 private:
  struct Record {
    uint8_t users = 0, readers = 0;
    uint16_t counter = 0;
  };

  bool Nest(int& nesting, bool enter, SemaAction first, SemaAction last, const char* proc);
  bool Login();
  bool Logout();
  bool CountRead(bool enter);
  bool LockForWriter();
  bool UnlockForWriter();

  bool Report(uint16_t code, const std::string& text);
  bool Abort(uint16_t code, const std::string& text);
  std::string Named(const char* what) const;
  bool WaitTimeout();
  bool RegionTimeout(uint16_t code);
  bool TableTimeout();
  [[nodiscard]] uint16_t ReadRecord();
  [[nodiscard]] uint16_t WriteRecord();
  bool LockWithRetry(uint64_t offset, uint64_t len, bool shared);
  bool UnlockRegion();
  void UnlockRegionQuietly();
  [[nodiscard]] uint16_t TryTable();
  bool LockTable();
  bool LockRegionWithTable();
  void UnlockTable();
  bool CreateOrOpen();
  bool OthersHold(uint64_t byte, bool keep_shared);
  void Forget();

  WorkArea& area_;
  const bool exclusive_;
  std::string name_;
  SemaAction action_ = SemaAction::kLogin;  // the action under way, for messages
  std::unique_ptr<File> file_;
  Record record_;         // as last read or written
  uint8_t users_ = 0;     // the user count at log-in
  uint16_t counter_ = 0;  // the change counter remembered
  bool region_held_ = false;
  bool read_counted_ = false;
  bool created_ = false;                // the log-in under way made the file
  std::optional<uint32_t> table_lock_;  // the table's lock byte while held
  int read_nesting_ = 0;
  int lock_nesting_ = 0;  // of the lock procedure
  int writer_depth_ = 0;  // of LOCKSEMAPHORE / UNLOCKSEMAPHORE
};

}  // namespace ov
