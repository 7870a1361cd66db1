// TOvFileDataSet: the production index at open (CreateIndex and IndexList),
// searches in the active order, and the order the dataset walks in.
//
// At open, after USE (nothing at design time):
//
//   IndexList names tags -> table flagged, policy CreateIndex
//   no tags, table flagged -> ciNever;  no tags, no flag -> nothing
//
//   ciNever        open the index; a failure fails the open
//   index exists   leftover semaphore files erased; one still there means
//                  another program works on the table: never rebuilt then
//                  (ciAlways and ciVerifyHeader become ciNotFound)
//   index missing  ciAlways
//   ciVerifyHeader tag lists equal ignoring case -> ciNotFound, else ciAlways
//   ciNotFound     open; missing (2) or unreadable (222, 223) -> ciAlways;
//                  any other failure: a warning, and the table stays
//                  read-only here (IndexFailure)
//   ciAlways       OnBeforeMakeIndex may decline (the flag is cleared);
//                  else build with the progress window, OnAfterMakeIndex
#include <algorithm>
#include <memory>

#include "dataset/db_error.h"
#include "dataset/tfield.h"
#include "dataset/uovfds.h"
#include "dataset/warnings.h"
#include "engine/dbf/dbf4.h"
#include "engine/index/index_engine.h"
#include "engine/index/index_semaphore.h"
#include "engine/index/ovndx.h"
#include "engine/support/error_codes.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/platform.h"

namespace ov {

namespace {

constexpr size_t kTagNameMax = 10;
constexpr size_t kExprMax = 220;
constexpr size_t kFindMax = 100;
constexpr size_t kLocateMax = 255;

bool SameIgnoringCase(const std::string& a, const std::string& b) { return UpperText(a) == UpperText(b); }

// The progress window and the builder's step procedure, for one build.
class BuildProgress {
 public:
  explicit BuildProgress(const std::string& index_file) {
    const UiHooks& ui = Engine().ui;
    if (!ui.ProgressOpen) return;
    ui.ProgressOpen("Indexing " + index_file + "...");
    shown_ = true;
    SetProgressProc(
        [](int) {
          if (Engine().ui.ProgressStep) Engine().ui.ProgressStep();
        },
        100);
  }
  ~BuildProgress() {
    if (!shown_) return;
    SetProgressProc(nullptr, 0);
    if (Engine().ui.ProgressClose) Engine().ui.ProgressClose();
  }
  BuildProgress(const BuildProgress&) = delete;
  BuildProgress& operator=(const BuildProgress&) = delete;

 private:
  bool shown_ = false;
};

// "NAME,D,U,KEY": the key may hold commas itself.
TagDef ParseTagLine(const std::string& line, const std::string& for_line) {
  TagDef def;
  size_t at = 0;
  std::string part[3];
  for (std::string& p : part) {
    const size_t comma = line.find(',', at);
    p = line.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    at = comma == std::string::npos ? line.size() : comma + 1;
  }
  def.name = TrimText(part[0]).substr(0, kTagNameMax);
  def.descending = UpperText(TrimText(part[1])).starts_with("T");
  def.unique = UpperText(TrimText(part[2])).starts_with("T");
  def.key = line.substr(at).substr(0, kExprMax);
  def.for_expr = for_line.substr(0, kExprMax);
  return def;
}

// The key expression of the active tag of the current area's index.
std::string ActiveTagKey() {
  const std::string tag = CurrentTagName();
  WorkArea* area = CurrentArea();
  const IndexEngineState& ix = IndexEngine();
  if (tag.empty() || area == nullptr || !ix.open_file) return std::string();
  const std::vector<std::string> lines = IndexTagList(ix.open_file(*area));
  for (size_t i = 0; i + 1 < lines.size(); i += 2) {
    const TagDef def = ParseTagLine(lines[i], lines[i + 1]);
    if (SameIgnoringCase(def.name, tag)) return def.for_expr.empty() ? def.key : std::string();
  }
  return std::string();
}

}  // namespace

// ---- Set-up at open ----

std::vector<TagDef> TOvFileDataSet::WantedTags() const {
  std::vector<TagDef> defs;
  for (int i = 0; i + 1 < index_list_.Count(); i += 2) defs.push_back(ParseTagLine(index_list_[i], index_list_[i + 1]));
  return defs;
}

bool TOvFileDataSet::WantedTagsMatch(const std::string& index_file) const {
  const std::vector<std::string> lines = IndexTagList(index_file);
  if (static_cast<int>(lines.size()) != index_list_.Count()) return false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!SameIgnoringCase(lines[i], index_list_[static_cast<int>(i)])) return false;
  }
  return true;
}

