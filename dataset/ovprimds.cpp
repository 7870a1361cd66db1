#include "dataset/ovprimds.h"

#include <cstring>
#include <exception>

namespace ov {

namespace {

void PutInt32(uint8_t* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}

int32_t GetInt32(const uint8_t* p) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(p[i]) << (8 * i);
  return static_cast<int32_t>(u);
}

bool OneOf(TDataSetState s, std::initializer_list<TDataSetState> states) {
  for (TDataSetState t : states) {
    if (s == t) return true;
  }
  return false;
}

constexpr int kRecordInfoSize = 6;

}  // namespace

// ---- Status codes ----

void TOvPrimDataset::Check(uint16_t code) {
  if (code == 0) return;
  if (code == kOviOpenFailed || code == kOviAtBeginning || code == kOviAtEnd) {
    DatabaseError("Dataset error: " + std::to_string(code));
  }
  if (code == kOviNoFileName) DatabaseError("Missing DbfFilename property");
  DatabaseError("Dataset error: " + OviErrorText(code));
}

std::string TOvPrimDataset::OviErrorText(uint16_t code) { return std::to_string(code); }

bool TOvPrimDataset::OviIsEmpty() { return IsEmpty(); }

// ---- Opening and closing ----

void TOvPrimDataset::OpenCursor(bool info_query) {
  Check(OviOpen());
  cursor_open_ = true;
  TDataSet::OpenCursor(info_query);
}

void TOvPrimDataset::InternalOpen() {
  record_data_size_ = OviGetRecordSize();
  bookmark_size_ = OviBookmarkSize();
  SetBookmarkSize(bookmark_size_);
  InternalInitFieldDefs();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  ComputeLayout();
  Check(OviSetToBegin());
}

// Kept 32-bit wide: many calculated fields must not wrap the buffer size
// below what the areas need.
void TOvPrimDataset::ComputeLayout() {
  blob_slots_offset_ = record_data_size_ + static_cast<uint32_t>(CalcFieldsSize());
  record_info_offset_ = blob_slots_offset_ + 4 * static_cast<uint32_t>(BlobFieldCount());
  bookmark_offset_ = record_info_offset_ + kRecordInfoSize;
  record_buffer_size_ = bookmark_offset_ + bookmark_size_;
}

void TOvPrimDataset::InternalClose() {
  BindFields(false);
  if (DefaultFields()) DestroyFields();
}

// The engine is closed even when the framework's part fails.
void TOvPrimDataset::CloseCursor() {
  std::exception_ptr first;
  try {
    TDataSet::CloseCursor();
  } catch (...) {
    first = std::current_exception();
  }
  const uint16_t status = cursor_open_ ? OviClose() : 0;
  cursor_open_ = false;
  if (first) std::rethrow_exception(first);
  Check(status);
}

void TOvPrimDataset::InternalHandleException() { TDataSet::InternalHandleException(); }

// ---- Record buffers ----

TRecordBlock TOvPrimDataset::AllocRecordBuffer() { return std::make_unique<uint8_t[]>(record_buffer_size_); }

void TOvPrimDataset::FreeRecordBuffer(TRecordBlock& buffer) { buffer.reset(); }

void TOvPrimDataset::ClearCalcFields(TRecordBuffer buffer) {
  std::memset(buffer + record_data_size_, 0, static_cast<size_t>(CalcFieldsSize()));
}

void TOvPrimDataset::InternalInitRecord(TRecordBuffer buffer) {
  std::memset(buffer, 0, record_buffer_size_);
  Check(OviInitRecord(buffer));
}

int32_t TOvPrimDataset::RecordNumberOf(TRecordBuffer buffer) const { return GetInt32(buffer + record_info_offset_); }

void TOvPrimDataset::GetBookmarkData(TRecordBuffer buffer, uint8_t* data) {
  std::memcpy(data, buffer + bookmark_offset_, bookmark_size_);
}

void TOvPrimDataset::SetBookmarkData(TRecordBuffer buffer, const uint8_t* data) {
  std::memcpy(buffer + bookmark_offset_, data, bookmark_size_);
}

TBookmarkFlag TOvPrimDataset::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(buffer[record_info_offset_ + 5]);
}

void TOvPrimDataset::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  buffer[record_info_offset_ + 5] = static_cast<uint8_t>(flag);
}

