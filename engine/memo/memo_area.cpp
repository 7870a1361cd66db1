// Work areas onto memo file handles: the area-level entries of the memo
// store, its operation table and its slots in the work-area layer.
#include "engine/memo/memo_area.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "engine/memo/memo_check.h"
#include "engine/memo/memo_create.h"
#include "engine/memo/memo_internal.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

uint16_t MemoOpenMode(const WorkArea& area) {
  const AreaSettings& cfg = AreaConfig();
  if (cfg.OpenModeOverride != 0xFFFF) return cfg.OpenModeOverride;
  if (cfg.MultiUser && !area.exclusive) return fmode::kReadWrite | fmode::kDenyNone;
  return fmode::kReadWrite | (area.table.open_mode & fmode::kShareMask);
}

bool SharedArea(const WorkArea& area) { return AreaConfig().MultiUser && !area.exclusive; }

// The area's position, as memo reports give it.
std::string RecordWhere(const WorkArea& area) { return "Record # " + std::to_string(area.table.current_record); }

// The area a binding names, when it still has a memo file.
WorkArea* BoundArea(const MemoBinding& b) {
  if (b.reference == nullptr || b.area < 1 || b.area > kAreaCount) return nullptr;
  WorkArea* area = Areas().slots[static_cast<size_t>(b.area)].get();
  return area != nullptr && MemoStateOf(*area) != nullptr ? area : nullptr;
}

// Closes the old file, puts the packed one in its place and reopens it.
void SwapIn(WorkArea& area, const std::string& fresh_name) {
  MemoState& old = *MemoStateOf(area);
  const std::string name = old.name;
  MemoTransform transform = old.transform;
  CloseMemoFile(area);
  Env* env = CurrentEnv();
  uint16_t code = env->Delete(ResolveName(name));
  if (code == 0) code = env->Rename(ResolveName(fresh_name), name);
  if (code == 0) code = OpenMemoFile(area, name);
  if (code != 0) {
    ReportError(code, name + " [PackMemofile]");
    return;
  }
  MemoStateOf(area)->transform = std::move(transform);
}

}  // namespace

MemoState* MemoStateOf(WorkArea& area) {
  MemoState* s = area.memo_state.get();
  // As the table's own locking, sharing follows the settings of the moment.
  if (s != nullptr) s->shared = SharedArea(area);
  return s;
}

std::string MemoContext(WorkArea& area, const std::string& routine) {
  const MemoState none;
  const MemoState* s = MemoStateOf(area);
  return MemoContext(s ? *s : none, RecordWhere(area), routine);
}

uint16_t OpenMemoFile(WorkArea& area, const std::string& name) {
  if (area.memo_state) return 1007;
  auto state = std::make_shared<MemoState>();
  const uint8_t version = area.table.version();
  // The name as it is on disk, whatever its letter case: a pack puts the
  // new file under it.
  const std::string path = ResolveName(DefaultExt(name, MemoExtension(version)));
  const uint16_t code = OpenMemoHandle(path, MemoKindOf(version), MemoOpenMode(area), SharedArea(area), *state);
  if (code != 0) return code;
  area.memo_state = std::move(state);
  return 0;
}

void CloseMemoFile(WorkArea& area) {
  MemoState* s = area.memo_state.get();
  if (s == nullptr) return;
  CloseMemoHandle(*s);
  area.memo_state.reset();
}

MemoKind GetMemoType() {
  WorkArea* area = CurrentArea();
  if (area == nullptr) return MemoKindOf(Engine().table.CreateVersion);
  MemoState* s = MemoStateOf(*area);
  return s ? s->kind : MemoKindOf(area->table.version());
}

bool CheckMemoField(const std::string& routine) {
  if (!CheckInUse(routine)) return false;
  if (MemoStateOf(*CurrentArea()) != nullptr) return true;
  ReportError(err::kMemoNoTable, " No Memo Field [" + routine + "]");
  return false;
}

// ---- Copy ----

int32_t CopyMemoBetween(WorkArea& to, WorkArea& from, int32_t block, bool same_number) {
  if (block == 0) return 0;
  MemoState* d = MemoStateOf(to);
  MemoState* s = MemoStateOf(from);
  if (d == nullptr || s == nullptr) {
    ReportError(err::kMemoNoTable, " No Memo Field [CopyMemo()]");
    return 0;
  }
  return CopyMemoInto(*d, *s, block, same_number, RecordWhere(to), RecordWhere(from));
}

int32_t CopyMemo(int source, int32_t block, bool same_number) {
  if (!CheckMemoField("CopyMemo()")) return 0;
  WorkArea* from = source >= 1 && source <= kAreaCount ? Areas().slots[size_t(source)].get() : nullptr;
  if (from == nullptr || !from->table.is_open()) {
    ReportError(err::kNoDatabase, "No database in use [CopyMemo()]  WorkArea = " + std::to_string(source));
    return 0;
  }
  return CopyMemoBetween(*CurrentArea(), *from, block, same_number);
}