void TOvFileDataSet::OpenProductionIndex(const std::string& index_file, bool rebuild_unreadable, bool& rebuild) {
  Errors().DbfError = 0;
  if (SetIndexTo(index_file)) return;
  const uint16_t code = Errors().DbfError;
  if (rebuild_unreadable && (code == err::kFileNotFound || code == err::kBadIndex || code == err::kBadIndexHeader)) {
    Errors().DbfError = 0;
    rebuild = true;
    return;
  }
  if (!rebuild_unreadable) return;  // ciNever: the open fails with the engine's error
  // Locked by another program, a key that does not fit, a read error: the
  // table stays readable, but every write would leave the index stale.
  index_failure_ = code != 0 ? code : err::kBadIndex;
  const std::string text = ErrorText();
  Errors().DbfError = 0;
  ShowWarning("Index file " + index_file + " cannot be kept up to date; " + DbfFileName() + " is read-only: " + text);
}

void TOvFileDataSet::BuildProductionIndex(const std::string& index_file) {
  const std::vector<TagDef> defs = WantedTags();
  bool can_make = true;
  if (OnBeforeMakeIndex) OnBeforeMakeIndex(index_file, can_make);
  if (!can_make) {
    (void)SetProductionIndexFlag(false);
    return;
  }
  Errors().DbfError = 0;
  {
    std::unique_ptr<BuildProgress> progress;
    if (ShowProgress()) progress = std::make_unique<BuildProgress>(index_file);
    (void)MakeIndex(defs, index_file);
  }
  const uint16_t code = Errors().DbfError;
  const std::string text = code != 0 ? ErrorText() : std::string();
  if (OnAfterMakeIndex) OnAfterMakeIndex(index_file);
  if (code != 0) {
    index_failure_ = code;
    Errors().DbfError = 0;
    ShowWarning("Index file " + index_file + " cannot be built; " + DbfFileName() + " is read-only: " + text);
  }
}

bool TOvFileDataSet::SetUpProductionIndex() {
  index_failure_ = 0;
  if (DesignTime()) return true;
  EngineCall([&] {
    QuietErrors quiet;
    TCreateIndexType policy = create_index_;
    if (index_list_.Count() >= 2) {
      // A read-only table cannot take the flag; its index is still opened.
      if (!SetProductionIndexFlag(true)) Errors().DbfError = 0;
    } else if (ProductionIndexFlag()) {
      policy = TCreateIndexType::ciNever;
    } else {
      return;
    }
    const std::string index_file = ForceExt(DbfFileName(), "MDX");
    if (policy == TCreateIndexType::ciNever) {
      bool unused = false;
      OpenProductionIndex(index_file, false, unused);
      if (Errors().DbfError == 0) ApplyIndexOrder();
      return;
    }
    if (FileExistsResolved(index_file)) {
      // A semaphore file that cannot be erased is held by another program.
      const std::string sema = ResolveName(SemaphoreFileName(CurrentArea()->table.path));
      if (CurrentEnv()->Exists(sema)) (void)CurrentEnv()->Delete(sema);
      if (CurrentEnv()->Exists(sema)) policy = TCreateIndexType::ciNotFound;
      Errors().DbfError = 0;
    } else {
      policy = TCreateIndexType::ciAlways;
    }
    if (policy == TCreateIndexType::ciVerifyHeader) {
      policy = WantedTagsMatch(index_file) ? TCreateIndexType::ciNotFound : TCreateIndexType::ciAlways;
      Errors().DbfError = 0;
    }
    if (policy == TCreateIndexType::ciNotFound) {
      bool rebuild = false;
      OpenProductionIndex(index_file, true, rebuild);
      if (rebuild) policy = TCreateIndexType::ciAlways;
    }
    if (policy == TCreateIndexType::ciAlways) BuildProductionIndex(index_file);
    if (index_failure_ == 0) ApplyIndexOrder();
  });
  return true;
}

