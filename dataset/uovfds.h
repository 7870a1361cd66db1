// TOvFileDataSet and TOvDbf: the table component.
//
// TOvFileDataSet opens the table file with the chosen sharing (creating it
// from DbfFields when it is missing), hands the production index to its
// policy, and performs the writes under locks:
//
//   write     lock    command    afterwards          lock event              warning word
//   append    ALock   Append     release or step off OnALockFailedOnInsert   Insert
//   delete    RLock   DeleteRec  release or step off OnRLockFailedOnDelete   Delete
//   restore   RLock   RecallRec  Unlock              OnRLockFailedOnRestore  Restore
//   replace   RLock   Replace    release or step off OnRLockFailedOnPost     Post
//
// "Release or step off": when the record is no longer visible (a hidden
// deleted record, or outside the filter) the area moves to the next visible
// record (the prior one when none follows), which releases the lock;
// otherwise the lock is released. A refused lock calls the event, which may
// ask for another try, or shows "Lock failed [<word>]"; the command is then
// not run and the framework's operation completes without an exception.
//
// TOvDbf publishes the rest of the properties.
//
// Single-threaded, process-wide state (the engine's work areas).
#pragma once

#include <functional>
#include <string>

#include "dataset/tstrings.h"
#include "dataset/uovcds.h"
#include "engine/dbf/ovdbflow.h"

namespace ov {

enum class TCreateIndexType { ciNotFound, ciAlways, ciVerifyHeader, ciNever };
using TOvLockFailedEvent = std::function<void(TDataSet& sender, bool& retry)>;
using TBeforeMakeIndexEvent = std::function<void(const std::string& name, bool& can_make)>;
using TAfterMakeIndexEvent = std::function<void(const std::string& name)>;

class TOvFileDataSet : public TOvCDataSet {
 public:
  TOvFileDataSet() = default;
  ~TOvFileDataSet() override;

  // Not live only at design time with Exclusive set.
  bool IsLive() const override;

  TBeforeMakeIndexEvent OnBeforeMakeIndex;
  TAfterMakeIndexEvent OnAfterMakeIndex;
  TOvLockFailedEvent OnALockFailedOnInsert, OnRLockFailedOnDelete, OnRLockFailedOnPost, OnRLockFailedOnRestore;

 protected:
  // ---- Properties (published by TOvDbf) ----
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool on) { read_only_ = on; }
  bool AutoFixRecCount() const { return auto_fix_rec_count_; }
  void SetAutoFixRecCount(bool on) { auto_fix_rec_count_ = on; }
  TCreateIndexType CreateIndex() const { return create_index_; }
  void SetCreateIndex(TCreateIndexType type) { create_index_ = type; }
  bool CreateIfNotFound() const { return create_if_not_found_; }
  void SetCreateIfNotFound(bool on) { create_if_not_found_ = on; }
  bool Exclusive() const { return exclusive_; }
  // Reopens an active component.
  void SetExclusive(bool on);
  TStrings& IndexList() { return index_list_; }

  bool GetCanModify() override { return !read_only_; }
  bool OpenTableFile(const std::string& file_name) override;
  // The production-index policy, run once the table is open.
  virtual bool SetUpProductionIndex() { return true; }
  bool s_AppendWithLock() override;
  bool s_DeleteWithLock() override;
  bool s_RestoreWithLock() override;
  bool s_ReplaceWithLock() override;

  // Record translations installed as the table's write and read filters
  // when either is set; none by default.
  RecordFilter write_translation_;
  RecordFilter read_translation_;

 private:
  struct LockedCommand;
  bool LockedWrite(const LockedCommand& command);
  // False when creation failed with an engine code, which the open then
  // reports instead of a missing file.
  bool CreateIfMissing(const std::string& file_name);

  bool read_only_ = false;
  bool auto_fix_rec_count_ = false;
  TCreateIndexType create_index_ = TCreateIndexType::ciNotFound;
  bool create_if_not_found_ = true;
  bool exclusive_ = false;
  TStrings index_list_;
};

class TOvDbf : public TOvFileDataSet {
 public:
  // `name` is the component's name (its alias while open).
  explicit TOvDbf(std::string name = "");
  ~TOvDbf() override;

  using TOvFileDataSet::AutoFixRecCount;
  using TOvFileDataSet::CreateIfNotFound;
  using TOvFileDataSet::CreateIndex;
  using TOvFileDataSet::Exclusive;
  using TOvFileDataSet::IndexList;
  using TOvFileDataSet::ReadOnly;
  using TOvFileDataSet::SetAutoFixRecCount;
  using TOvFileDataSet::SetCreateIfNotFound;
  using TOvFileDataSet::SetCreateIndex;
  using TOvFileDataSet::SetExclusive;
  using TOvFileDataSet::SetReadOnly;
};

}  // namespace ov
