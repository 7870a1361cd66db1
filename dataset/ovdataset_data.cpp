// TOvDataSet: field definitions, record buffers, field values, writes and
// memo texts.
#include <algorithm>
#include <cstring>

#include "dataset/ovdataset.h"
#include "dataset/ovfields.h"
#include "engine/dbf/dbf4.h"

namespace ov {

namespace {

constexpr uint16_t kNotOpen = 1103;

bool Editing(TDataSetState s) { return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert; }

}  // namespace

// ---- Layout and field definitions ----

const FieldDataLayout& TOvDataSet::Layout() {
  if (!layout_) layout_ = props_ ? LayOutFieldData(*props_) : FieldDataLayout{};
  return *layout_;
}

uint16_t TOvDataSet::OviGetRecordSize() { return Layout().record_size; }

void TOvDataSet::InternalInitFieldDefs() {
  FieldDefs().Clear();
  field_offsets_.clear();
  if (!props_) DatabaseError(Name() + ".DbfFields undefined. Set Active to TRUE");
  layout_.reset();
  const FieldDataLayout& layout = Layout();
  for (int n = 1; n <= props_->Count(); ++n) {
    if (props_->Name(n).empty()) continue;
    const FieldSlot& slot = *layout.Slot(n);
    FieldDefs().Add(TFieldDef{props_->Name(n), slot.kind, slot.framework_size, n, false});
  }
  field_offsets_ = layout.Offsets();
}

TFieldClass TOvDataSet::GetFieldClass(TFieldType type) {
  switch (type) {
    case TFieldType::ftInteger: return &MakeField<TOvIntegerField>;
    case TFieldType::ftFloat: return &MakeField<TOvFloatField>;
    case TFieldType::ftDate: return &MakeField<TOvDateField>;
    default: return TOvPrimDataset::GetFieldClass(type);
  }
}

// ---- Record buffers ----

void TOvDataSet::CopyToRecord(const uint8_t* buffer) {
  if (props_) CopyBufferToRecord(*props_, Layout(), buffer);
}

void TOvDataSet::CopyFromRecord(uint8_t* buffer) {
  if (props_) CopyRecordToBuffer(*props_, Layout(), buffer);
}

void TOvDataSet::FillBlankRecord(TRecordBuffer buffer) {
  std::memset(buffer, 0, RecordBufferSize());
  CopyFromRecord(buffer);
  const uint8_t one[4] = {1, 0, 0, 0};
  std::memcpy(buffer + RecordInfoOffset(), one, sizeof one);
  SetBookmarkFlag(buffer, TBookmarkFlag::bfCurrent);
  OviSetToBookmark(buffer + BookmarkOffset());
}

TGetResult TOvDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) {
  if (IsLive()) return TOvPrimDataset::GetRecord(buffer, mode, do_check);
  FillBlankRecord(buffer);
  return TGetResult::grOK;
}

void TOvDataSet::InternalCancel() {
  SettleMemos(false);
  if (TRecordBuffer active = ActiveBuffer()) std::memset(active, 0, RecordBufferSize());
}

// ---- Field values ----

uint16_t TOvDataSet::OviGetFieldData(TField* field, TRecordBuffer record, bool& is_null, void* value) {
  const FieldSlot* slot = Layout().Slot(field->FieldNo());
  if (slot == nullptr || slot->size == 0) {
    is_null = true;
    return 0;
  }
  if (value == nullptr) {
    is_null = false;
    return 0;
  }
  const auto size = static_cast<size_t>(field->DataSize());
  is_null = !GetFieldValue(record + slot->offset, *slot, field->DataType(), value, size);
  return 0;
}

uint16_t TOvDataSet::OviSetFieldData(TField* field, TRecordBuffer record, const void* value) {
  if (!props_) return 0;
  const auto size = static_cast<size_t>(field->DataSize());
  EngineCall([&] { SetFieldValue(*props_, Layout(), record, field->FieldNo(), field->DataType(), value, size); });
  return 0;
}

// ---- Writes ----

uint16_t TOvDataSet::OviInitRecord(TRecordBuffer /*buffer*/) {
  if (!IsLive()) return 0;
  return EngineCall([this]() -> uint16_t {
    if (!SelectArea("OviInitRecord")) return kNotOpen;
    ClearRecord();
    return 0;
  });
}

uint16_t TOvDataSet::OviAppendRecord(TRecordBuffer buffer) {
  buffer[0] = 0;
  CopyToRecord(buffer);
  // A refused lock appended nothing: the cursor keeps its place.
  const bool appended = s_AppendWithLock();
  SettleMemos(appended);
  if (appended) at_beginning_ = at_end_ = false;
  return 0;
}

