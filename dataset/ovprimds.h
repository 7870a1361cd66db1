// TOvPrimDataset: the bottom layer of the table dataset family. It adapts
// a record-at-a-time engine (a cursor with current, next, prior and go to
// record number) to the framework's buffered dataset. It owns the record
// buffer layout, the bookmark form and the translation of engine status
// codes; every access to data goes through the engine operations (`Ovi...`)
// that a subclass implements.
//
// Record buffer (zero-filled, record buffer size bytes):
//   offset                  size                 content
//   0                       record data size     field data; byte 0 = deletion mark
//   record data size        calc-fields size     per calculated/lookup field at its
//                                                offset: has-value byte, value
//   blob slots offset       4 x blob fields      one 32-bit slot per blob field
//   record-info offset      6                    int32 record number (LE), 0, flag
//   bookmark offset         bookmark size        the bookmark (4 bytes: record number)
//
// Engine status codes: 0 success, 1401 open failed without an engine code,
// 1402 before the first record, 1403 past the last record, 1404 no table
// file name; anything else is an engine error code. Check turns a non-zero
// status into EDatabaseError.
//
// The class that implements the engine operations calls CloseOnDestroy in
// its destructor.
//
// Single-threaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dataset/tdataset.h"

namespace ov {

inline constexpr uint16_t kOviOpenFailed = 1401;
inline constexpr uint16_t kOviAtBeginning = 1402;
inline constexpr uint16_t kOviAtEnd = 1403;
inline constexpr uint16_t kOviNoFileName = 1404;

class TOvPrimDataset : public TDataSet {
 public:
  TOvPrimDataset() = default;

  int32_t GetRecordCount() override;
  int32_t GetRecNo() override;
  void SetRecNo(int32_t value) override;
  bool BookmarkValid(const TBookmark& bookmark) override;
  // An absent bookmark sorts after every present one.
  int CompareBookmarks(const TBookmark& b1, const TBookmark& b2) override;
  bool Locate(const std::string& key_fields, const std::vector<TVarValue>& key_values, TLocateOptions options) override;
  std::vector<TVarValue> Lookup(const std::string& key_fields, const std::vector<TVarValue>& key_values,
                                const std::string& result_fields) override;

  // The layout, as computed at open.
  uint16_t RecordDataSize() const { return record_data_size_; }
  uint32_t RecordBufferSize() const { return record_buffer_size_; }
  uint32_t BlobSlotsOffset() const { return blob_slots_offset_; }
  uint32_t RecordInfoOffset() const { return record_info_offset_; }
  uint32_t BookmarkOffset() const { return bookmark_offset_; }

 protected:
  // ---- The framework protocol ----
  void ClearCalcFields(TRecordBuffer buffer) override;
  void CloseCursor() override;
  void DoOnNewRecord() override;
  bool FindRecord(bool restart, bool go_forward) override;
  void InternalEdit() override;
  void InternalInsert() override;
  void OpenCursor(bool info_query) override;
  TRecordBlock AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBlock& buffer) override;
  void GetBookmarkData(TRecordBuffer buffer, uint8_t* data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override;
  bool GetFieldData(TField* field, void* buffer) override;
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) override;
  uint16_t GetRecordSize() override { return record_data_size_; }
  void InternalAddRecord(TRecordBuffer buffer, bool append) override;
  void InternalClose() override;
  void InternalDelete() override;
  void InternalFirst() override;
  void InternalGotoBookmark(const uint8_t* bookmark) override;
  void InternalHandleException() override;
  void InternalInitRecord(TRecordBuffer buffer) override;
  void InternalLast() override;
  void InternalOpen() override;
  void InternalPost() override;
  void InternalSetToRecord(TRecordBuffer buffer) override;
  bool IsCursorOpen() override { return cursor_open_; }
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  void SetBookmarkData(TRecordBuffer buffer, const uint8_t* data) override;
  void SetFieldData(TField* field, const void* buffer) override;
  bool GetCurrentRecord(TRecordBuffer buffer) override;
  bool IsSequenced() override { return !Filtered(); }

