// TDataSet: opening and closing, field objects, data links, hooks.
#include "dataset/tdataset.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "dataset/dataset_state.h"
#include "engine/support/ascii.h"
#include "engine/support/ovcommon.h"

namespace ov {

bool TDataSet::GetFieldDate(TField* field, int& year, int& month, int& day) {
  int32_t number = 0;
  if (!GetFieldData(field, &number)) return false;
  DecodeDate(static_cast<TDateTime>(number) - kDateDelta, year, month, day);
  return true;
}

bool TDataSet::GetFieldString(TField* field, std::string& text) {
  std::vector<char> buffer(static_cast<size_t>(std::max(field->DataSize(), 1)), '\0');
  if (!GetFieldData(field, buffer.data())) return false;
  text.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
  return true;
}

namespace {

bool SameName(const std::string& a, const std::string& b) { return EqualsIgnoringAsciiCase(a, b); }

const char* TypeName(TFieldType type) {
  switch (type) {
    case TFieldType::ftString: return "String";
    case TFieldType::ftInteger: return "Integer";
    case TFieldType::ftFloat: return "Float";
    case TFieldType::ftBoolean: return "Boolean";
    case TFieldType::ftDate: return "Date";
    case TFieldType::ftTime: return "Time";
    case TFieldType::ftDateTime: return "DateTime";
    case TFieldType::ftMemo: return "Memo";
    default: return "Unknown";
  }
}

void ShowException(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    ShowMessageBox(e.what(), "Error", kMbIconError);
  } catch (...) {
    ShowMessageBox("Unknown exception", "Error", kMbIconError);
  }
}

TExceptionHandler& Handler() {
  TExceptionHandler& handler = DatasetGlobals().exception_handler;
  if (!handler) handler = ShowException;
  return handler;
}

}  // namespace

std::vector<std::string> SplitFieldNames(const std::string& names) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string name = TrimText(names.substr(start, end - start));
    if (!name.empty()) out.push_back(name);
    start = end + 1;
  }
  return out;
}

TExceptionHandler SetApplicationExceptionHandler(TExceptionHandler handler) {
  TExceptionHandler old = Handler();
  Handler() = handler ? std::move(handler) : TExceptionHandler(ShowException);
  return old;
}

void HandleApplicationException(const std::exception_ptr& error) { Handler()(error); }

// ---- Data links ----

TDataLink::~TDataLink() {
  if (dataset_ != nullptr) dataset_->RemoveDataLink(this);
}

void TDataLink::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_ != nullptr) dataset_->RemoveDataLink(this);
  if (dataset != nullptr) dataset->AddDataLink(this);
}

void TDataLink::SetBufferCount(int count) {
  buffer_count_ = std::max(count, 1);
  if (dataset_ != nullptr) dataset_->ApplyBufferCount();
}

void TDataSet::AddDataLink(TDataLink* link) {
  if (std::find(links_.begin(), links_.end(), link) != links_.end()) return;
  if (link->dataset_ != nullptr) link->dataset_->RemoveDataLink(link);
  links_.push_back(link);
  link->dataset_ = this;
  ApplyBufferCount();
}

// A smaller window takes effect at the next refill; nothing here may
// raise, since links leave from their destructors.
void TDataSet::RemoveDataLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
  link->dataset_ = nullptr;
}

void TDataSet::ForEachLink(const std::function<void(TDataLink&)>& f) {
  const std::vector<TDataLink*> links = links_;  // a hook may unregister
  for (TDataLink* link : links) f(*link);
}

void TDataSet::NotifyDataSetChanged() {
  ForEachLink([](TDataLink& l) { l.DataSetChanged(); });
}

int TDataSet::WantedBufferCount() const {
  int count = 1;
  for (const TDataLink* link : links_) count = std::max(count, link->BufferCount());
  return count;
}

void TDataSet::ApplyBufferCount() {
  if (state_ != TDataSetState::dsBrowse || WantedBufferCount() == buffer_count_) return;
  UpdateCursorPos();
  Resync({});
}

// ---- Construction, opening, closing ----

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() {
  for (TDataLink* link : links_) link->dataset_ = nullptr;
}

void TDataSet::CloseOnDestroy() noexcept {
  try {
    Close();
  } catch (...) {
    try {
      InternalHandleException();
    } catch (...) {
    }
  }
}

void TDataSet::InternalHandleException() { HandleApplicationException(std::current_exception()); }

void TDataSet::SetActive(bool active) {
  if (active == Active()) return;
  if (active) {
    OpenDataSet();
  } else {
    CloseDataSet();
  }
}