TGetResult TOvPrimDataset::GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) {
  int32_t recno = 0;
  uint16_t status = 0;
  switch (mode) {
    case TGetMode::gmCurrent: status = OviGetRecord(buffer, recno); break;
    case TGetMode::gmNext: status = OviGetNextRecord(buffer, recno); break;
    case TGetMode::gmPrior: status = OviGetPriorRecord(buffer, recno); break;
  }
  if (status == kOviAtBeginning) return TGetResult::grBOF;
  if (status == kOviAtEnd) return TGetResult::grEOF;
  if (status != 0) {
    if (do_check) Check(status);
    return TGetResult::grError;
  }
  PutInt32(buffer + record_info_offset_, recno);
  buffer[record_info_offset_ + 4] = 0;
  SetBookmarkFlag(buffer, TBookmarkFlag::bfCurrent);
  GetCalcFields(buffer);
  Check(OviBookmarkOf(recno, buffer + bookmark_offset_));
  return TGetResult::grOK;
}

bool TOvPrimDataset::GetCurrentRecord(TRecordBuffer buffer) {
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != TBookmarkFlag::bfCurrent) return false;
  UpdateCursorPos();
  int32_t recno = 0;
  return OviGetRecord(buffer, recno) == 0;
}

// ---- Cursor moves ----

void TOvPrimDataset::InternalFirst() { Check(OviSetToBegin()); }

void TOvPrimDataset::InternalLast() { Check(OviSetToEnd()); }

void TOvPrimDataset::InternalGotoBookmark(const uint8_t* bookmark) { Check(OviGotoBookmark(bookmark)); }

void TOvPrimDataset::InternalSetToRecord(TRecordBuffer buffer) { InternalGotoBookmark(buffer + bookmark_offset_); }

int32_t TOvPrimDataset::GetRecordCount() {
  CheckActive();
  return OviGetRecordCount();
}

// An empty window has no record: 0 rather than the number a stale buffer
// still carries.
int32_t TOvPrimDataset::GetRecNo() {
  CheckActive();
  if (State() == TDataSetState::dsCalcFields) return RecordNumberOf(CalcBuffer());
  if (State() == TDataSetState::dsBrowse && IsEmpty()) return 0;
  return RecordNumberOf(ActiveBuffer());
}

void TOvPrimDataset::SetRecNo(int32_t value) {
  CheckBrowseMode();
  if (value == GetRecNo()) return;
  DoBeforeScroll();
  Check(OviGoToRecord(value));
  Resync({.center = true});
  DoAfterScroll();
}

// ---- Editing ----

void TOvPrimDataset::InternalEdit() {
  int32_t recno = 0;
  Check(OviGetRecord(ActiveBuffer(), recno));
}

void TOvPrimDataset::InternalInsert() { Check(OviForceReread()); }

void TOvPrimDataset::InternalAddRecord(TRecordBuffer buffer, bool append) {
  Check(append ? OviAppendRecord(buffer) : OviInsertRecord(buffer));
}

void TOvPrimDataset::InternalPost() {
  if (State() == TDataSetState::dsEdit) {
    Check(OviPostRecord(ActiveBuffer()));
  } else {
    Check(OviInsertRecord(ActiveBuffer()));
  }
}

void TOvPrimDataset::InternalDelete() { Check(OviDeleteRecord()); }

// On an empty table the window must not keep a stale record around the
// new one.
void TOvPrimDataset::DoOnNewRecord() {
  if (OviGetRecordCount() < 1) ClearBuffers();
  TDataSet::DoOnNewRecord();
}

// ---- Field values ----

bool TOvPrimDataset::GetFieldData(TField* field, void* buffer) {
  TRecordBuffer record = GetActiveRecBuf();
  if (record == nullptr) return false;
  if (field->FieldNo() > 0) {
    bool is_null = true;
    Check(OviGetFieldData(field, record, is_null, buffer));
    return buffer == nullptr || !is_null;
  }
  if (!field->Calculated() || !OneOf(State(), {TDataSetState::dsBrowse, TDataSetState::dsEdit, TDataSetState::dsInsert,
                                               TDataSetState::dsCalcFields})) {
    return false;
  }
  const uint8_t* slot = record + record_data_size_ + field->Offset();
  if (slot[0] == 0) return false;
  if (buffer != nullptr) std::memcpy(buffer, slot + 1, static_cast<size_t>(field->DataSize()));
  return true;
}

