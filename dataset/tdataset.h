// The buffered dataset of the framework: states, the window of record
// buffers, field objects, data links, events, bookmarks and searches.
//
// A subclass supplies the data through the protected protocol below: it
// allocates record buffers, fills one from its cursor with GetRecord (next,
// prior or current record), moves its cursor (InternalFirst, InternalLast,
// InternalSetToRecord), stores and reads field values (GetFieldData,
// SetFieldData) and writes records (InternalPost, InternalDelete). The
// framework keeps the window and decides when each is called.
//
// Window: `BufferCount` record buffers plus one spare that receives each
// fetch; buffers 0 .. WindowCount-1 hold consecutive records, one of them
// active. The cursor of the subclass stands on buffer `current` (-1:
// unknown, so UpdateCursorPos repositions it from the active buffer's
// bookmark before an operation needs it).
//
// States (inactive, browse, edit, insert, set-key, calculated-fields,
// filter, new-value):
//   inactive --Open--> browse --Edit--> edit --Post/Cancel--> browse
//   browse --Insert/Append--> insert --Post/Cancel--> browse
//   any --Close--> inactive (pending edits are dropped)
// Calculated-fields state is entered only for the calculated-field pass.
//
// Failures raise EDatabaseError (EAbort when an error handler aborts).
// A class that implements the protocol calls CloseOnDestroy from its own
// destructor: a base destructor no longer reaches the overrides.
//
// Single-threaded.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/db_error.h"
#include "dataset/tfield.h"

namespace ov {

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter, dsNewValue };
enum class TGetMode { gmCurrent, gmNext, gmPrior };
enum class TGetResult { grOK, grBOF, grEOF, grError };
// Where a fetched record stands: a real record, or the place of an
// inserted one (before the first, after the last, among the others).
enum class TBookmarkFlag : uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };
enum class TDataAction { daFail, daAbort, daRetry };

// Resynchronisation: exact = the cursor's record must still be there
// ("Record not found" otherwise); center = put it mid-window.
struct TResyncMode {
  bool exact = false;
  bool center = false;
};

struct TLocateOptions {
  bool case_insensitive = false;
  bool partial_key = false;
};

using TBookmark = std::vector<uint8_t>;  // empty = no bookmark
using TRecordBuffer = uint8_t*;
using TRecordBlock = std::unique_ptr<uint8_t[]>;
using TFieldClass = std::unique_ptr<TField> (*)();

// The factory of field class `T`, for GetFieldClass.
template <typename T>
std::unique_ptr<TField> MakeField() {
  return std::make_unique<T>();
}

// "a; b;c" -> {"a", "b", "c"}; blanks around names are dropped.
std::vector<std::string> SplitFieldNames(const std::string& names);

class TDataSet;
using TDataSetNotifyEvent = std::function<void(TDataSet&)>;
using TDataSetErrorEvent = std::function<void(TDataSet&, const EDatabaseError&, TDataAction&)>;

// A view of the dataset (grid, edit control). The dataset calls the
// hooks; `BufferCount` asks for a window of that many records.
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  // Registers with `dataset` (nullptr: none), leaving the previous one.
  void SetDataSet(TDataSet* dataset);
  TDataSet* DataSet() const { return dataset_; }
  int BufferCount() const { return buffer_count_; }
  void SetBufferCount(int count);

 protected:
  friend class TDataSet;
  virtual void ActiveChanged() {}
  virtual void DataSetChanged() {}
  virtual void DataSetScrolled(int /*distance*/) {}
  // `field` changed; nullptr: the whole record.
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void EditingChanged() {}
  // Write pending control text into the fields (before a post).
  virtual void UpdateData() {}

 private:
  TDataSet* dataset_ = nullptr;
  int buffer_count_ = 1;
};

class TDataSet {
 public:
  TDataSet();
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // ---- Lifecycle ----
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  void SetActive(bool active);
  bool Active() const { return state_ != TDataSetState::dsInactive; }
  TDataSetState State() const { return state_; }
  std::string Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  // ---- Navigation ----
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves up to `distance` records; answers how far it went.
  int MoveBy(int distance);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  // No record in the window.
  bool IsEmpty() const { return record_count_ == 0; }
  virtual int32_t GetRecordCount();
  int32_t RecordCount() { return GetRecordCount(); }
  virtual int32_t GetRecNo() { return -1; }
  virtual void SetRecNo(int32_t /*value*/) {}
  int32_t RecNo() { return GetRecNo(); }