// ---- Pack and re-create ----

void PackMemofileOf(WorkArea& area) {
  MemoState* s = MemoStateOf(area);
  if (s == nullptr) {
    ReportError(err::kMemoNoTable, " No Memo Field [PackMemofile]");
    return;
  }
  Errors().DbfError = 0;
  if (!HasPackSpace(*s)) return;
  RefreshRecCount(area);
  if (Errors().DbfError != 0) return;
  const std::string fresh_name = ForceExt(s->name, "$$$");
  if (!RebuildMemoFile(area.table, *s, fresh_name)) return;
  SwapIn(area, fresh_name);
  // The typed record may hold a block number of the old file.
  if (area.table.current_record >= 1 && area.table.current_record <= area.table.record_count) {
    GetDbfRecord(area.table, area.table.current_record);
    ScatterArea(area);
  }
}

namespace {

constexpr int kRepairArea = 34;  // one of the engine's own areas

// The memo references of the area's raw record, one per memo field.
std::vector<int32_t> RecordMemoBlocks(const WorkArea& area) {
  std::vector<int32_t> blocks;
  const std::vector<char>& rec = area.table.record;
  for (const FieldEntry& f : area.table.fields) {
    if (f.type != 'M' || f.offset + f.length > rec.size()) continue;
    const std::string text(rec.data() + f.offset, f.length);
    blocks.push_back(static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10)));
  }
  return blocks;
}

// Every memo reference of the table, record by record (numbers only: a
// record with two memo fields gives two).
std::vector<int32_t> MemoReferences(WorkArea& area) {
  std::vector<int32_t> refs;
  for (int32_t n = 1; n <= area.table.record_count; ++n) {
    GetDbfRecord(area.table, n);
    if (Errors().DbfError != 0) break;
    for (int32_t block : RecordMemoBlocks(area)) refs.push_back(block);
  }
  return refs;
}

}  // namespace

std::vector<std::string> ReturnUnreachableMemoBlocks(const std::string& table_path) {
  std::vector<std::string> done;
  // Held exclusively: blocks another writer has filled but its record does
  // not point at yet would look unreachable, and must not be taken.
  const int previous = SelectedArea();
  SelectEngineArea(kRepairArea);
  if (CurrentArea() == nullptr) {
    QuietErrors quiet;
    USE(table_path + " EXCLUSIVE");
  }
  WorkArea* area = CurrentArea();
  MemoState* s = area != nullptr ? MemoStateOf(*area) : nullptr;
  if (area == nullptr) {
    done.push_back("memo file left as it is: the table cannot be held exclusively");
  } else if (s != nullptr && memo_detail::IsDbase4Kind(s->kind)) {
    std::vector<FreeRun> gaps;
    uint32_t unreachable = 0;
    // Only a sound file is mended: anything else would be a guess.
    if (CheckMemoFile(*s->file, s->kind, MemoReferences(*area), &unreachable, &gaps).empty() && unreachable > 0) {
      const std::string ctx = MemoContext(*s, "", "Repair");
      if (LockMemoPadAndSeekEOF(*s, ctx) != 0) {
        for (const FreeRun& g : gaps)
          ReleaseMemoRun(*s, static_cast<int32_t>(g.first), static_cast<int32_t>(g.count), ctx);
        UpdateMemoHeader(*s, "");
        done.push_back("returned " + std::to_string(unreachable) + " unreachable blocks of " + s->name +
                       " to the free chain");
      }
    }
  }
  if (CurrentArea() != nullptr) CloseArea();
  SelectEngineArea(previous);
  return done;
}

void PackMemofile() {
  if (!CheckMemoField("PackMemo")) return;
  PackMemofileOf(*CurrentArea());
}

void RecreateMemofile(WorkArea& area, const std::string& name) {
  Errors().DbfError = 0;
  const MemoKind kind = MemoKindOf(area.table.version());
  CloseMemoFile(area);
  const std::string memo_name = DefaultExt(name, ExtInCaseOf(area.table.path, MemoExtension(area.table.version())));
  CreateMemofileOfKind(memo_name, kind, Engine().table.MemoBlockSize, "CreateMemofile");
  if (Errors().DbfError != 0) return;
  const uint16_t code = OpenMemoFile(area, memo_name);
  if (code != 0) ReportError(code, name + " [RecreateMemofile]");
}

// ---- Texts ----

std::string LoadMemoText(WorkArea& area, int32_t block, const std::string& routine) {
  MemoState* s = MemoStateOf(area);
  if (s == nullptr) return std::string();
  const std::string bytes = LoadMemoBytes(*s, block, RecordWhere(area), routine);
  return area.table.oem ? OemToStr(bytes) : bytes;
}

