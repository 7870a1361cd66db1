// The area table: selection, USE, closing and field access.
#include <algorithm>
#include <cstring>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_search.h"
#include "engine/support/ascii.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"

namespace ov {

std::vector<uint16_t> TypedOffsets(const DbfFile& table);  // dbf4_typed.cpp

namespace {

constexpr uint16_t kExclusiveMode = fmode::kReadWrite | fmode::kDenyAll;

std::string Upper(const std::string& s) { return AsciiUpperText(s); }

// What a USE command asks for, with the option words taken out.
struct UseRequest {
  std::string path;
  std::string alias;
  bool exclusive = false;
};

// Replaces `word` (found in the upper-case copy) by one blank in both
// strings at the same place, so the path keeps the caller's letter case.
bool CutWord(std::string& orig, std::string& upper, const std::string& word) {
  size_t at = upper.find(word);
  if (at == std::string::npos) return false;
  orig.replace(at, word.size(), " ");
  upper.replace(at, word.size(), " ");
  return true;
}

UseRequest ParseUse(const std::string& command) {
  UseRequest r;
  std::string orig = command + " ";
  std::string upper = Upper(orig);
  orig.insert(0, " ");
  upper.insert(0, " ");
  while (CutWord(orig, upper, " EXCLUSIVE ")) r.exclusive = true;
  size_t at = upper.find(" ALIAS ");
  if (at != std::string::npos) {
    std::string rest = TrimLeftText(orig.substr(at + 7));
    r.alias = Upper(rest.substr(0, rest.find(' ')).substr(0, 64));
    orig.erase(at);
  }
  r.path = ExpandName(DefaultExt(TrimText(orig), "DBF"));
  if (r.alias.empty()) r.alias = Upper(SplitName(r.path).name).substr(0, 64);
  return r;
}

bool AliasInUse(const std::string& alias, int except) {
  AreaTable& t = Areas();
  for (int i = 1; i <= kCallerAreas; ++i) {
    if (i != except && t.slots[i] && t.slots[i]->alias == alias) return true;
  }
  return false;
}

uint16_t OpenModeFor(bool& exclusive) {
  const AreaSettings& s = AreaConfig();
  uint16_t mode = (exclusive || s.OpenMode == kExclusiveMode) ? kExclusiveMode : s.OpenMode;
  if (mode == kExclusiveMode) exclusive = true;
  if (!s.MultiUser) {
    exclusive = true;
    mode = fmode::kReadWrite;
  }
  if (s.OpenModeOverride != 0xFFFF) mode = s.OpenModeOverride;
  return mode;
}

// Fails a USE after the area was set up: close it, then report.
void FailUse(uint16_t code, const std::string& context) {
  CloseArea();
  ReportError(code, context);
}

}  // namespace

bool IndexOpen(WorkArea& area) {
  const IndexHooks& ix = Areas().index;
  return ix.active && ix.active(area);
}

bool IndexActive(WorkArea& area) {
  const IndexHooks& ix = Areas().index;
  return ix.first && ix.last && ix.next && ix.prior && IndexOpen(area) && (!ix.ordered || ix.ordered(area));
}

AreaTable& AreasUnstarted() {
  EngineState& e = Engine();
  if (!e.areas) {
    // A program that skipped StartEngine would get areas without memo or
    // expression support; say so instead. The bare table lets a handler
    // that returns go on without a crash.
    e.areas = std::make_shared<AreaTable>();
    ReportError(err::kInternal, "The engine is not started: call StartEngine first [Areas]");
  }
  return *e.areas;
}

AreaSettings& AreaConfig() { return Areas().settings; }

void StartWorkAreas() {
  Engine().areas = std::make_shared<AreaTable>();
  AddShutdownStep(StopWorkAreas);
}

void StopWorkAreas() {
  if (!Engine().areas) return;
  AreaTable& t = Areas();
  const int order[] = {34, 35};
  try {
    for (int n : order) {
      t.current = n;
      CloseArea();
    }
    for (int n = 1; n <= kCallerAreas; ++n) {
      t.current = n;
      CloseArea();
    }
  } catch (const EOrvelError&) {
    // Shutting down: stop closing, do not re-raise.
  }
  t.current = 1;
}

void Select(int n) {
  Errors().DbfError = 0;
  AreaTable& t = Areas();
  if (n >= 1 && n <= kCallerAreas) {
    t.current = n;
    return;
  }
  if (n == 0) {
    for (int i = 1; i <= kCallerAreas; ++i) {
      if (!t.slots[i]) {
        t.current = i;
        return;
      }
    }
    ReportError(err::kBadParameter, "No free workarea available [Select(0)]");
    return;
  }
  ReportError(err::kBadParameter, "Invalid workarea selected = [Select(" + std::to_string(n) + ")]");
}

// The engine's own areas 34 and 35 are selected directly.
void SelectEngineArea(int n) {
  if (n >= 1 && n <= kAreaCount) Areas().current = n;
}

bool ReportNoDatabase(std::string_view routine) {
  ReportError(err::kNoDatabase, "No database in use [" + std::string(routine) + "]  WorkArea = " +
                                    std::to_string(SelectedArea()));
  return false;
}

void USE(const std::string& command, uint8_t* buffer, uint16_t size) { USE(command, buffer, size, nullptr, nullptr); }

void USE(const std::string& command_in, uint8_t* buffer, uint16_t size, RecordFilter write_filter,
         RecordFilter read_filter) {
  Errors().DbfError = 0;
  CloseArea();
  const std::string command = TrimText(command_in);
  if (command.empty()) return;
  const std::string upper = Upper(command) + " ";
  if (upper.find("LINKED LIST") != std::string::npos || upper.find("VIRTUAL FILE") != std::string::npos) {
    ReportError(err::kListOperation, "In-memory tables are not available: " + command + " [USE]");
    return;
  }
  if ((buffer == nullptr && size != 0) || (buffer != nullptr && size == 0)) {
    ReportError(err::kBadParameter, "Buffer is NIL or size is zero, attempting to open " + command + " [USE]");
    return;
  }
  UseRequest req = ParseUse(command);
  auto area = std::make_unique<WorkArea>();
  area->number = SelectedArea();
  area->table.path = req.path;
  area->table.open_mode = OpenModeFor(req.exclusive);
  area->table.oem = !AreaConfig().AnsiTables;
  OpenDbf(area->table);
  if (!area->table.is_open()) return;
  area->alias = req.alias;
  area->exclusive = req.exclusive;
  area->typed_offsets = TypedOffsets(area->table);
  const uint16_t typed_size = TypedRecordSize(area->table);
  area->typed_size = typed_size;
  if (buffer == nullptr) {
    area->own_typed.assign(typed_size, 0);
    area->typed = area->own_typed.data();
    area->owns_typed = true;
  } else {
    area->typed = buffer;
  }
  area->table.write_filter = std::move(write_filter);
  area->table.read_filter = std::move(read_filter);
  AreaTable& t = Areas();
  t.slots[t.current] = std::move(area);
  WorkArea& a = *t.slots[t.current];
  if (buffer != nullptr && size != typed_size) {
    FailUse(266, "Database record/buffer size mismatch: " + command +
                     " [USE()]\n\rRecord Size=" + std::to_string(typed_size) + ", Buffer Size=" + std::to_string(size));
    return;
  }
  if (AliasInUse(a.alias, t.current)) {
    std::string alias = a.alias;
    FailUse(220, "Alias name \"" + alias + "\" already in use. [USE]");
    return;
  }
  if (a.table.record_count < 1) {
    std::memset(a.typed, 0, typed_size);
    ClearRecord();
    a.table.at_beginning = a.table.at_end = true;
  } else {
    GoTop();
  }
  a.swap.assign(typed_size, 0);
  if (a.table.has_memo && t.memo.open) {
    uint16_t code = t.memo.open(a, StripExt(a.table.path));
    if (code != 0) {
      std::string where = buffer == nullptr ? ",Nil,0" : ",<@Buffer>," + std::to_string(size);
      FailUse(code, "Problem opening memo file [USE(" + command + where + ")]");
    }
  }
}

void CloseArea() {
  AreaTable& t = Areas();
  std::unique_ptr<WorkArea>& slot = t.slots[t.current];
  if (!slot) return;
  // The slot stays filled while closing, so Unlock and the index hooks can
  // still address the area; it is empty afterwards whatever is reported.
  struct Empty {
    std::unique_ptr<WorkArea>& s;
    ~Empty() { s.reset(); }
  } empty{slot};
  WorkArea& a = *slot;
  const AreaTable& tt = t;
  if (IndexOpen(a) && tt.index.close) tt.index.close(a);
  if (a.table.is_open()) {
    RefreshRecCount(a);
    Unlock();
  }
  a.swap.clear();
  if (a.memo_state && tt.memo.close) tt.memo.close(a);
  a.memo_state.reset();
  DropPeekCacheFor(a.alias);
  a.for_cond = Condition{};
  a.while_cond = Condition{};
  CloseDbf(a.table);
}

void CloseAll() {
  AreaTable& t = Areas();
  for (int n = 1; n <= kCallerAreas; ++n) {
    t.current = n;
    CloseArea();
  }
  t.current = 1;
}

std::string Alias() {
  WorkArea* a = CurrentArea();
  return a != nullptr ? a->alias : "";
}

std::string DbfName() {
  WorkArea* a = CurrentArea();
  return a != nullptr ? a->table.path : "";
}

uint16_t ReopenTable(bool exclusive) {
  WorkArea* a = CurrentArea();
  if (a == nullptr) return 6;
  if (a->exclusive && !a->exclusive_by_reopen) return 5;
  DbfFile& t = a->table;
  {
    QuietErrors quiet;
    FlushDbf(t);
  }
  const uint16_t old_mode = t.open_mode;
  const uint16_t mode = exclusive ? kExclusiveMode : AreaConfig().OpenMode;
  // Our own descriptor would conflict with the new sharing mode: drop it
  // first, and fall back to the old mode if the new open is refused.
  t.file.reset();
  uint16_t code = CurrentEnv()->Open(t.path, mode, Disposition::kOpenExisting, t.file);
  if (code != 0) {
    (void)CurrentEnv()->Open(t.path, old_mode, Disposition::kOpenExisting, t.file);
    return code;
  }
  t.open_mode = mode;
  a->exclusive = exclusive;
  a->exclusive_by_reopen = exclusive;
  a->count_from_file = false;  // others may have appended while it was shared
  return 0;
}

int FieldCount() {
  if (!CheckInUse("FieldCount()")) return 0;
  return static_cast<int>(CurrentArea()->table.fields.size());
}

namespace {

const FieldEntry* FieldAt(int n, const char* routine, const char* name) {
  if (!CheckInUse(routine)) return nullptr;
  const auto& fields = CurrentArea()->table.fields;
  if (n < 1 || n > static_cast<int>(fields.size())) {
    ReportError(err::kBadParameter, std::string("Invalid field number. [") + name + "(" + std::to_string(n) + ")]");
    return nullptr;
  }
  return &fields[n - 1];
}

}  // namespace

char FieldType(int n) {
  const FieldEntry* f = FieldAt(n, "FieldType()", "FieldType");
  return f != nullptr ? f->type : ' ';
}

int FieldLen(int n) {
  const FieldEntry* f = FieldAt(n, "FieldLen()", "FieldLen");
  if (f == nullptr) return 0;
  if (f->type == 'D') return Engine().dates.CenturyOn ? 10 : 8;
  return f->length;
}

int FieldDec(int n) {
  const FieldEntry* f = FieldAt(n, "FieldDec()", "FieldDec");
  return f != nullptr ? f->decimals : 0;
}

std::string Field(int n) {
  const FieldEntry* f = FieldAt(n, "Field()", "Field");
  return f != nullptr ? f->name : "";
}

int FieldNo(const std::string& name) {
  if (!CheckInUse("FieldNo()")) return 0;
  // Names are stored upper-cased in ANSI, non-ASCII letters included.
  const std::string want = UpperText(TrimText(name).substr(0, 10));
  const auto& fields = CurrentArea()->table.fields;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].name == want) return static_cast<int>(i + 1);
  }
  return 0;
}