  // ---- Editing ----
  void Edit();
  void Insert();
  void Append();
  virtual void Post();
  void Cancel();
  void Delete();
  // Posts or cancels pending edits (cancels when nothing changed).
  void CheckBrowseMode();
  // Asks the data links to write their pending text into the fields.
  void UpdateRecord();
  bool Modified() const { return modified_; }
  bool CanModify() { return GetCanModify(); }
  bool AutoCalcFields() const { return auto_calc_fields_; }
  void SetAutoCalcFields(bool on) { auto_calc_fields_ = on; }
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool on) { filtered_ = on; }

  // ---- Fields ----
  TFieldDefs& FieldDefs() { return field_defs_; }
  // Takes a persistent field (only while closed); answers it.
  TField* AddField(std::unique_ptr<TField> field);
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField* Field(int i) const { return fields_.at(static_cast<size_t>(i)).get(); }
  std::vector<TField*> Fields() const;
  TField* FindField(const std::string& name) const;
  // Raises "Field '<name>' not found".
  TField* FieldByName(const std::string& name) const;

  // ---- Bookmarks ----
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& /*bookmark*/) { return false; }
  virtual int CompareBookmarks(const TBookmark& /*b1*/, const TBookmark& /*b2*/) { return 0; }

  // ---- Searching ----
  // Key fields separated by ";", one value per key field.
  virtual bool Locate(const std::string& key_fields, const std::vector<TVarValue>& key_values, TLocateOptions options);
  // The values of `result_fields` (";"-separated) at the first record
  // matching exactly; empty when there is none. The position stays.
  virtual std::vector<TVarValue> Lookup(const std::string& key_fields, const std::vector<TVarValue>& key_values,
                                        const std::string& result_fields);
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  bool Found() const { return found_; }

  // ---- Data links ----
  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link);
  int BufferCount() const { return buffer_count_; }
  int ActiveRecordIndex() const { return active_record_; }
  int WindowCount() const { return record_count_; }

  // ---- Events ----
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent OnCalcFields, OnNewRecord;
  TDataSetErrorEvent OnDeleteError, OnEditError, OnPostError;

  // Memo text of the current record; the default has none and refuses
  // writes with "Field '<name>' cannot be modified".
  virtual std::string GetBlobText(TField* field);
  virtual void SetBlobText(TField* field, const std::string& text);

 protected:
  friend class TField;
  friend class TDataLink;

  // ---- Protocol for subclasses ----
  virtual TRecordBlock AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBlock& buffer) { buffer.reset(); }
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) = 0;
  virtual uint16_t GetRecordSize() = 0;
  virtual void GetBookmarkData(TRecordBuffer buffer, uint8_t* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const uint8_t* data) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  virtual bool GetFieldData(TField* field, void* buffer) = 0;
  // A string field's value as GetFieldData gives it, up to its first NUL,
  // into `text`; false when the field has no value. A dataset may answer
  // it without the fixed-size buffer.
  virtual bool GetFieldString(TField* field, std::string& text);
  // A date field's calendar date as GetFieldData's day number gives it;
  // false when the field has no value. A dataset may answer it without
  // the day number.
  virtual bool GetFieldDate(TField* field, int& year, int& month, int& day);
  virtual void SetFieldData(TField* field, const void* buffer) = 0;
  virtual bool GetCurrentRecord(TRecordBuffer /*buffer*/) { return false; }
  virtual bool IsCursorOpen() = 0;
  virtual void OpenCursor(bool info_query);
  virtual void CloseCursor();
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalGotoBookmark(const uint8_t* bookmark) = 0;
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual void InternalPost() = 0;
  virtual void InternalDelete() = 0;
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalCancel() {}
  virtual void InternalAddRecord(TRecordBuffer buffer, bool append) = 0;
  // Called inside a catch block: hands the pending exception on.
  virtual void InternalHandleException();
  virtual void ClearCalcFields(TRecordBuffer /*buffer*/) {}
  virtual void DoOnNewRecord();
  virtual bool FindRecord(bool /*restart*/, bool /*go_forward*/) { return false; }
  virtual bool IsSequenced() { return true; }
  virtual bool GetCanModify() { return true; }
  virtual TFieldClass GetFieldClass(TFieldType type);

  // ---- Services for subclasses ----
  TRecordBuffer ActiveBuffer() const {
    return buffers_.empty() ? nullptr : buffers_[static_cast<size_t>(active_record_)].get();
  }
  TRecordBuffer CalcBuffer() const { return calc_buffer_; }
  TRecordBuffer TempBuffer() const { return temp_buffer_.get(); }
  void SetState(TDataSetState state);
  // Switches the state for an internal pass, without notifications;
  // answers the state to give back to RestoreState.
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state) { state_ = state; }
  void CheckActive() const;
  void Resync(TResyncMode mode);
  void ClearBuffers();
  // Marks the subclass's cursor position as unknown.
  void CursorPosChanged() { current_record_ = -1; }
  // Brings the subclass's cursor to the active record.
  void UpdateCursorPos();
  void SetFound(bool found) { found_ = found; }
  void SetBookmarkSize(int size) { bookmark_size_ = size; }
  int BookmarkSize() const { return bookmark_size_; }
  void CreateFields();
  void DestroyFields();
  void BindFields(bool binding);
  bool DefaultFields() const { return default_fields_; }
  int CalcFieldsSize() const { return calc_fields_size_; }
  int BlobFieldCount() const { return blob_field_count_; }
  // The calculated-field pass over `buffer` (when there are calculated
  // fields), in calculated-fields state.
  void GetCalcFields(TRecordBuffer buffer);
  // The pass itself: `buffer` becomes the calculation buffer.
  void CalculateFields(TRecordBuffer buffer);
  // Tells the data links that `field` (nullptr: the record) changed.
  void DataFieldChanged(TField* field);
  void DoBeforeScroll() { Fire(BeforeScroll); }
  void DoAfterScroll() { Fire(AfterScroll); }
  // Closes; a failure goes to InternalHandleException.
  void CloseOnDestroy() noexcept;

 private:
  void Fire(const TDataSetNotifyEvent& event) {
    if (event) event(*this);
  }
  void OpenDataSet();
  void CloseDataSet();
  void FillWindowFromStart();
  void AllocateBuffers(int count);
  void FreeBuffers();
  int WantedBufferCount() const;
  void ApplyBufferCount();
  void ResizeWindowIfWanted();
  void SetCurrentRecord(int index);
  void MoveBuffer(int from, int to);
  void ActivateBuffers();
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void CheckCanModify();
  void BeginInsertAppend();
  void EndInsertAppend();
  void InitRecord(TRecordBuffer buffer);
  void CheckOperation(void (TDataSet::*operation)(), const TDataSetErrorEvent& on_error);
  void CalcLookupValue(TField* field);
  void ForEachLink(const std::function<void(TDataLink&)>& f);
  void NotifyDataSetChanged();

  std::string name_;
  TDataSetState state_ = TDataSetState::dsInactive;
  TFieldDefs field_defs_;
  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<TDataLink*> links_;
  std::vector<TRecordBlock> buffers_;  // buffer_count_ + 1 (the spare)
  TRecordBlock temp_buffer_;
  TRecordBuffer calc_buffer_ = nullptr;
  int buffer_count_ = 0;
  int record_count_ = 0;
  int active_record_ = 0;
  int current_record_ = -1;
  int bookmark_size_ = 0;
  int calc_fields_size_ = 0;
  int blob_field_count_ = 0;
  bool bof_ = true;
  bool eof_ = true;
  bool found_ = false;
  bool modified_ = false;
  bool default_fields_ = false;
  bool auto_calc_fields_ = true;
  bool filtered_ = false;
};

// Where InternalHandleException sends exceptions: the default shows the
// text in an error message box (the engine's message-box hook).
using TExceptionHandler = std::function<void(const std::exception_ptr&)>;
TExceptionHandler SetApplicationExceptionHandler(TExceptionHandler handler);
void HandleApplicationException(const std::exception_ptr& error);

}  // namespace ov