  // ---- Engine operations ----
  virtual std::string OviErrorText(uint16_t code);
  virtual bool OviIsEmpty();
  virtual uint16_t OviSetToBegin() = 0;
  virtual uint16_t OviSetToEnd() = 0;
  virtual uint16_t OviOpen() = 0;
  virtual uint16_t OviClose() = 0;
  virtual int32_t OviGetRecordCount() = 0;
  virtual uint16_t OviForceReread() = 0;
  virtual uint16_t OviAppendRecord(TRecordBuffer buffer) = 0;
  virtual uint16_t OviInsertRecord(TRecordBuffer buffer) = 0;
  virtual uint16_t OviDeleteRecord() = 0;
  virtual uint16_t OviInitRecord(TRecordBuffer buffer) = 0;
  virtual uint16_t OviPostRecord(TRecordBuffer buffer) = 0;
  virtual uint16_t OviGetRecordSize() = 0;
  // `buffer` may be nullptr: move only.
  virtual uint16_t OviGetRecord(TRecordBuffer buffer, int32_t& recno) = 0;
  virtual uint16_t OviGetNextRecord(TRecordBuffer buffer, int32_t& recno) = 0;
  virtual uint16_t OviGetPriorRecord(TRecordBuffer buffer, int32_t& recno) = 0;
  // `value` may be nullptr: a null test only.
  virtual uint16_t OviGetFieldData(TField* field, TRecordBuffer record, bool& is_null, void* value) = 0;
  // `value` nullptr clears the field.
  virtual uint16_t OviSetFieldData(TField* field, TRecordBuffer record, const void* value) = 0;
  virtual uint16_t OviGoToRecord(int32_t recno) = 0;
  // Key fields separated by ";", one value each; a record is a hit only
  // when every key field matches.
  virtual bool OviLocateRecord(const std::string& key_fields, const std::vector<TVarValue>& key_values,
                               TLocateOptions options, bool synchronise) = 0;
  virtual uint16_t OviBookmarkSize() = 0;
  virtual uint16_t OviGotoBookmark(const uint8_t* bookmark) = 0;
  // Writes the current record's bookmark to `destination`.
  virtual uint16_t OviSetToBookmark(uint8_t* destination) = 0;
  // The bookmark of record `recno`, just read; by default the current
  // record's.
  virtual uint16_t OviBookmarkOf(int32_t /*recno*/, uint8_t* destination) { return OviSetToBookmark(destination); }
  virtual uint16_t OviCompareBookmarks(const uint8_t* b1, const uint8_t* b2, int& result) = 0;

  // Raises EDatabaseError for a non-zero status.
  void Check(uint16_t code);

  // The record buffer the state reads and writes; nullptr when none.
  TRecordBuffer GetActiveRecBuf() {
    return State() == TDataSetState::dsBrowse ? BrowseBuffer(OviIsEmpty()) : StateBuffer();
  }
  TRecordBuffer BrowseBuffer(bool empty) const { return empty ? nullptr : ActiveBuffer(); }
  // The record buffer of the states other than browsing.
  TRecordBuffer StateBuffer() const {
    switch (State()) {
      case TDataSetState::dsEdit:
      case TDataSetState::dsInsert: return ActiveBuffer();
      case TDataSetState::dsCalcFields: return CalcBuffer();
      default: return nullptr;
    }
  }
  int32_t RecordNumberOf(TRecordBuffer buffer) const;

 private:
  void ComputeLayout();

  uint16_t record_data_size_ = 0;
  uint16_t bookmark_size_ = 0;
  uint32_t blob_slots_offset_ = 0;
  uint32_t record_info_offset_ = 0;
  uint32_t bookmark_offset_ = 0;
  uint32_t record_buffer_size_ = 0;
  bool cursor_open_ = false;
};

}  // namespace ov