// ---- Order ----

void TOvFileDataSet::ApplyIndexOrder() {
  if (!index_order_ || !IndexEngine().open_file || IndexEngine().open_file(*CurrentArea()).empty()) return;
  if (index_order_->empty()) {
    Set_Order_To(0);
  } else if (!SetOrderToTag(*index_order_)) {
    Errors().DbfError = 0;
    ShowWarning("Index tag " + *index_order_ + " not found");
  }
}

std::string TOvFileDataSet::IndexOrder() {
  if (!Active() || !IsLive()) return index_order_.value_or(std::string());
  return EngineCall([&] { return SelectArea("IndexOrder") ? CurrentTagName() : std::string(); });
}

void TOvFileDataSet::SetIndexOrder(const std::string& tag_name) {
  index_order_ = tag_name;
  if (!Active() || !IsLive()) return;
  CheckBrowseMode();
  UpdateCursorPos();
  const bool chosen = EngineCall([&] {
    if (!SelectArea("SetIndexOrder")) return false;
    if (tag_name.empty()) {
      Set_Order_To(0);
      return true;
    }
    return SetOrderToTag(tag_name);
  });
  if (!chosen) DatabaseError("Index tag " + tag_name + " not found");
  ResyncAfterMove();
}

bool TOvFileDataSet::IsSequenced() {
  if (Filtered()) return false;
  if (!Active() || !IsLive()) return true;
  return EngineCall([&] { return SelectArea("IsSequenced") && CurrentOrder() == 0; });
}

// ---- Searches ----

bool TOvFileDataSet::FindKey(const std::string& key, bool exact, const char* routine) {
  const std::string text = key.substr(0, kFindMax);
  bool at_eof = false;
  const bool found = EngineCall([&] {
    if (!SelectArea(routine)) return false;
    const bool hit = exact ? ov::FindExact(text) : ov::Find(text);
    at_eof = dEOF();
    return hit;
  });
  if (at_eof) {
    Last();
  } else {
    ResyncAfterMove();
  }
  return found;
}

bool TOvFileDataSet::Find(const std::string& key) { return FindKey(key, false, "Find"); }

bool TOvFileDataSet::FindExact(const std::string& key) { return FindKey(key, true, "FindExact"); }

bool TOvFileDataSet::KeyIsField(const std::string& key_fields, bool case_insensitive) {
  const TField* field = FindField(TrimText(key_fields));
  if (field == nullptr) return false;
  const std::string key = UpperText(TrimText(ActiveTagKey()));
  const std::string name = UpperText(field->FieldName());
  switch (field->DataType()) {
    case TFieldType::ftString: return case_insensitive ? key == "UPPER(" + name + ")" : key == name;
    case TFieldType::ftInteger:
    case TFieldType::ftFloat: return key == name;
    default: return false;
  }
}

bool TOvFileDataSet::OviLocateRecord(const std::string& key_fields, const std::vector<TVarValue>& key_values,
                                     TLocateOptions options, bool synchronise) {
  const bool by_index = IsLive() && !Filtered() && key_values.size() == 1 && !VarIsNull(key_values[0]) &&
                        EngineCall([&] { return SelectArea("Locate") && CurrentOrder() != 0; }) &&
                        KeyIsField(key_fields, options.case_insensitive);
  if (!by_index) return TOvDataSet::OviLocateRecord(key_fields, key_values, options, synchronise);
  std::string text = VarToStr(key_values[0]).substr(0, kLocateMax);
  if (options.case_insensitive) text = UpperText(text);
  return EngineCall([&] {
    if (!SelectArea("Locate")) return false;
    const int32_t was = ov::RecNo();
    const bool found = options.partial_key ? ov::Find(text) : ov::FindExact(text);
    if (found && synchronise) {
      ClearCracks();
    } else if (was >= 1 && was <= RecCount()) {
      GO(was);
    }
    return found;
  });
}

}  // namespace ov
