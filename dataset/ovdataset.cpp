// TOvDataSet: construction, properties, the work area, opening and closing,
// and the services the component classes build on.
#include "dataset/ovdataset.h"

#include <cstring>

#include "engine/dbf/dbf4.h"

namespace ov {

namespace {

constexpr uint16_t kNotOpen = 1103;

bool Editing(TDataSetState s) {
  return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert || s == TDataSetState::dsSetKey;
}

}  // namespace

TOvDataSet::TOvDataSet() = default;

TOvDataSet::~TOvDataSet() { CloseOnDestroy(); }

void TOvDataSet::SetDesignTime(bool on) {
  design_time_ = on;
  // In a designer an engine error must not end the host program.
  if (on) SetRaiseErrors(true);
}

// ---- Properties ----

void TOvDataSet::SetDbfFileName(const std::string& name) {
  const bool was_active = Active();
  Close();
  std::string file = TrimText(name);
  if (!file.empty() && file.back() != '.') file = DefaultExt(file, "DBF");
  dbf_file_name_ = file;
  if (!file.empty() && was_active) Open();
}

void TOvDataSet::SetHideDeletedRecs(bool on) {
  if (on == hide_deleted_recs_) return;
  hide_deleted_recs_ = on;
  if (!Active() || design_time_) return;
  UpdateCursorPos();
  EngineCall([&] {
    if (!SelectArea("SetHideDeletedRecs")) return;
    SetIgnoreDel(on);
    // With every record hidden before, the area stood past the end.
    if (!LeaveInvisible() && dEOF()) GoTop();
  });
  ResyncAfterMove();
}

void TOvDataSet::StructureListing(TStrings& strings, bool sorted) const {
  ov::StructureListing(props_.get(), strings, sorted);
}

// ---- The work area ----

bool TOvDataSet::SelectArea(std::string_view routine) {
  if (work_area_ == 0) {
    ReportError(kNotOpen, OemToStr("Database is not open") + " [" + Name() + "." + std::string(routine) + "]");
    return false;
  }
  if (SelectedArea() != work_area_) Select(work_area_);
  AreaConfig().AnsiTables = table_language_ == TOvTableLanguage::tlAnsi;
  return true;
}

// A dataset that is not live keeps the number of an area it no longer
// holds: another table may have moved in since.
void TOvDataSet::SelectOwnOrFreeArea() {
  Select(work_area_);
  if (work_area_ != 0 && !holds_table_ && CurrentArea() != nullptr) Select(0);
}

bool TOvDataSet::AskIsEmpty() {
  if (!IsLive()) return false;  // no table is held to ask
  // The beginning flag first: it is a plain flag, while the end test asks
  // the file for its size.
  const bool empty = EngineCall([this] { return SelectArea("s_IsEmptyDbf") && dBOF() && dEOF(); });
  // Only that answer is kept: an empty table may gain records from another
  // process at any time.
  if (!empty) KnownNotEmpty();
  return empty;
}

bool TOvDataSet::PastEnd() {
  return IsLive() && EngineCall([this] { return SelectArea("ResyncAfterMove") && dEOF(); });
}

uint16_t TOvDataSet::SafeGo(int32_t n) {
  if (!IsLive()) return 0;  // the placeholder record stands everywhere
  return EngineCall([&]() -> uint16_t {
    if (!SelectArea("SafeGo")) return kNotOpen;
    if (n < 1 || n > RecCount()) return OviSetToEnd();
    GO(n);
    at_beginning_ = at_end_ = false;
    return 0;
  });
}

void TOvDataSet::DirectOpenClose(bool open) {
  EngineCall([&] {
    if (!Active()) {
      ReportError(kNotOpen, "DataSet must be active. " + Name());
      return;
    }
    if (IsLive()) return;
    if (open) {
      SelectOwnOrFreeArea();
      if (Errors().DbfError != 0) return;
      work_area_ = static_cast<uint8_t>(SelectedArea());
      if (!SelectArea("DirectOpenClose")) return;
      USE(dbf_file_name_);
      holds_table_ = CurrentArea() != nullptr;
    } else if (holds_table_ && SelectArea("DirectOpenClose")) {
      holds_table_ = false;
      USE("");
    }
  });
}

void TOvDataSet::ResyncAfterMove() {
  if (Errors().DbfError != 0) return;
  if (Editing(State())) {
    SettleMemos(false);
    SetState(TDataSetState::dsBrowse);
  }
  // Past the end there is no record to resynchronise on exactly: the
  // window is rebuilt from the end instead.
  if (s_IsEmptyDbf() || PastEnd()) {
    if (TRecordBuffer active = ActiveBuffer()) std::memset(active, 0, RecordBufferSize());
    at_beginning_ = at_end_ = true;
    Resync({});
  } else {
    at_beginning_ = at_end_ = false;
    Resync({.exact = true});
  }
  DoAfterScroll();
}

void TOvDataSet::WriteBackRecord() {
  if (!Editing(State())) Edit();
  if (TRecordBuffer active = ActiveBuffer()) CopyToRecord(active);
}

void TOvDataSet::Post() {
  if (!Editing(State())) return;
  TOvPrimDataset::Post();
  if (s_IsEmptyDbf()) Resync({});
}

// ---- Opening and closing ----

std::string TOvDataSet::OviErrorText(uint16_t code) {
  const std::string text = ErrorText();
  return text.empty() ? TOvPrimDataset::OviErrorText(code) : text;
}

uint16_t TOvDataSet::OviOpen() {
  if (dbf_file_name_.empty()) return kOviNoFileName;
  return EngineCall([this] { return OpenInArea(); });
}

// The outcome is inspected here and raised by the caller as a dataset
// error, so engine reports are only recorded meanwhile.
uint16_t TOvDataSet::OpenInArea() {
  props_.reset();
  layout_.reset();
  field_offsets_.clear();
  QuietErrors quiet;
  Errors().DbfError = 0;
  const int remembered = SelectedArea();
  SelectOwnOrFreeArea();
  if (const uint16_t code = Errors().DbfError; code != 0) {
    Select(remembered);
    Errors().DbfError = code;
    return code;
  }
  AreaConfig().AnsiTables = table_language_ == TOvTableLanguage::tlAnsi;
  bool ok = false;
  if (IsLive()) {
    ok = OpenTableFile(dbf_file_name_) && Errors().DbfError == 0;
    if (ok) SetIgnoreDel(hide_deleted_recs_);
    ok = ok && Errors().DbfError == 0;
    if (ok) AfterOpenSteps();
  } else {
    USE(dbf_file_name_);
    ok = Errors().DbfError == 0 && CurrentArea() != nullptr;
    if (ok) {
      ClearRecord();  // the placeholder record is a blank one
      AfterOpenSteps();
    }
  }
  const uint16_t code = ok ? 0 : (Errors().DbfError != 0 ? Errors().DbfError : kOviOpenFailed);
  // A failed open must not leave the table behind in the area; a dataset
  // that is not live lets go of it at once.
  if ((!ok || !IsLive()) && CurrentArea() != nullptr) {
    CloseArea();
    Errors().DbfError = code;
  }
  holds_table_ = ok && IsLive();
  return code;
}

void TOvDataSet::AfterOpenSteps() {
  if (design_time_) RewriteDbfFields(Name(), dbf_fields_);
  work_area_ = static_cast<uint8_t>(SelectedArea());
  props_ = TDbfFieldProps::FromCurrentArea(IsLive());
}

uint16_t TOvDataSet::OviClose() {
  return EngineCall([this]() -> uint16_t {
    if (holds_table_ && work_area_ != 0) {
      SettleMemos(false);  // an edit dropped by the close
      Select(work_area_);
      holds_table_ = false;
      USE("");
    }
    work_area_ = 0;
    return 0;
  });
}

}  // namespace ov
