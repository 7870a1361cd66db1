// The field list of an open table and the slot layout of its record buffer.
#include <algorithm>

#include "dataset/ucommon.h"
#include "engine/dbf/dbf4.h"

namespace ov {

std::unique_ptr<TDbfFieldProps> TDbfFieldProps::FromCurrentArea(bool live) {
  uint8_t* base = FieldAddress(0);
  WorkArea* area = CurrentArea();
  if (base == nullptr || area == nullptr) return nullptr;
  auto props = std::make_unique<TDbfFieldProps>();
  if (live) {
    props->area_ = SelectedArea();
    props->shared_ = base;
    props->shared_size_ = area->typed_size;
  } else {
    props->owned_.assign(base, base + area->typed_size);
  }
  const int count = FieldCount();
  for (int n = 1; n <= count; ++n) {
    const auto offset = static_cast<uint16_t>(FieldAddress(n) - base);
    props->fields_.push_back(TDTField{Field(n), FieldType(n), static_cast<uint16_t>(FieldLen(n)),
                                      static_cast<uint16_t>(FieldDec(n)), offset});
  }
  return props;
}

std::string TDbfFieldProps::Name(int n) const { return n >= 1 && n <= Count() ? fields_[n - 1].name : ""; }
char TDbfFieldProps::Type(int n) const { return n >= 1 && n <= Count() ? fields_[n - 1].type : '\0'; }
int TDbfFieldProps::Length(int n) const { return n >= 1 && n <= Count() ? fields_[n - 1].length : 0; }
int TDbfFieldProps::Decimals(int n) const { return n >= 1 && n <= Count() ? fields_[n - 1].decimals : 0; }
int TDbfFieldProps::Offset(int n) const { return n >= 1 && n <= Count() ? fields_[n - 1].offset : 0; }

uint8_t* TDbfFieldProps::Record() const {
  if (shared_ == nullptr) return owned_.empty() ? nullptr : owned_.data();
  // The work area's record goes away with its table: answer it only while
  // the area still holds the same record.
  if (area_ < 1 || area_ > kAreaCount) return nullptr;
  const WorkArea* area = Areas().slots[static_cast<size_t>(area_)].get();
  if (area == nullptr || area->typed != shared_ || area->typed_size != shared_size_) return nullptr;
  return shared_;
}

uint8_t* TDbfFieldProps::Address(int n) const {
  uint8_t* record = Record();
  if (record == nullptr || n < 0 || n > Count()) return nullptr;
  return n == 0 ? record : record + fields_[n - 1].offset;
}

FieldSlot SlotFor(char type, int length, int decimals) {
  FieldSlot s;
  switch (type) {
    case 'C': return FieldSlot{0, static_cast<uint16_t>(length + 1), TFieldType::ftString, length};
    case 'D': return FieldSlot{0, 8, TFieldType::ftDate, 0};
    case 'L': return FieldSlot{0, 2, TFieldType::ftBoolean, 0};
    case 'M': return FieldSlot{0, 4, TFieldType::ftMemo, 0};
    case 'N':
    case 'F':
      if (decimals > 0) return FieldSlot{0, 8, TFieldType::ftFloat, length};
      return FieldSlot{0, 4, TFieldType::ftInteger, length};
    default: return s;
  }
}

FieldDataLayout LayOutFieldData(const TDbfFieldProps& props) {
  FieldDataLayout layout;
  uint32_t size = 1;
  for (const TDTField& f : props.Fields()) {
    FieldSlot slot = f.name.empty() ? FieldSlot{} : SlotFor(f.type, f.length, f.decimals);
    slot.offset = static_cast<uint16_t>(size);
    size = std::min<uint32_t>(size + slot.size, 0xFFFF);
    layout.slots.push_back(slot);
  }
  layout.record_size = static_cast<uint16_t>(size);
  return layout;
}

std::vector<uint16_t> FieldDataLayout::Offsets() const {
  std::vector<uint16_t> out;
  for (const FieldSlot& s : slots) out.push_back(s.offset);
  return out;
}

}  // namespace ov