uint16_t TOvDataSet::OviInsertRecord(TRecordBuffer buffer) { return OviAppendRecord(buffer); }

uint16_t TOvDataSet::OviDeleteRecord() {
  s_DeleteWithLock();
  if (s_IsEmptyDbf()) Resync({});
  return 0;
}

uint16_t TOvDataSet::OviPostRecord(TRecordBuffer buffer) {
  if (at_beginning_) return kOviAtBeginning;
  if (at_end_) return kOviAtEnd;
  CopyToRecord(buffer);
  SettleMemos(s_ReplaceWithLock());
  return 0;
}

// ---- Memo texts ----

const FieldSlot* TOvDataSet::MemoSlot(TField* field) {
  const FieldSlot* slot = Layout().Slot(field->FieldNo());
  return slot != nullptr && slot->kind == TFieldType::ftMemo && slot->size >= 4 ? slot : nullptr;
}

int32_t TOvDataSet::ActiveMemoBlock(TField* field) {
  const FieldSlot* slot = MemoSlot(field);
  TRecordBuffer record = GetActiveRecBuf();
  int32_t block = 0;
  if (slot != nullptr && record != nullptr) std::memcpy(&block, record + slot->offset, sizeof block);
  return block;
}

std::string TOvDataSet::GetBlobText(TField* field) {
  const int32_t block = ActiveMemoBlock(field);
  return block == 0 ? std::string() : ReadMemo(block);
}

// A dataset that is not live holds its table only while it reads.
std::string TOvDataSet::ReadMemo(int32_t block) {
  const bool brief = !IsLive();
  if (brief) DirectOpenClose(true);
  std::string text;
  try {
    text = EngineCall([&] {
      ov::WorkArea* area = SelectArea("GetBlobText") ? CurrentArea() : nullptr;
      const MemoHooks& memo = Areas().memo;
      return area != nullptr && memo.read_text ? memo.read_text(*area, block) : std::string();
    });
  } catch (...) {
    if (brief) DirectOpenClose(false);
    throw;
  }
  if (brief) DirectOpenClose(false);
  return text;
}

int32_t TOvDataSet::WriteMemo(const std::string& text, int32_t old_block) {
  return EngineCall([&] {
    ov::WorkArea* area = SelectArea("SetBlobText") ? CurrentArea() : nullptr;
    const MemoHooks& memo = Areas().memo;
    return area != nullptr && memo.write_text ? memo.write_text(*area, text, old_block) : old_block;
  });
}

void TOvDataSet::ReleaseMemo(int32_t block) {
  if (block <= 0) return;
  EngineCall([&] {
    ov::WorkArea* area = SelectArea("SetBlobText") ? CurrentArea() : nullptr;
    const MemoHooks& memo = Areas().memo;
    if (area != nullptr && memo.release) memo.release(*area, block);
  });
}

void TOvDataSet::SettleMemos(bool record_written) {
  std::vector<PendingMemo> pending;
  pending.swap(pending_memos_);
  for (const PendingMemo& p : pending) {
    if (record_written) {
      if (p.stored != p.written) ReleaseMemo(p.stored);
    } else if (p.written != p.stored) {
      ReleaseMemo(p.written);
    }
  }
}

void TOvDataSet::SetBlobText(TField* field, const std::string& text) {
  if (!Editing(State())) DatabaseError("Dataset not in edit or insert mode");
  const FieldSlot* slot = MemoSlot(field);
  TRecordBuffer record = ActiveBuffer();
  if (slot == nullptr || record == nullptr || field->ReadOnly() || !IsLive()) {
    DatabaseError("Field '" + field->DisplayName() + "' cannot be modified");
  }
  int32_t current = 0;
  std::memcpy(&current, record + slot->offset, sizeof current);
  const int n = field->FieldNo();
  auto it =
      std::find_if(pending_memos_.begin(), pending_memos_.end(), [n](const PendingMemo& p) { return p.field_no == n; });
  if (it == pending_memos_.end()) it = pending_memos_.insert(pending_memos_.end(), PendingMemo{n, current, 0});
  const int32_t block = StoreBlob(field, text);
  const int32_t superseded = it->written;
  it->written = block;
  // A failed write leaves the slot as it was.
  if (superseded != block) ReleaseMemo(superseded);
}

int32_t TOvDataSet::StoreBlob(TField* field, const std::string& text) {
  // Never over the stored memo: the record may yet not be written.
  const int32_t block = WriteMemo(text, 0);
  TRecordBuffer record = ActiveBuffer();
  std::memcpy(record + MemoSlot(field)->offset, &block, sizeof block);
  CopyFieldToRecord(*props_, Layout(), record, field->FieldNo());
  DataFieldChanged(field);
  return block;
}

}  // namespace ov