void TOvPrimDataset::SetFieldData(TField* field, const void* buffer) {
  const TDataSetState state = State();
  if (!OneOf(state, {TDataSetState::dsEdit, TDataSetState::dsInsert, TDataSetState::dsSetKey,
                     TDataSetState::dsCalcFields, TDataSetState::dsFilter, TDataSetState::dsNewValue})) {
    DatabaseError("Dataset not in edit or insert mode");
  }
  TRecordBuffer record = GetActiveRecBuf();
  if (field->Calculated()) {
    if (record != nullptr) {
      uint8_t* slot = record + record_data_size_ + field->Offset();
      slot[0] = buffer != nullptr ? 1 : 0;
      const size_t size = static_cast<size_t>(field->DataSize());
      if (buffer != nullptr) {
        std::memcpy(slot + 1, buffer, size);
      } else {
        std::memset(slot + 1, 0, size);
      }
    }
  } else {
    if (state == TDataSetState::dsCalcFields) DatabaseError("Dataset not in edit or insert mode");
    if (field->ReadOnly() && state != TDataSetState::dsSetKey && state != TDataSetState::dsFilter) {
      DatabaseError("Field '" + field->DisplayName() + "' cannot be modified");
    }
    field->Validate(buffer);
    if (field->FieldKind() != TFieldKind::fkInternalCalc && record != nullptr) {
      Check(OviSetFieldData(field, record, buffer));
    }
  }
  if (!OneOf(state, {TDataSetState::dsCalcFields, TDataSetState::dsFilter, TDataSetState::dsNewValue})) {
    DataFieldChanged(field);
  }
}

// ---- Bookmarks ----

bool TOvPrimDataset::BookmarkValid(const TBookmark& bookmark) {
  if (!cursor_open_ || bookmark.size() != bookmark_size_) return false;
  CursorPosChanged();
  int32_t recno = 0;
  return OviGotoBookmark(bookmark.data()) == 0 && OviGetRecord(nullptr, recno) == 0;
}

int TOvPrimDataset::CompareBookmarks(const TBookmark& b1, const TBookmark& b2) {
  if (b1.empty() || b2.empty()) return b1.empty() == b2.empty() ? 0 : (b1.empty() ? 1 : -1);
  if (!cursor_open_) return 0;
  if (b1.size() != bookmark_size_ || b2.size() != bookmark_size_) DatabaseError("Invalid bookmark");
  int result = 0;
  Check(OviCompareBookmarks(b1.data(), b2.data(), result));
  return result;
}

// ---- Searching ----

bool TOvPrimDataset::FindRecord(bool restart, bool go_forward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  UpdateCursorPos();
  CursorPosChanged();
  int32_t recno = 0;
  uint16_t status = 0;
  if (go_forward) {
    if (restart) Check(OviSetToBegin());
    status = OviGetNextRecord(nullptr, recno);
  } else {
    if (restart) Check(OviSetToEnd());
    status = OviGetPriorRecord(nullptr, recno);
  }
  if (status == 0) {
    Resync({.exact = true, .center = true});
    SetFound(true);
  }
  if (Found()) DoAfterScroll();
  return Found();
}

// Pending edits are posted first: the window is rebuilt around the hit.
bool TOvPrimDataset::Locate(const std::string& key_fields, const std::vector<TVarValue>& key_values,
                            TLocateOptions options) {
  CheckBrowseMode();
  DoBeforeScroll();
  UpdateCursorPos();
  const bool found = OviLocateRecord(key_fields, key_values, options, true);
  CursorPosChanged();
  if (found) {
    Resync({.exact = true, .center = true});
    DoAfterScroll();
  }
  return found;
}

// The hit is fetched into the temporary buffer: an unsynchronised locate
// would leave nothing there to read. The window and the active record stay;
// the cursor finds its way back through UpdateCursorPos.
std::vector<TVarValue> TOvPrimDataset::Lookup(const std::string& key_fields, const std::vector<TVarValue>& key_values,
                                              const std::string& result_fields) {
  CheckActive();
  std::vector<TVarValue> result;
  std::vector<TField*> fields;
  for (const std::string& name : SplitFieldNames(result_fields)) fields.push_back(FieldByName(name));
  UpdateCursorPos();
  const bool found = OviLocateRecord(key_fields, key_values, TLocateOptions{}, true);
  CursorPosChanged();
  int32_t recno = 0;
  if (!found || OviGetRecord(TempBuffer(), recno) != 0) return result;
  PutInt32(TempBuffer() + record_info_offset_, recno);
  const TDataSetState old = SetTempState(TDataSetState::dsCalcFields);
  try {
    CalculateFields(TempBuffer());
    for (TField* f : fields) result.push_back(f->Value());
  } catch (...) {
    RestoreState(old);
    throw;
  }
  RestoreState(old);
  return result;
}

}  // namespace ov
