// TDataSet: editing, posting, deleting and the calculated-field pass.
#include "dataset/tdataset.h"

namespace ov {

namespace {

bool Editing(TDataSetState s) { return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert; }

// Puts the state back however the calculated-field pass ends.
class StateRestorer {
 public:
  StateRestorer(TDataSetState& state, TDataSetState temporary) : state_(state), saved_(state) { state_ = temporary; }
  ~StateRestorer() { state_ = saved_; }
  StateRestorer(const StateRestorer&) = delete;
  StateRestorer& operator=(const StateRestorer&) = delete;

 private:
  TDataSetState& state_;
  TDataSetState saved_;
};

}  // namespace

void TDataSet::CheckCanModify() {
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset");
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  if (Editing(state_)) {
    UpdateRecord();
    if (modified_) {
      Post();
    } else {
      Cancel();
    }
  } else if (state_ == TDataSetState::dsSetKey) {
    Post();
  }
}

void TDataSet::UpdateRecord() {
  if (!Editing(state_) && state_ != TDataSetState::dsSetKey) DatabaseError("Dataset not in edit or insert mode");
  ForEachLink([](TDataLink& l) { l.UpdateData(); });
}

// Runs an operation of the subclass; its error handler may retry it,
// abort quietly or let the error pass.
void TDataSet::CheckOperation(void (TDataSet::*operation)(), const TDataSetErrorEvent& on_error) {
  for (;;) {
    try {
      UpdateCursorPos();
      (this->*operation)();
      return;
    } catch (const EAbort&) {
      throw;
    } catch (const EDatabaseError& e) {
      TDataAction action = TDataAction::daFail;
      if (on_error) on_error(*this, e, action);
      if (action == TDataAction::daFail) throw;
      if (action == TDataAction::daAbort) Abort();
    }
  }
}

void TDataSet::Edit() {
  if (Editing(state_)) return;
  if (record_count_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeEdit);
  CheckOperation(&TDataSet::InternalEdit, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(TDataSetState::dsEdit);
  ForEachLink([](TDataLink& l) { l.RecordChanged(nullptr); });
  Fire(AfterEdit);
}

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, TBookmarkFlag::bfInserted);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeInsert);
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(TDataSetState::dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    SetState(TDataSetState::dsBrowse);
    Resync({});
    throw;
  }
  modified_ = false;
  NotifyDataSetChanged();
  Fire(AfterInsert);
  DoAfterScroll();
}

void TDataSet::DoOnNewRecord() { Fire(OnNewRecord); }

// The new buffer takes the active slot; it carries the bookmark of the
// record it displaced so the cursor can find its place again.
void TDataSet::Insert() {
  BeginInsertAppend();
  UpdateCursorPos();
  const TBookmark displaced = GetBookmark();
  MoveBuffer(record_count_, active_record_);
  TRecordBuffer buffer = ActiveBuffer();
  InitRecord(buffer);
  if (record_count_ == 0) {
    SetBookmarkFlag(buffer, TBookmarkFlag::bfBOF);
  } else if (!displaced.empty()) {
    SetBookmarkData(buffer, displaced.data());
  }
  if (record_count_ < buffer_count_) ++record_count_;
  InternalInsert();
  EndInsertAppend();
}

// The new buffer stands after the last record, with the records before it.
void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer buffer = buffers_[0].get();
  InitRecord(buffer);
  SetBookmarkFlag(buffer, TBookmarkFlag::bfEOF);
  record_count_ = 1;
  bof_ = false;
  GetPriorRecords();
  InternalLast();
  EndInsertAppend();
}

void TDataSet::Post() {
  UpdateRecord();
  if (!Editing(state_)) return;
  Fire(BeforePost);
  CheckOperation(&TDataSet::InternalPost, OnPostError);
  SetState(TDataSetState::dsBrowse);
  Resync({});
  Fire(AfterPost);
}

void TDataSet::Cancel() {
  if (!Editing(state_)) return;
  Fire(BeforeCancel);
  UpdateCursorPos();
  InternalCancel();
  SetState(TDataSetState::dsBrowse);
  Resync({});
  Fire(AfterCancel);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert || state_ == TDataSetState::dsSetKey) {
    Cancel();
    return;
  }
  if (record_count_ == 0) DatabaseError("Cannot perform this operation on an empty dataset");
  CheckCanModify();
  Fire(BeforeDelete);
  DoBeforeScroll();
  CheckOperation(&TDataSet::InternalDelete, OnDeleteError);
  SetState(TDataSetState::dsBrowse);
  Resync({});
  Fire(AfterDelete);
  DoAfterScroll();
}

// ---- Calculated fields and change notification ----

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calc_fields_size_ == 0 || buffer == nullptr) return;
  StateRestorer restore(state_, TDataSetState::dsCalcFields);
  CalculateFields(buffer);
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
  calc_buffer_ = buffer;
  ClearCalcFields(buffer);
  for (const auto& f : fields_) {
    if (f->FieldKind() == TFieldKind::fkLookup) CalcLookupValue(f.get());
  }
  Fire(OnCalcFields);
}

void TDataSet::CalcLookupValue(TField* field) {
  TDataSet* source = field->LookupDataSet();
  if (source == nullptr || !source->Active()) return;
  std::vector<TVarValue> keys;
  for (const std::string& name : SplitFieldNames(field->KeyFields())) keys.push_back(FieldByName(name)->Value());
  const std::vector<TVarValue> found = source->Lookup(field->LookupKeyFields(), keys, field->LookupResultField());
  if (!found.empty()) field->SetValue(found.front());
}

void TDataSet::DataFieldChanged(TField* field) {
  if (Editing(state_)) {
    modified_ = true;
    if (auto_calc_fields_ && field != nullptr && !field->Calculated()) GetCalcFields(ActiveBuffer());
  }
  ForEachLink([field](TDataLink& l) { l.RecordChanged(field); });
}

}  // namespace ov
