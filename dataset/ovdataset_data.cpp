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
// The state byte of a buffer's record copy: pending, and pending with the
// stored dates copied too.
constexpr uint8_t kPending = 1;
constexpr uint8_t kPendingWithDates = 2;
constexpr size_t kStoredDateSize = 8;

bool Editing(TDataSetState s) { return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert; }

}  // namespace

// ---- Layout and field definitions ----

const FieldDataLayout& TOvDataSet::LayOut() {
  layout_ = props_ ? LayOutFieldData(*props_) : FieldDataLayout{};
  snapshot_ = props_ ? PlanSnapshot(*props_, layout_->record_size) : Snapshot{};
  return *layout_;
}

uint16_t TOvDataSet::OviGetRecordSize() { return static_cast<uint16_t>(Layout().record_size + snapshot_.size); }

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

void TOvDataSet::CopyToRecord(uint8_t* buffer) {
  if (!props_) return;
  Materialize(buffer);
  CopyBufferToRecord(*props_, Layout(), buffer);
}

void TOvDataSet::CopyFromRecord(uint8_t* buffer) {
  if (!props_) return;
  const FieldDataLayout& layout = Layout();
  if (snapshot_.size == 0) return CopyRecordToBuffer(*props_, layout, buffer);
  const uint8_t* record = props_->Address(0);
  if (record == nullptr) return;
  buffer[0] = record[0];
  uint8_t* snap = buffer + snapshot_.at;
  std::memcpy(snap + 1, record, snapshot_.typed_size);
  uint8_t state = kPending;
  // Stored dates only of the area's own record (not of a private copy).
  const ov::WorkArea* area = snapshot_.date_fields.empty() ? nullptr : CurrentArea();
  if (area != nullptr && area->typed == record) {
    const auto& fields = area->table.fields;
    for (const uint16_t i : snapshot_.date_fields) {
      if (i >= fields.size() || fields[i].type != 'D') continue;
      std::memcpy(buffer + snapshot_.stored_at[i], area->table.record.data() + fields[i].offset, kStoredDateSize);
      state = kPendingWithDates;
    }
  }
  snap[0] = state;
}

TOvDataSet::Snapshot TOvDataSet::PlanSnapshot(const TDbfFieldProps& props, uint16_t at) {
  Snapshot plan;
  plan.at = at;
  plan.typed_size = props.RecordSize();
  uint32_t end = at + 1u + plan.typed_size;
  for (const TDTField& f : props.Fields()) {
    plan.stored_at.push_back(f.type == 'D' ? static_cast<uint16_t>(std::min<uint32_t>(end, 0xFFFF)) : 0);
    const bool same = f.type == 'C' || f.type == 'M' || ((f.type == 'N' || f.type == 'F') && f.decimals == 0);
    plan.direct_at.push_back(same ? static_cast<uint16_t>(std::min<uint32_t>(at + 1u + f.offset, 0xFFFF)) : 0);
    if (f.type == 'D') {
      plan.date_fields.push_back(static_cast<uint16_t>(plan.stored_at.size() - 1));
      end += kStoredDateSize;
    }
  }
  // Too large for a buffer: fall back to converting whole records.
  if (plan.typed_size == 0 || end > 0xFFFF) return Snapshot{};
  plan.size = static_cast<uint16_t>(end - at);
  return plan;
}

const uint8_t* TOvDataSet::PendingSlotBytes(const uint8_t* record, int n, const FieldSlot& slot,
                                            uint8_t (&scratch)[16]) {
  // SlotBytes has answered the fields whose typed bytes are their slot's.
  const size_t i = static_cast<size_t>(n - 1);
  const uint8_t state = record[snapshot_.at];
  const TDTField& f = props_->Fields()[i];
  const uint8_t* typed = record + snapshot_.at + 1 + f.offset;
  if (slot.size > sizeof scratch) return record + slot.offset;  // no such slot kind
  const size_t at = snapshot_.stored_at[i];
  const char* stored = state == kPendingWithDates && at != 0 ? reinterpret_cast<const char*>(record + at) : nullptr;
  TypedFieldToSlot(f, slot, typed, stored, scratch);
  return scratch;
}

void TOvDataSet::Materialize(uint8_t* record) {
  if (snapshot_.size == 0 || record == nullptr || record[snapshot_.at] == 0) return;
  const FieldDataLayout& layout = Layout();
  for (int n = 1; n <= static_cast<int>(layout.slots.size()); ++n) {
    const FieldSlot& slot = layout.slots[static_cast<size_t>(n - 1)];
    if (slot.size == 0) continue;
    uint8_t scratch[16];
    const uint8_t* bytes = SlotBytes(record, n, slot, scratch);
    std::memmove(record + slot.offset, bytes, slot.size);
  }
  record[snapshot_.at] = 0;
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
  uint8_t scratch[16];
  is_null = !GetFieldValue(SlotBytes(record, field->FieldNo(), *slot, scratch), *slot, field->DataType(), value, size);
  return 0;
}

