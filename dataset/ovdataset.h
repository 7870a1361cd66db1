// TOvDataSet: the table dataset over one engine work area.
//
// It implements the engine operations of TOvPrimDataset as short runs of
// work-area commands on the area that belongs to the dataset. The work
// area always stands on a real record (or its phantom), so the cursor's
// two cracks are kept here:
//
//   OviSetToBegin   --> at beginning (before the first record)
//   OviSetToEnd     --> at end (after the last record)
//   move by number, bookmark or locate --> on a record (both clear)
//   OviGetNextRecord from the last record --> at end (area stays on it)
//   OviGetPriorRecord from the first record --> at beginning
//
// Live or not: a live dataset holds its table open while active. At design
// time a dataset may be "not live": it opens the table only for a moment
// (to read the structure, or a memo through DirectOpenClose) and answers
// navigation with one blank record.
//
// Every operation that touches the engine first selects the dataset's work
// area (SelectArea); with none it reports engine error 1103 "Database is not
// open [<name>.<routine>]" through the engine's error state. Engine
// exceptions leave the dataset as EDatabaseError with the engine's text.
//
// The field properties (TDbfFieldProps) live from an open to the next open:
// a close keeps them, so the structure listing still answers.
//
// Single-threaded, process-wide state (the engine's work areas).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/ovprimds.h"
#include "dataset/tstrings.h"
#include "dataset/ucommon.h"
#include "engine/support/ovcommon.h"

namespace ov {

enum class TOvTableLanguage { tlOem, tlAnsi };

class TOvDataSet : public TOvPrimDataset {
 public:
  TOvDataSet();
  ~TOvDataSet() override;

  // Only in edit, insert or set-key state; otherwise nothing happens.
  void Post() override;
  // Live unless at design time.
  virtual bool IsLive() const { return !design_time_; }
  bool DesignTime() const { return design_time_; }
  // The work area number held; 0 while none.
  int WorkArea() const { return work_area_; }
  // One "name, T, length, decimals" line per field of the last open table.
  void StructureListing(TStrings& strings, bool sorted) const;

  // Memo text of the active record, through the engine's memo store.
  std::string GetBlobText(TField* field) override;
  // Stores the text at once as a new memo, which the record refers to from
  // now on. The stored record and its memo stay as they are until the post
  // writes the record; then the replaced memo is released. A cancelled or
  // refused edit releases the new memo instead.
  void SetBlobText(TField* field, const std::string& text) override;

  // For a dataset that is not live: opens (true) or closes its table for a
  // moment. Raises 1103 "DataSet must be active. <name>" when inactive.
  void DirectOpenClose(bool open);
  // Copies the whole active buffer into the work area's record, entering
  // edit state first when needed.
  void WriteBackRecord();
  const TDbfFieldProps* FieldProps() const { return props_.get(); }

  TDataSetNotifyEvent BeforeRestore, AfterRestore;

 protected:
  // ---- Properties (published by the component classes) ----
  TStrings& DbfFields() { return dbf_fields_; }
  const std::string& DbfFileName() const { return dbf_file_name_; }
  // Trims the name and gives it the extension "DBF" when it has none (a
  // name ending with "." stays as it is); reopens under the new name when
  // the dataset was active, stays closed for an empty name.
  void SetDbfFileName(const std::string& name);
  bool HideDeletedRecs() const { return hide_deleted_recs_; }
  // Takes effect at once on an open table.
  void SetHideDeletedRecs(bool on);
  bool ShowProgress() const { return show_progress_; }
  void SetShowProgress(bool on) { show_progress_ = on; }
  TOvTableLanguage TableLanguage() const { return table_language_; }
  void SetTableLanguage(TOvTableLanguage language) { table_language_ = language; }
  // Design time is fixed at construction in a form designer; here it is
  // set once by the creator. It switches the engine to raising errors.
  void SetDesignTime(bool on);

  // ---- Parts the file component supplies ----
  // Opens `file_name` in the current (selected) work area; true on success.
  virtual bool OpenTableFile(const std::string& file_name) = 0;
  // The lock-taking writes; each answers whether its command ran.
  virtual bool s_AppendWithLock() = 0;
  virtual bool s_DeleteWithLock() = 0;
  virtual bool s_RestoreWithLock() = 0;
  virtual bool s_ReplaceWithLock() = 0;

