// Record, append and header-byte locks of the work areas.
//
// Locks are operating-system byte ranges on the table file far beyond the
// data (from LockBase), so they never block plain reads. A refused lock
// answers false and reports nothing: the caller decides what a busy record
// means. Unlock failures only set the error state.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <new>
#include <optional>
#include <string>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_edit_internal.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "engine/support/platform.h"

namespace ov {

namespace {

constexpr uint8_t kNoLock = 0;
constexpr uint8_t kAppendLock = 2;
constexpr uint8_t kRecordLocks = 3;

// The bare primitive: without multi-user operation nothing is locked at all.
uint16_t LockRegion(WorkArea& area, uint32_t offset, uint32_t len) {
  if (!AreaConfig().MultiUser) return 0;
  if (!area.table.file) return 6;
  return area.table.file->Lock(offset, len);
}

uint16_t UnlockRegion(WorkArea& area, uint32_t offset, uint32_t len) {
  if (!AreaConfig().MultiUser) return 0;
  if (!area.table.file) return 6;
  return area.table.file->Unlock(offset, len);
}

// Waits LockRetryWait seconds by the clock between two lock attempts. A
// host hook lets a window system dispatch its messages meanwhile; it, or a
// sleep, may come back early, so the wait goes on until the clock says the
// time is up, or until the hook answers false (the application is ending).
void WaitBeforeRetry() {
  const int seconds = std::clamp(AreaConfig().LockRetryWait, 0, 4000000);
  Env* env = CurrentEnv();
  const uint64_t deadline = env->TickCountMs() + static_cast<uint64_t>(seconds) * 1000u;
  for (uint64_t now = env->TickCountMs(); now < deadline; now = env->TickCountMs()) {
    const auto left = static_cast<uint32_t>(deadline - now);
    // Copy: the hook may change the settings it lives in.
    const std::function<bool(uint32_t)> hook = AreaConfig().LockWaitHook;
    if (!hook) {
      env->SleepMs(left);
    } else if (!hook(left)) {
      return;
    }
  }
}

// One round: the first attempt and LockRetries more.
bool TryLockRound(WorkArea& area, uint32_t offset, uint32_t len) {
  const int retries = std::max(AreaConfig().LockRetries, 0);
  for (int attempt = 0;; ++attempt) {
    if (LockRegion(area, offset, len) == 0) return true;
    if (attempt >= retries) return false;
    WaitBeforeRetry();
  }
}

bool LockWithRetries(WorkArea& area, uint32_t offset, uint32_t len) {
  while (!TryLockRound(area, offset, len)) {
    // Copy: the hook may change the settings it lives in.
    std::function<bool()> hook = AreaConfig().LockRetryHook;
    if (!hook || !hook()) return false;
  }
  return true;
}

uint32_t AppendLockOffset() { return AreaConfig().LockBase + 1u; }

// Sets the error state without running the handler: these outcomes are
// for the caller to inspect, never fatal.
void NoteError(uint16_t code, const std::string& context) {
  ErrorState& e = Errors();
  e.DbfError = code;
  e.LastErrorCode = code;
  e.ErrorContext = context;
}

std::string UnlockContext(int32_t n) { return "[UnlockRec(" + std::to_string(n) + ")]"; }

// Releases the region of the entry at `pos` and drops the entry.
uint16_t ReleaseEntry(WorkArea& area, size_t pos) {
  const int32_t n = area.record_locks[pos];
  const uint16_t code = UnlockRegion(area, RecordLockOffset(area, n), area.table.record_length);
  area.record_locks.erase(area.record_locks.begin() + static_cast<std::ptrdiff_t>(pos));
  if (area.record_locks.empty() && area.lock_state == kRecordLocks) area.lock_state = kNoLock;
  return code;
}

bool ReleaseOne(WorkArea& area, int32_t n) {
  auto it = std::find(area.record_locks.begin(), area.record_locks.end(), n);
  if (it == area.record_locks.end()) {
    NoteError(220, "Record not locked. " + UnlockContext(n));
    return false;
  }
  const uint16_t code = ReleaseEntry(area, static_cast<size_t>(it - area.record_locks.begin()));
  if (code != 0) NoteError(code, UnlockContext(n));
  return code == 0;
}

bool ReleaseAll(WorkArea& area, int32_t n) {
  uint16_t last = 0;
  while (!area.record_locks.empty()) {
    const uint16_t code = ReleaseEntry(area, area.record_locks.size() - 1);
    if (code != 0) last = code;
  }
  if (last != 0) NoteError(last, UnlockContext(n));
  return last == 0;
}

// n = -1 the oldest entry (last in the list), -2 the most recent (first).
bool ReleaseEnd(WorkArea& area, int32_t n) {
  if (area.record_locks.empty()) return true;
  const size_t pos = n == -1 ? area.record_locks.size() - 1 : 0;
  const uint16_t code = ReleaseEntry(area, pos);
  if (code != 0) NoteError(code, UnlockContext(n));
  return code == 0;
}

bool UnlockRecIn(WorkArea& area, int32_t n) {
  if (n >= 1) return ReleaseOne(area, n);
  if (n == -1 || n == -2) return ReleaseEnd(area, n);
  if (n == -3) return ReleaseAll(area, n);
  NoteError(220, UnlockContext(n));
  return false;
}

// Adds record n at the front of the list; the region is already locked.
bool AddRecordLock(WorkArea& area, int32_t n) {
  try {
    area.record_locks.insert(area.record_locks.begin(), n);
  } catch (const std::bad_alloc&) {
    (void)UnlockRegion(area, RecordLockOffset(area, n), area.table.record_length);
    ReportError(err::kNoMemory, "[RLock]");
    return false;
  }
  area.lock_state = kRecordLocks;
  return true;
}

bool LockLimitReached(const WorkArea& area) {
  const uint16_t limit = AreaConfig().RecordLockLimit;
  return limit != 0 && area.record_locks.size() >= limit;
}

}  // namespace

bool NeedsLocks(const WorkArea& area) { return AreaConfig().MultiUser && !area.exclusive; }

bool HoldsRecordLock(const WorkArea& area, int32_t n) {
  return std::find(area.record_locks.begin(), area.record_locks.end(), n) != area.record_locks.end();
}

uint32_t RecordLockOffset(const WorkArea& area, int32_t n) {
  // 32-bit unsigned arithmetic, as every process computes it.
  const uint32_t index = static_cast<uint32_t>(n) - 1u;
  return AreaConfig().LockBase + area.table.header_length + index * area.table.record_length;
}

bool ALock() {
  if (!CheckInUse("ALock")) return false;
  WorkArea& area = *CurrentArea();
  if (area.lock_state == kAppendLock) return true;
  if (!area.record_locks.empty()) return false;
  if (NeedsLocks(area) && !LockWithRetries(area, AppendLockOffset(), 1)) return false;
  area.lock_state = kAppendLock;
  return true;
}

bool RLock() {
  if (!CheckInUse("RLock")) return false;
  WorkArea& area = *CurrentArea();
  const int32_t n = area.table.current_record;
  // A record already held stays held even at the limit.
  if (HoldsRecordLock(area, n)) return true;
  if (LockLimitReached(area)) {
    ReportError(err::kBeyondRange, "Orvel record lock limit exceeded [RLock]");
    return false;
  }
  if (area.lock_state == kAppendLock) return false;
  if (NeedsLocks(area) && !LockWithRetries(area, RecordLockOffset(area, n), area.table.record_length)) {
    return false;
  }
  return AddRecordLock(area, n);
}

bool IsLocked(int32_t n) {
  if (!CheckInUse("IsLocked")) return false;
  return HoldsRecordLock(*CurrentArea(), n);
}

bool UnlockRec(int32_t n) {
  if (!CheckInUse("UnlockRec")) return false;
  return UnlockRecIn(*CurrentArea(), n);
}

void Unlock() {
  if (!CheckInUse("Unlock")) return;
  WorkArea& area = *CurrentArea();
  if (!area.record_locks.empty()) {
    ReleaseAll(area, -3);
  } else if (area.lock_state == kAppendLock && NeedsLocks(area)) {
    const uint16_t code = UnlockRegion(area, AppendLockOffset(), 1);
    if (code != 0) NoteError(code, "[Unlock]");
  }
  area.lock_state = kNoLock;
}

std::optional<uint32_t> HeaderLockByte() {
  // A table file used before the work areas exist locks at the defaults.
  static const AreaSettings kDefaults;
  const AreaSettings& s = Engine().areas ? AreaConfig() : kDefaults;
  if (!s.MultiUser) return std::nullopt;
  return s.LockBase;
}

bool LockHeaderByte() {
  WorkArea* area = CurrentArea();
  if (!area) return false;
  if (!LockWithRetries(*area, AreaConfig().LockBase, 1)) return false;
  area->table.header_locked = true;
  return true;
}

void UnlockHeaderByte() {
  WorkArea* area = CurrentArea();
  if (!area) return;
  area->table.header_locked = false;
  const uint16_t code = UnlockRegion(*area, AreaConfig().LockBase, 1);
  if (code != 0) {
    ReportError(
        code, "Error attempting to UNLOCK file " + area->table.path + " in Workarea " + std::to_string(SelectedArea()));
  }
}

}  // namespace ov