bool TOvDataSet::GetFieldData(TField* field, void* buffer) {
  // A table field's value is answered here: every read of a field by its
  // type comes this way.
  const FieldSlot* slot = Layout().Slot(field->FieldNo());
  if (slot == nullptr || slot->size == 0 || buffer == nullptr) return TOvPrimDataset::GetFieldData(field, buffer);
  const uint8_t* record = ActiveRecord();
  if (record == nullptr) return false;
  uint8_t scratch[16];
  const uint8_t* bytes = SlotBytes(record, field->FieldNo(), *slot, scratch);
  const auto size = static_cast<size_t>(field->DataSize());
  // Whole numbers, memo blocks and logicals are their slots' bytes: the
  // common reads, answered without the general conversion.
  const TFieldType kind = field->DataType();
  if (size == slot->size && (kind == TFieldType::ftInteger || kind == TFieldType::ftBoolean)) {
    if (size == 4) {
      std::memcpy(buffer, bytes, 4);
      return true;
    }
    if (size == 2) {
      std::memcpy(buffer, bytes, 2);
      return true;
    }
  }
  return GetFieldValue(bytes, *slot, kind, buffer, size);
}

bool TOvDataSet::GetFieldString(TField* field, std::string& text) {
  const FieldSlot* slot = Layout().Slot(field->FieldNo());
  if (slot == nullptr || slot->kind != TFieldType::ftString || field->DataType() != TFieldType::ftString) {
    return TOvPrimDataset::GetFieldString(field, text);
  }
  const uint8_t* record = ActiveRecord();
  if (record == nullptr) return false;
  uint8_t scratch[16];
  const uint8_t* bytes = SlotBytes(record, field->FieldNo(), *slot, scratch);
  const auto* chars = reinterpret_cast<const char*>(bytes + 1);
  // As GetFieldValue and a NUL-terminated read of it give it.
  size_t n = std::min(SlotTextLength(bytes, *slot), static_cast<size_t>(std::max(field->DataSize() - 1, 0)));
  if (const void* nul = std::memchr(chars, '\0', n)) n = static_cast<size_t>(static_cast<const char*>(nul) - chars);
  text.assign(chars, n);
  return true;
}

bool TOvDataSet::GetFieldDate(TField* field, int& year, int& month, int& day) {
  // A pending date that still shows its stored digits is read from them,
  // without the day number and back.
  const int n = field->FieldNo();
  const FieldSlot* slot = Layout().Slot(n);
  const bool date = slot != nullptr && slot->kind == TFieldType::ftDate && field->DataType() == TFieldType::ftDate;
  const uint8_t* record = date && snapshot_.size != 0 ? ActiveRecord() : nullptr;
  if (record != nullptr && record[snapshot_.at] == kPendingWithDates) {
    const size_t at = snapshot_.stored_at[static_cast<size_t>(n - 1)];
    const uint8_t* typed = record + snapshot_.at + 1 + props_->Fields()[static_cast<size_t>(n - 1)].offset;
    if (at != 0 && StoredDateYmd(reinterpret_cast<const char*>(record + at), typed, year, month, day)) return true;
  }
  return TOvPrimDataset::GetFieldDate(field, year, month, day);
}

uint16_t TOvDataSet::OviSetFieldData(TField* field, TRecordBuffer record, const void* value) {
  if (!props_) return 0;
  const auto size = static_cast<size_t>(field->DataSize());
  Materialize(record);
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

int32_t TOvDataSet::ActiveMemoBlock(TField* field) { return MemoBlockIn(ActiveRecord(), field); }

int32_t TOvDataSet::MemoBlockIn(const uint8_t* record, TField* field) {
  const FieldSlot* slot = MemoSlot(field);
  int32_t block = 0;
  uint8_t scratch[16];
  if (slot != nullptr && record != nullptr) {
    std::memcpy(&block, SlotBytes(record, field->FieldNo(), *slot, scratch), sizeof block);
  }
  return block;
}

void TOvDataSet::SetActiveMemoBlock(TField* field, int32_t block) {
  const FieldSlot* slot = MemoSlot(field);
  TRecordBuffer record = ActiveBuffer();
  if (slot == nullptr || record == nullptr) return;
  Materialize(record);
  std::memcpy(record + slot->offset, &block, sizeof block);
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
  const int32_t current = MemoBlockIn(record, field);
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
  SetActiveMemoBlock(field, block);
  CopyFieldToRecord(*props_, Layout(), ActiveBuffer(), field->FieldNo());
  DataFieldChanged(field);
  return block;
}

}  // namespace ov