void TDataSet::OpenDataSet() {
  Fire(BeforeOpen);
  try {
    default_fields_ = fields_.empty();
    OpenCursor(false);
    SetState(TDataSetState::dsBrowse);
    FillWindowFromStart();
  } catch (...) {
    state_ = TDataSetState::dsInactive;
    try {
      if (IsCursorOpen() || !buffers_.empty()) CloseCursor();
    } catch (...) {
      // the first failure is the one to report
    }
    throw;
  }
  ForEachLink([](TDataLink& l) { l.ActiveChanged(); });
  Fire(AfterOpen);
  if (!IsEmpty()) DoAfterScroll();
}

void TDataSet::CloseDataSet() {
  Fire(BeforeClose);
  SetState(TDataSetState::dsInactive);
  CloseCursor();
  ForEachLink([](TDataLink& l) { l.ActiveChanged(); });
  Fire(AfterClose);
}

void TDataSet::OpenCursor(bool info_query) {
  if (info_query) {
    InternalInitFieldDefs();
    return;
  }
  InternalOpen();
  AllocateBuffers(WantedBufferCount());
}

void TDataSet::CloseCursor() {
  FreeBuffers();
  InternalClose();
}

void TDataSet::SetState(TDataSetState state) {
  if (state == state_) return;
  auto editing = [](TDataSetState s) { return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert; };
  const bool was_editing = editing(state_);
  state_ = state;
  modified_ = false;
  if (was_editing != editing(state)) ForEachLink([](TDataLink& l) { l.EditingChanged(); });
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  const TDataSetState old = state_;
  state_ = state;
  return old;
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset");
}

int32_t TDataSet::GetRecordCount() { return -1; }

// ---- Fields ----

TField* TDataSet::AddField(std::unique_ptr<TField> field) {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset");
  field->dataset_ = this;
  fields_.push_back(std::move(field));
  return fields_.back().get();
}

std::vector<TField*> TDataSet::Fields() const {
  std::vector<TField*> out;
  for (const auto& f : fields_) out.push_back(f.get());
  return out;
}

TField* TDataSet::FindField(const std::string& name) const {
  for (const auto& f : fields_) {
    if (SameName(f->FieldName(), name)) return f.get();
  }
  return nullptr;
}

TField* TDataSet::FieldByName(const std::string& name) const {
  TField* field = FindField(name);
  if (field == nullptr) DatabaseError("Field '" + name + "' not found");
  return field;
}

TFieldClass TDataSet::GetFieldClass(TFieldType type) {
  switch (type) {
    case TFieldType::ftString: return &MakeField<TStringField>;
    case TFieldType::ftInteger: return &MakeField<TIntegerField>;
    case TFieldType::ftFloat: return &MakeField<TFloatField>;
    case TFieldType::ftBoolean: return &MakeField<TBooleanField>;
    case TFieldType::ftDate: return &MakeField<TDateField>;
    case TFieldType::ftMemo: return &MakeField<TMemoField>;
    default: return nullptr;
  }
}

void TDataSet::CreateFields() {
  for (const TFieldDef& def : field_defs_.Items()) {
    if (def.type == TFieldType::ftUnknown) continue;  // a column the framework cannot show
    TFieldClass make = GetFieldClass(def.type);
    if (make == nullptr) DatabaseError("Field '" + def.name + "' is of an unknown type");
    std::unique_ptr<TField> field = make();
    field->SetFieldName(def.name);
    field->SetSize(def.size);
    field->SetRequired(def.required);
    field->dataset_ = this;
    fields_.push_back(std::move(field));
  }
}

void TDataSet::DestroyFields() { fields_.clear(); }

void TDataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  blob_field_count_ = 0;
  for (const auto& f : fields_) {
    if (!binding) {
      f->field_no_ = 0;
      continue;
    }
    if (f->Calculated()) {
      if (f->LookupDataSet() == this) DatabaseError("Circular datalinks are not allowed");
      f->field_no_ = -1;
      f->offset_ = calc_fields_size_;
      calc_fields_size_ += f->DataSize() + 1;
      continue;
    }
    const TFieldDef* def = field_defs_.Find(f->FieldName());
    if (def == nullptr) DatabaseError("Field '" + f->FieldName() + "' not found");
    if (def->type != f->DataType()) {
      DatabaseError("Type mismatch for field '" + f->FieldName() + "', expecting: " + TypeName(f->DataType()) +
                    " actual: " + TypeName(def->type));
    }
    f->field_no_ = def->field_no;
    if (f->IsBlob()) ++blob_field_count_;
  }
}

// ---- Blob hooks, searching defaults ----

std::string TDataSet::GetBlobText(TField* /*field*/) { return std::string(); }

void TDataSet::SetBlobText(TField* field, const std::string& /*text*/) {
  DatabaseError("Field '" + field->DisplayName() + "' cannot be modified");
}

bool TDataSet::Locate(const std::string&, const std::vector<TVarValue>&, TLocateOptions) {
  DatabaseError("Capability not supported");
}

std::vector<TVarValue> TDataSet::Lookup(const std::string&, const std::vector<TVarValue>&, const std::string&) {
  DatabaseError("Capability not supported");
}

}  // namespace ov
