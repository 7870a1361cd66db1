#include "dataset/uovfds.h"

#include "dataset/warnings.h"
#include "engine/dbf/dbf4.h"
#include "engine/support/platform.h"

namespace ov {

namespace {

// Read-only access; the sharing granted to others.
constexpr uint16_t kReadOnlySharedMode = fmode::kRead | fmode::kDenyNone;  // 64
constexpr uint16_t kReadOnlyExclusiveMode = fmode::kRead;                  // 0

// Puts the open-time engine settings back however the open ends.
class OpenSettings {
 public:
  OpenSettings() : repair_(Engine().table.RepairRecCount), mode_override_(AreaConfig().OpenModeOverride) {}
  ~OpenSettings() {
    Engine().table.RepairRecCount = repair_;
    AreaConfig().OpenModeOverride = mode_override_;
  }
  OpenSettings(const OpenSettings&) = delete;
  OpenSettings& operator=(const OpenSettings&) = delete;

 private:
  bool repair_;
  uint16_t mode_override_;
};

}  // namespace

struct TOvFileDataSet::LockedCommand {
  const char* routine;
  bool (*lock)();
  void (*command)();
  bool unlock_only;  // else release or step off
  const TOvLockFailedEvent& event;
  const char* word;
};

TOvFileDataSet::~TOvFileDataSet() { CloseOnDestroy(); }

bool TOvFileDataSet::IsLive() const { return !(DesignTime() && exclusive_); }

void TOvFileDataSet::SetExclusive(bool on) {
  if (on == exclusive_) return;
  exclusive_ = on;
  if (!Active()) return;
  Close();
  Open();
}

// ---- Opening ----

bool TOvFileDataSet::CreateIfMissing(const std::string& file_name) {
  if (!create_if_not_found_ || FileExistsResolved(file_name)) return true;
  if (CreateTableFromFields(Name(), file_name, &DbfFields())) return true;
  ShowWarning("Could not create \"" + DbfFileName() + "\"");
  return Errors().DbfError == 0;
}

bool TOvFileDataSet::OpenTableFile(const std::string& file_name) {
  if (!CreateIfMissing(file_name)) return false;
  std::string command = file_name;
  if (exclusive_) command += " EXCLUSIVE";
  const std::string alias = TrimText(Name());
  if (!alias.empty()) command += " ALIAS " + alias;
  {
    OpenSettings restore;
    Engine().table.RepairRecCount = auto_fix_rec_count_;
    if (read_only_) AreaConfig().OpenModeOverride = exclusive_ ? kReadOnlyExclusiveMode : kReadOnlySharedMode;
    if (write_translation_ || read_translation_) {
      USE(command, nullptr, 0, write_translation_, read_translation_);
    } else {
      USE(command);
    }
  }
  if (Errors().DbfError != 0 || CurrentArea() == nullptr) return false;
  return SetUpProductionIndex();
}

// ---- Writes under locks ----

bool TOvFileDataSet::LockedWrite(const LockedCommand& c) {
  if (!CanModify()) return false;
  return EngineCall([&] {
    bool retry = false;
    do {
      // The event may have worked in other areas meanwhile.
      if (!SelectArea(c.routine)) return false;
      retry = false;
      if (c.lock()) {
        try {
          c.command();
        } catch (...) {
          Unlock();
          throw;
        }
        if (c.unlock_only || !LeaveInvisible()) Unlock();
        return true;
      }
      if (c.event) {
        c.event(*this, retry);
      } else {
        ShowWarning("Lock failed [" + std::string(c.word) + "]");
      }
    } while (retry);
    return false;
  });
}

bool TOvFileDataSet::s_AppendWithLock() {
  return LockedWrite({"s_AppendWithLock", &ov::ALock, &ov::Append, false, OnALockFailedOnInsert, "Insert"});
}

bool TOvFileDataSet::s_DeleteWithLock() {
  return LockedWrite({"s_DeleteWithLock", &ov::RLock, &ov::DeleteRec, false, OnRLockFailedOnDelete, "Delete"});
}

bool TOvFileDataSet::s_RestoreWithLock() {
  return LockedWrite({"s_RestoreWithLock", &ov::RLock, &ov::RecallRec, true, OnRLockFailedOnRestore, "Restore"});
}

bool TOvFileDataSet::s_ReplaceWithLock() {
  return LockedWrite({"s_ReplaceWithLock", &ov::RLock, &ov::Replace, false, OnRLockFailedOnPost, "Post"});
}

// ---- TOvDbf ----

TOvDbf::TOvDbf(std::string name) { SetName(std::move(name)); }

TOvDbf::~TOvDbf() { CloseOnDestroy(); }

}  // namespace ov