  // ---- Services ----
  // Selects the dataset's work area and sets the engine's AnsiTables
  // switch; false (after reporting 1103) when there is none.
  bool SelectArea(std::string_view routine);
  bool s_IsEmptyDbf() {
    // Field reads come here for every field: a table found not empty
    // since the last engine work answers at once.
    return not_empty_at_ == engine_calls_ ? false : AskIsEmpty();
  }
  // GO n when 1 <= n <= RecCount, else to the end; status 0 either way.
  uint16_t SafeGo(int32_t n);
  // Rebuilds the window around the work area's record after it moved
  // under the dataset (hide deleted, find, append from).
  void ResyncAfterMove();
  bool AtBeginning() const { return at_beginning_; }
  bool AtEnd() const { return at_end_; }
  // The work area stands on a record the dataset moved to itself.
  void ClearCracks() { at_beginning_ = at_end_ = false; }
  const std::vector<uint16_t>& FieldOffsets() const { return field_offsets_; }
  // The 4-byte memo slot of a memo field; nullptr for other fields.
  const FieldSlot* MemoSlot(TField* field);
  // The memo block the active record's field holds; 0 for none.
  int32_t ActiveMemoBlock(TField* field);
  // The memo block the field's slot holds in `record`; 0 for none.
  int32_t MemoBlockIn(const uint8_t* record, TField* field);
  // Puts `block` into the field's slot of the active buffer.
  void SetActiveMemoBlock(TField* field, int32_t block);
  // Stores `text` as a new memo of the active record's field (the stored
  // memo stays until the post), puts its block in the field's slot and the
  // record, and announces the change; the block.
  virtual int32_t StoreBlob(TField* field, const std::string& text);
  void DoBeforeRestore() {
    if (BeforeRestore) BeforeRestore(*this);
  }
  void DoAfterRestore() {
    if (AfterRestore) AfterRestore(*this);
  }

  // Runs engine work; an engine exception leaves as a dataset error.
  template <typename F>
  static auto EngineCall(F&& work) -> decltype(work()) {
    ++engine_calls_;
    try {
      return work();
    } catch (const EOrvelError& e) {
      throw EDatabaseError(e.what());
    }
  }

  // ---- Framework protocol ----
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) override;
  void InternalCancel() override;
  void InternalInitFieldDefs() override;
  TFieldClass GetFieldClass(TFieldType type) override;

  // ---- Engine operations ----
  std::string OviErrorText(uint16_t code) override;
  bool OviIsEmpty() final { return !design_time_ && s_IsEmptyDbf(); }
  // GetActiveRecBuf without the virtual call: the emptiness test is final.
  TRecordBuffer ActiveRecord() {
    return State() == TDataSetState::dsBrowse ? BrowseBuffer(OviIsEmpty()) : StateBuffer();
  }
  uint16_t OviSetToBegin() override;
  uint16_t OviSetToEnd() override;
  uint16_t OviOpen() override;
  uint16_t OviClose() override;
  int32_t OviGetRecordCount() override;
  uint16_t OviForceReread() override;
  uint16_t OviAppendRecord(TRecordBuffer buffer) override;
  uint16_t OviInsertRecord(TRecordBuffer buffer) override;
  uint16_t OviDeleteRecord() override;
  uint16_t OviInitRecord(TRecordBuffer buffer) override;
  uint16_t OviPostRecord(TRecordBuffer buffer) override;
  uint16_t OviGetRecordSize() override;
  uint16_t OviGetRecord(TRecordBuffer buffer, int32_t& recno) override;
  uint16_t OviGetNextRecord(TRecordBuffer buffer, int32_t& recno) override;
  uint16_t OviGetPriorRecord(TRecordBuffer buffer, int32_t& recno) override;
  uint16_t OviGetFieldData(TField* field, TRecordBuffer record, bool& is_null, void* value) override;
  bool GetFieldData(TField* field, void* buffer) override;
  bool GetFieldString(TField* field, std::string& text) override;
  bool GetFieldDate(TField* field, int& year, int& month, int& day) override;
  uint16_t OviSetFieldData(TField* field, TRecordBuffer record, const void* value) override;
  uint16_t OviGoToRecord(int32_t recno) override;
  bool OviLocateRecord(const std::string& key_fields, const std::vector<TVarValue>& key_values, TLocateOptions options,
                       bool synchronise) override;
  uint16_t OviBookmarkSize() override { return 4; }
  uint16_t OviGotoBookmark(const uint8_t* bookmark) override;
  uint16_t OviSetToBookmark(uint8_t* destination) override;
  // A live table's bookmark is the record number the read answered.
  uint16_t OviBookmarkOf(int32_t recno, uint8_t* destination) override;
  uint16_t OviCompareBookmarks(const uint8_t* b1, const uint8_t* b2, int& result) override;

