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
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dataset/ovblobstream.h"
#include "dataset/tstrings.h"
#include "dataset/uovcds.h"
#include "engine/dbf/ovdbflow.h"
#include "engine/index/umakemdx.h"

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

  // A new stream over the memo field `field` of the active record, which
  // converts text when the table is OEM. One at a time per component.
  std::unique_ptr<TOvBlobStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
  // Memo text through a blob stream.
  std::string GetBlobText(TField* field) override;

  // Search the active index order for `key` (cut to 100 characters): the
  // first visible record whose key begins with it (FindExact: equals it).
  // A miss leaves the dataset on its last record. The found flag.
  bool Find(const std::string& key);
  bool FindExact(const std::string& key);
  // False when filtered or walking an index order.
  bool IsSequenced() override;
  // The order the dataset walks in: a tag name of the production index,
  // "" for natural order. Set before opening, it is chosen once the index
  // is open (unset: the index's first tag, as opening an index selects
  // it); set on an open dataset it takes effect at once, the dataset
  // staying on its record. A name no tag has raises a dataset error.
  std::string IndexOrder();
  void SetIndexOrder(const std::string& tag_name);
  // The engine code with which the wanted production index could not be
  // opened or built (0 = maintained). While it is not 0 the table is
  // read-only here: writes would leave the index stale for every program.
  uint16_t IndexFailure() const { return index_failure_; }

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

  bool GetCanModify() override { return !read_only_ && index_failure_ == 0; }
  bool OpenTableFile(const std::string& file_name) override;
  // The production-index policy, run once the table is open; always true.
  virtual bool SetUpProductionIndex();
  int32_t StoreBlob(TField* field, const std::string& text) override;
  // Record by record, unless the active order's key is made of the key
  // field (one field, or UPPER of it for a case-insensitive search): then
  // through the index.
  bool OviLocateRecord(const std::string& key_fields, const std::vector<TVarValue>& key_values, TLocateOptions options,
                       bool synchronise) override;
  bool s_AppendWithLock() override;
  bool s_DeleteWithLock() override;
  bool s_RestoreWithLock() override;
  bool s_ReplaceWithLock() override;

  // Record translations installed as the table's write and read filters
  // when either is set; none by default.
  RecordFilter write_translation_;
  RecordFilter read_translation_;

 private:
  friend class TOvBlobStream;
  struct LockedCommand;
  bool LockedWrite(const LockedCommand& command);
  // False when creation failed with an engine code, which the open then
  // reports instead of a missing file.
  bool CreateIfMissing(const std::string& file_name);
  // Production index steps (uovfds_index.cpp).
  std::vector<TagDef> WantedTags() const;
  bool WantedTagsMatch(const std::string& index_file) const;
  void BuildProductionIndex(const std::string& index_file);
  void OpenProductionIndex(const std::string& index_file, bool rebuild_unreadable, bool& rebuild);
  void ApplyIndexOrder();
  bool FindKey(const std::string& key, bool exact, const char* routine);
  // Whether the active tag's key is made of the single field `key_fields`.
  bool KeyIsField(const std::string& key_fields, bool case_insensitive);

  bool read_only_ = false;
  bool auto_fix_rec_count_ = false;
  TCreateIndexType create_index_ = TCreateIndexType::ciNotFound;
  bool create_if_not_found_ = true;
  bool exclusive_ = false;
  TStrings index_list_;
  std::optional<std::string> index_order_;
  uint16_t index_failure_ = 0;
  bool blob_stream_open_ = false;
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