uint8_t* FieldAddress(int n) {
  if (!CheckInUse("FieldAddress()")) return nullptr;
  WorkArea* a = CurrentArea();
  if (n == 0) return a->typed;
  if (n < 0 || n > static_cast<int>(a->table.fields.size())) {
    ReportError(err::kBadParameter, "Invalid field number. [FieldAddress(" + std::to_string(n) + ")]");
    return nullptr;
  }
  return a->typed + a->typed_offsets[n - 1];
}

}  // namespace ov

namespace ov {

bool ProductionIndexFlag() {
  const WorkArea* a = CurrentArea();
  return a != nullptr && a->table.is_open() && a->table.layout != DbfLayout::kDbase2 && (a->table.header[28] & 1) != 0;
}

bool SetProductionIndexFlag(bool on) {
  if (!CheckInUse("SetProductionIndexFlag")) return false;
  DbfFile& t = CurrentArea()->table;
  if (t.layout == DbfLayout::kDbase2 || ProductionIndexFlag() == on) return true;
  const auto b = static_cast<uint8_t>((t.header[28] & ~1u) | (on ? 1u : 0u));
  if (const uint16_t code = t.file->WriteAt(28, &b, 1); code != 0) {
    ReportError(code, "File: " + t.path + "  [SetProductionIndexFlag]");
    return false;
  }
  t.header[28] = b;
  return true;
}

}  // namespace ov