int32_t StoreMemoText(WorkArea& area, const std::string& text, int32_t old_block, const std::string& routine) {
  MemoState* s = MemoStateOf(area);
  if (s == nullptr) return old_block;
  return StoreMemoBytes(*s, area.table.oem ? StrToOem(text) : text, old_block, RecordWhere(area), routine);
}

void ReleaseMemoLocked(WorkArea& area, int32_t block) {
  if (MemoState* s = MemoStateOf(area)) ReleaseMemoLocked(*s, block, RecordWhere(area));
}

int32_t AddMemo(const std::string& text) {
  if (!CheckMemoField("AddMemo()")) return 0;
  WorkArea& area = *CurrentArea();
  if (text.empty()) return 0;
  Errors().DbfError = 0;
  const int32_t block = StoreMemoText(area, text, 0, "AddMemo()");
  if (block == 0 && Errors().DbfError == 0) ReportError(err::kMemoWrite, MemoStateOf(area)->name + " [AddMemo]");
  return block;
}

int AssignMemo(MemoBinding& binding, int32_t& reference) {
  binding = MemoBinding{};
  if (!CheckMemoField("AssignMemo")) return Errors().DbfError;
  binding.reference = &reference;
  binding.area = SelectedArea();
  return 0;
}

BoundMemo ResolveBinding(const MemoBinding& binding) {
  WorkArea* area = BoundArea(binding);
  if (area == nullptr) return BoundMemo{};
  return BoundMemo{MemoStateOf(*area), area->table.oem, RecordWhere(*area)};
}

void DeferRelease(const MemoBinding& binding, int32_t block) {
  WorkArea* area = BoundArea(binding);
  MemoState* s = area != nullptr ? MemoStateOf(*area) : nullptr;
  if (s != nullptr) s->pending_release.push_back({area->table.current_record, block});
}

namespace {

// Whether a memo field of the area's raw record refers to `block`.
bool RecordRefersTo(const WorkArea& area, int32_t block) {
  const std::vector<int32_t> blocks = RecordMemoBlocks(area);
  return std::find(blocks.begin(), blocks.end(), block) != blocks.end();
}

}  // namespace

void SettleMemos(WorkArea& area, int32_t record) {
  MemoState* s = MemoStateOf(area);
  if (s == nullptr || s->pending_release.empty()) return;
  const std::vector<MemoState::PendingRelease> pending = std::move(s->pending_release);
  s->pending_release.clear();
  // Pending memos of other records stay with the records that still
  // point at them; at worst the new memos leak.
  for (const MemoState::PendingRelease& p : pending) {
    if (p.record == record && !RecordRefersTo(area, p.block)) ReleaseMemoLocked(*s, p.block, RecordWhere(area));
  }
}

// ---- Hooks ----

namespace {

std::string ReadText(WorkArea& area, int32_t block) { return LoadMemoText(area, block, "ReadBlobStream"); }

// Empty text means no memo: the old one is given back.
int32_t WriteText(WorkArea& area, const std::string& text, int32_t old_block) {
  return StoreMemoText(area, text, old_block, "WriteBlobStream");
}

void Release(WorkArea& area, int32_t block) { ReleaseMemoLocked(area, block); }
int32_t CopyToEnd(WorkArea& to, WorkArea& from, int32_t block) { return CopyMemoBetween(to, from, block, false); }
int32_t CopySameNumber(WorkArea& to, WorkArea& from, int32_t block) { return CopyMemoBetween(to, from, block, true); }

// Filled once; the order is fixed.
constexpr MemoOperations kOperations{AssignMemo, PackMemofileOf, OpenMemoFile,     CloseMemoFile,
                                     CopyToEnd,  CopySameNumber, RecreateMemofile, AddMemo};

}  // namespace

const MemoOperations& MemoOps() { return kOperations; }

void InstallMemoHooks() {
  MemoFileHooks& files = Engine().memo_files;
  files.name_for = [](const std::string& table, uint8_t version) {
    return ForceExt(table, ExtInCaseOf(table, MemoExtension(version)));
  };
  files.creatable = [](uint8_t version) {
    return MemoBlockSizeCreatable(MemoKindOf(version), Engine().table.MemoBlockSize);
  };
  files.create = [](const std::string& name, uint8_t version, const std::string& routine) {
    CreateMemofileOfKind(name, MemoKindOf(version), Engine().table.MemoBlockSize, routine);
  };
  const MemoOperations& ops = MemoOps();
  MemoHooks& h = Areas().memo;
  h.open = ops.open;
  h.close = ops.close;
  h.read_text = ReadText;
  h.write_text = WriteText;
  h.release = Release;
  h.committed = SettleMemos;
  h.copy = [](WorkArea& to, WorkArea& from, int32_t block, bool same_number) {
    return same_number ? MemoOps().copy_same_number(to, from, block) : MemoOps().copy_to_end(to, from, block);
  };
  h.pack = ops.pack;
  h.recreate = ops.recreate;
}

}  // namespace ov