 private:
  uint16_t OpenInArea();
  // Selects the remembered area when it is free, else a free one.
  void SelectOwnOrFreeArea();
  void AfterOpenSteps();
  // The work area stands on its phantom record past the end.
  bool PastEnd();
  bool AskIsEmpty();
  // The area stands on a record: the table is not empty until engine work
  // runs again.
  void KnownNotEmpty() { not_empty_at_ = engine_calls_; }
  const FieldDataLayout& Layout() { return layout_ ? *layout_ : LayOut(); }
  const FieldDataLayout& LayOut();
  // Buffer <-> the work area's record (no-ops without field properties).
  void CopyToRecord(uint8_t* buffer);
  void CopyFromRecord(uint8_t* buffer);
  // A buffer read from the table keeps, after its field data, a copy of
  // the typed record it came from (and the stored dates behind it), and a
  // field is converted only when it is read: a walk that reads few fields
  // pays for no others. Before anything writes a slot or the buffer goes
  // to the record, every field is converted (`Materialize`). The copy is
  // taken when the record is read, so it answers what the eager
  // conversion answered then.
  struct Snapshot {
    uint16_t at = 0;    // offset of the state byte: 0 converted, else pending
    uint16_t size = 0;  // 0: buffers are converted whole when read
    uint16_t typed_size = 0;
    std::vector<uint16_t> stored_at;  // per field, its stored date's copy; 0 for none
    // Per field: where its typed bytes start in the copy when the slot
    // holds the same bytes (texts, memo blocks, whole numbers); 0 otherwise.
    std::vector<uint16_t> direct_at;
    std::vector<uint16_t> date_fields;  // indexes of the date fields
  };
  static Snapshot PlanSnapshot(const TDbfFieldProps& props, uint16_t at);
  // The bytes field n's slot holds in `record`. A pending buffer converts
  // the field into `scratch`, or answers its typed bytes where the slot
  // would hold the same.
  const uint8_t* SlotBytes(const uint8_t* record, int n, const FieldSlot& slot, uint8_t (&scratch)[16]) {
    if (snapshot_.size == 0 || record[snapshot_.at] == 0) return record + slot.offset;
    if (const uint16_t direct = snapshot_.direct_at[static_cast<size_t>(n - 1)]; direct != 0) return record + direct;
    return PendingSlotBytes(record, n, slot, scratch);
  }
  const uint8_t* PendingSlotBytes(const uint8_t* record, int n, const FieldSlot& slot, uint8_t (&scratch)[16]);
  void Materialize(uint8_t* record);
  // The placeholder record of a dataset that is not live.
  void FillBlankRecord(TRecordBuffer buffer);
  uint16_t ReadCurrent(TRecordBuffer buffer, int32_t& recno);
  std::string ReadMemo(int32_t block);
  int32_t WriteMemo(const std::string& text, int32_t old_block);
  void ReleaseMemo(int32_t block);
  // Ends the memo bookkeeping of an edit: after a written record the
  // replaced memos go, otherwise the ones written meanwhile.
  void SettleMemos(bool record_written);

  uint8_t work_area_ = 0;
  bool holds_table_ = false;  // the work area holds this dataset's table now
  // Engine work done through any dataset so far. A table found not empty
  // (its area not at once at the beginning and the end) when the count was
  // `not_empty_at_` stays so until engine work runs again: every field
  // read asks, so the answer is kept until then.
  static inline uint64_t engine_calls_ = 0;
  uint64_t not_empty_at_ = UINT64_MAX;
  bool design_time_ = false;
  bool at_beginning_ = false;
  bool at_end_ = false;
  std::vector<uint16_t> field_offsets_;
  // Declared so that the field properties go first, then DbfFields.
  TStrings dbf_fields_;
  std::unique_ptr<TDbfFieldProps> props_;
  std::optional<FieldDataLayout> layout_;  // empty: record data size not computed
  Snapshot snapshot_;                      // laid out with layout_
  std::string dbf_file_name_;
  bool show_progress_ = true;
  TOvTableLanguage table_language_ = TOvTableLanguage::tlOem;
  bool hide_deleted_recs_ = false;
  // Memos written during the current edit, per field.
  struct PendingMemo {
    int field_no = 0;
    int32_t stored = 0;   // the record's memo when the edit began
    int32_t written = 0;  // the memo written since
  };
  std::vector<PendingMemo> pending_memos_;
};

}  // namespace ov
