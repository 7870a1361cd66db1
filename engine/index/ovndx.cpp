#include "engine/index/ovndx.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/expr/ovparser.h"
#include "engine/index/index_engine.h"
#include "engine/index/keycomp.h"
#include "engine/index/ovndx_internal.h"
#include "engine/index/ovndxlow.h"
#include "engine/index/umakemdx.h"
#include "engine/support/ascii.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/platform.h"
#include "engine/support/scope_guard.h"

namespace ov {

namespace {

std::string TableName(const WorkArea& a) { return a.table.path; }

IndexState* StateOf(WorkArea& a) { return a.index_state && a.index_state->file ? a.index_state.get() : nullptr; }

TagState* ActiveTag(WorkArea& a) {
  IndexState* ix = StateOf(a);
  if (ix == nullptr || ix->active == 0) return nullptr;
  return &ix->tags[static_cast<size_t>(ix->active - 1)];
}

// ---- The work-area layer's slots ----

int32_t First(WorkArea& a, bool last) {
  IndexState* ix = StateOf(a);
  TagState* t = ActiveTag(a);
  if (t == nullptr) return last ? a.table.record_count : std::min<int32_t>(1, a.table.record_count);
  ix->found = false;
  if (Empty(*t) || !Descend(a, *ix, *t, last ? Aim::kLast : Aim::kFirst) || !Positioned(*t)) {
    t->path.clear();
    t->bof = t->eof = true;
    return 0;
  }
  t->bof = t->eof = false;
  ix->found = true;
  return CurrentEntryRecord(*t);
}

// A walk in key order jumps about the table: the record a few entries on
// is fetched into the processor's cache while this one is read.
void Prefetch(WorkArea& a, const TagState& t, bool forward) {
  constexpr int kAhead = 4;
  const PathLevel& leaf = t.path.back();
  const int pos = leaf.pos + (forward ? kAhead : -kAhead);
  if (pos < 0 || pos >= Count(leaf)) return;
  PrefetchRecord(a.table, static_cast<int32_t>(
                              GetLe32(mdx::NodeEntry(leaf.node.data(), static_cast<size_t>(pos), t.entry_length()))));
}

int32_t Next(WorkArea& a, bool forward) {
  IndexState* ix = StateOf(a);
  TagState* t = ActiveTag(a);
  const int32_t from = a.table.current_record;
  if (t == nullptr) {
    if (forward) return from < a.table.record_count ? from + 1 : from;
    return from > 1 ? std::min(from - 1, a.table.record_count) : from;
  }
  ix->found = false;
  if (Empty(*t)) {
    t->bof = t->eof = true;
    return from;
  }
  // After another process's change the tag finds its place again from the
  // key it stood on; the area may also have moved without the index (a
  // raw GO): then it finds the record, so the step starts where the area
  // stands.
  if (from >= 1 && from <= a.table.record_count && CurrentEntryRecord(*t) != from) {
    if (t->path.empty() && t->resume_record == from) {
      bool moved = false;
      if (!Resume(a, *ix, *t, forward, moved)) {
        (forward ? t->eof : t->bof) = Errors().DbfError == 0;
        return from;
      }
      if (moved) {
        t->bof = t->eof = false;
        ix->found = true;
        return CurrentEntryRecord(*t);
      }
    } else {
      SyncTag(a, *ix, *t);
    }
    if (Errors().DbfError != 0) return from;
  }
  if (forward ? t->eof : t->bof) return from;
  // From the phantom record (or a lost position) backwards: the last key.
  if (!Positioned(*t)) {
    if (forward) return from;
    return First(a, true);
  }
  if (++t->walk_steps > SearchBudget(a)) {
    t->path.clear();
    Corrupted(*ix);
    return from;
  }
  if (!Step(a, *ix, *t, forward)) {
    (forward ? t->eof : t->bof) = true;
    return from;
  }
  t->bof = t->eof = false;
  ix->found = true;
  Prefetch(a, *t, forward);
  return CurrentEntryRecord(*t);
}

bool AtEdge(WorkArea& a, bool end) {
  TagState* t = ActiveTag(a);
  if (t == nullptr) return end ? a.table.at_end : a.table.at_beginning;
  return end ? t->eof : t->bof;
}

void Mark(WorkArea& a, bool end) {
  if (TagState* t = ActiveTag(a)) (end ? t->eof : t->bof) = true;
}

void SyncActive(WorkArea& a) {
  if (TagState* t = ActiveTag(a)) SyncTag(a, *StateOf(a), *t);
}

// Closes the area's index; a shared table's log-out may report.
void CloseIndexOf(WorkArea& a) {
  std::shared_ptr<IndexState> ix = std::move(a.index_state);
  if (ix && ix->sema && ix->sema->LoggedIn()) (void)ix->sema->Handle(SemaAction::kLogout);
}

// Runs `body` inside a read bracket; false when the bracket was refused.
template <typename Body>
bool WithRead(IndexState& ix, Body body) {
  const bool counted = BeginRead(ix);
  ScopeGuard end([&ix] { EndRead(ix); });
  return counted && body();
}

// ---- Opening ----

bool OpenTags(WorkArea& a, IndexState& ix) {
  for (int i = 1; i <= ix.header.tag_count(); ++i) {
    const mdx::TagSlot slot = ix.header.slot(i);
    TagState t;
    t.number = i;
    t.header_block = slot.header_block;
    t.name = slot.name;
    mdx::Block anchor{};
    if (mdx::ReadAt(*ix.file, slot.header_block, anchor.data(), mdx::kAnchorSize) != 0 ||
        !mdx::DecodeTagHeader(anchor.data(), t.header)) {
      Corrupted(ix);
      return false;
    }
    std::copy_n(anchor.begin(), mdx::kAnchorSize, t.anchor.begin());
    t.format = KeyFormat{t.header.key_type, t.header.key_length, t.header.descending};
    {
      QuietErrors quiet;
      t.key_expr.reset(AssignExpr(t.header.key_expr));
      if (t.key_expr && !t.header.for_expr.empty()) t.for_expr.reset(AssignExpr(t.header.for_expr));
    }
    const bool for_ok = t.header.for_expr.empty() || (t.for_expr && t.for_expr->result_type == 'L');
    const char type = t.key_expr ? t.key_expr->result_type : 0;
    const bool type_ok = type == t.header.key_type || (type == 'N' && t.header.key_type == 'F');
    if (!t.key_expr || !for_ok || !type_ok) {
      Corrupted(ix);
      return false;
    }
    if (type == 'C' && CharKeyWidth(*t.key_expr, a) != t.header.key_length) {
      ReportError(err::kBadSize, "Incorrect key length: Must be 1 to 100. " + ix.path);
      return false;
    }
    ix.tags.push_back(std::move(t));
  }
  return true;
}

bool OpenIndexFile(WorkArea& a, const std::string& name) {
  auto ix = std::make_shared<IndexState>();
  ix->path = IndexFileName(a.table.path, name);
  if (!CurrentEnv()->Exists(ix->path)) {
    ReportError(err::kFileNotFound, "SetIndexTo(" + name + ")");
    return false;
  }
  const bool shared = AreaConfig().MultiUser && !a.exclusive;
  if (shared) {
    ix->sema = std::make_unique<IndexSemaphore>(a);
    if (!ix->sema->Handle(SemaAction::kLogin)) return false;
  }
  const uint16_t mode = fmode::kReadWrite | (shared ? fmode::kDenyNone : fmode::kDenyWrite);
  uint16_t code = CurrentEnv()->Open(ix->path, mode, Disposition::kOpenExisting, ix->file);
  uint64_t size = 0;
  if (code == 0 && (ix->file->Size(size) != 0 || size <= 3071)) code = err::kBadIndex;
  if (code != 0) {
    ReportError(code, "Unable to open index: " + ix->path);
    return false;
  }
  // Every read of the tree happens inside a read bracket, which drops what
  // another process's change made stale, so the cache serves shared tables
  // too.
  ix->cache.on = true;
  const bool read = WithRead(*ix, [&] {
    if (mdx::ReadAt(*ix->file, 0, ix->header.bytes.data(), mdx::kHeaderSize) != 0 ||
        ix->header.tag_count() > mdx::kMaxTags) {
      ReportError(err::kBadIndex, "Unable to open index: " + ix->path);
      return false;
    }
    return OpenTags(a, *ix);
  });
  if (!read) return false;
  ix->active = ix->tags.empty() ? 0 : 1;
  a.index_state = std::move(ix);
  return true;
}

bool CheckIndexOpen(WorkArea*& a, const std::string& routine) {
  a = CurrentArea();
  if (a != nullptr && StateOf(*a) != nullptr) return true;
  ReportError(err::kIndexNotOpen,
              "Index not open. (DBF=" + (a ? TableName(*a) : std::string()) + ") [" + routine + "]");
  return false;
}

bool FindIn(WorkArea* a, IndexState& ix, TagState* t, const std::string& text, bool exact);

bool FindText(const std::string& text, bool exact) {
  WorkArea* a = nullptr;
  if (!CheckIndexOpen(a, "Find")) return false;
  IndexState& ix = *StateOf(*a);
  ix.found = false;
  TagState* t = ActiveTag(*a);
  if (t == nullptr) {
    ReportError(err::kInternal, "Cannot use Find() with index order 0 (natural order) [Find]");
    return false;
  }
  if (text.empty()) return false;
  return WithRead(ix, [&] { return FindIn(a, ix, t, text, exact); });
}

bool FindIn(WorkArea* a, IndexState& ix, TagState* t, const std::string& text, bool exact) {
  const SearchKey key = MakeSearchKey(text, t->format, exact);
  bool on = key.valid && !Empty(*t) && Seek(*a, ix, *t, key.bytes.data());
  int64_t budget = SearchBudget(*a);
  while (on) {
    Dbf4RawGo(CurrentEntryRecord(*t));
    if (Errors().DbfError != 0) return false;
    if (RecordVisible()) break;
    on = SearchStep(*a, ix, *t, budget);
  }
  if (Errors().DbfError != 0) return false;
  const size_t n = std::min<size_t>(key.significant, t->format.length);
  ix.found = on && std::memcmp(EntryKey(t->path.back(), *t), key.bytes.data(), n) == 0;
  if (!ix.found) {
    // A longer text matches only when its excess over the key is blank.
    Dbf4RawGo(a->table.record_count + 1);
    t->path.clear();
    t->eof = true;
    return false;
  }
  t->bof = t->eof = false;
  return true;
}

}  // namespace

void IndexInit() {
  IndexHooks& h = Areas().index;
  h.active = [](WorkArea& a) { return StateOf(a) != nullptr; };
  h.ordered = [](WorkArea& a) { return ActiveTag(a) != nullptr; };
  h.first = [](WorkArea& a) { return First(a, false); };
  h.last = [](WorkArea& a) { return First(a, true); };
  h.next = [](WorkArea& a) { return Next(a, true); };
  h.prior = [](WorkArea& a) { return Next(a, false); };
  h.at_end = [](WorkArea& a) { return AtEdge(a, true); };
  h.at_beginning = [](WorkArea& a) { return AtEdge(a, false); };
  h.sync = SyncActive;
  h.mark_beginning = [](WorkArea& a) { Mark(a, false); };
  h.mark_end = [](WorkArea& a) { Mark(a, true); };
  h.finish = [](WorkArea&) {};
  h.begin_position = [](WorkArea& a) {
    if (IndexState* ix = StateOf(a)) (void)BeginRead(*ix);
  };
  h.end_position = [](WorkArea& a) {
    if (IndexState* ix = StateOf(a)) EndRead(*ix);
  };
  // The edit layer calls end_update only after a begin_update that worked.
  h.begin_update = [](WorkArea& a) {
    if (IndexState* ix = StateOf(a)) (void)BeginUpdate(*ix);
  };
  h.end_update = [](WorkArea& a) {
    if (IndexState* ix = StateOf(a)) EndUpdate(*ix);
  };
  h.remember_keys = [](WorkArea& a) { RememberKeys(a, *StateOf(a)); };
  h.update_keys = [](WorkArea& a) { UpdateKeys(a, *StateOf(a)); };
  h.add_keys = [](WorkArea& a) { AddKeys(a, *StateOf(a)); };
  h.close = CloseIndexOf;
  IndexEngineState& e = IndexEngine();
  e.open_file = [](WorkArea& a) { return StateOf(a) ? StateOf(a)->path : std::string(); };
  e.close_all = CloseIndexOf;
  e.open = [](WorkArea&, const std::string& name) { return SetIndexTo(name); };
  e.active_tag = [](WorkArea& a) {
    TagState* t = ActiveTag(a);
    return t ? t->name : std::string();
  };
  e.select_tag = [](WorkArea&, const std::string& name) { return SetOrderToTag(name); };
}

bool SetIndexTo(const std::string& name) {
  if (!CheckInUse("SetIndexTo")) return false;
  WorkArea& a = *CurrentArea();
  a.index_state.reset();
  Errors().DbfError = 0;
  if (!OpenIndexFile(a, name)) return false;
  // A tree that fails on the first walk is not left open.
  ScopeGuard close([&a] { a.index_state.reset(); });
  if (a.table.record_count > 0) {
    GoTop();
  } else if (TagState* t = ActiveTag(a)) {
    t->bof = t->eof = true;
  }
  if (Errors().DbfError != 0) return false;
  close.Dismiss();
  return true;
}

void CloseIndexes() {
  if (WorkArea* a = CurrentArea()) a->index_state.reset();
}

void Set_Order_To(int n) {
  WorkArea* a = nullptr;
  const std::string routine = "Set_Order_To(" + std::to_string(n) + ")";
  if (!CheckIndexOpen(a, routine)) return;
  IndexState& ix = *StateOf(*a);
  if (n < 0 || n > static_cast<int>(ix.tags.size())) {
    ReportError(err::kBadParameter,
                "Invalid Index Order Specified: SET_ORDER_TO. [" + routine + "] (DBF=" + TableName(*a) + ")");
    return;
  }
  const bool at_end = a->table.at_end;
  ix.active = n;
  if (n == 0) return;
  TagState& t = ix.tags[static_cast<size_t>(n - 1)];
  t.path.clear();
  if (at_end || a->table.current_record < 1 || a->table.current_record > a->table.record_count) {
    t.eof = true;
    return;
  }
  Dbf4RawGo(a->table.current_record);
  if (Errors().DbfError != 0) return;
  (void)WithRead(ix, [&] {
    SyncTag(*a, ix, t);
    return true;
  });
}

bool SetOrderToTag(const std::string& name) {
  WorkArea* a = nullptr;
  const std::string routine = "SetOrderToTag(" + name + ")";
  if (!CheckIndexOpen(a, routine)) return false;
  const std::string wanted = UpperText(name.substr(0, 10));
  if (wanted.empty()) {
    Set_Order_To(0);
    return Errors().DbfError == 0;
  }
  for (const TagState& t : StateOf(*a)->tags) {
    if (t.name.compare(0, wanted.size(), wanted) == 0) {
      Set_Order_To(t.number);
      return Errors().DbfError == 0;
    }
  }
  ReportError(err::kBadParameter,
              "Invalid Index Order Specified: SET_ORDER_TO. [" + routine + "] (DBF=" + TableName(*a) + ")");
  return false;
}

int CurrentOrder() {
  WorkArea* a = CurrentArea();
  IndexState* ix = a ? StateOf(*a) : nullptr;
  return ix ? ix->active : 0;
}

std::string CurrentTagName() {
  WorkArea* a = CurrentArea();
  TagState* t = a ? ActiveTag(*a) : nullptr;
  return t ? t->name : std::string();
}

bool Find(const std::string& text) { return FindText(text, false); }
bool FindExact(const std::string& text) { return FindText(text, true); }

bool Found() {
  WorkArea* a = CurrentArea();
  IndexState* ix = a ? StateOf(*a) : nullptr;
  return ix != nullptr && ix->found;
}

void SyncIndex() {
  WorkArea* a = nullptr;
  if (!CheckIndexOpen(a, "SyncIndex")) return;
  IndexState& ix = *StateOf(*a);
  (void)WithRead(ix, [&] {
    for (TagState& t : ix.tags) {
      SyncTag(*a, ix, t);
      if (Errors().DbfError != 0) return false;
    }
    return true;
  });
}

std::vector<std::string> IndexTagList(const std::string& name) {
  std::vector<std::string> lines;
  WorkArea* a = CurrentArea();
  const std::string path = IndexFileName(a ? a->table.path : std::string(), name);
  std::vector<TagDef> defs;
  IndexState* open = a ? StateOf(*a) : nullptr;
  if (open != nullptr && open->path == path) {
    // The area's own index: its tags as they were opened.
    for (const TagState& t : open->tags) {
      defs.push_back({t.name, t.header.key_expr, t.header.for_expr, t.header.descending, t.header.unique});
    }
  } else {
    uint16_t code = 0;
    std::string context;
    if (!ReadTagDefs(path, defs, code, context)) {
      ReportError(code, context);
      return {};
    }
  }
  for (const TagDef& d : defs) {
    lines.push_back(d.name + (d.descending ? ",T," : ",F,") + (d.unique ? "T," : "F,") + d.key);
    lines.push_back(d.for_expr);
  }
  return lines;
}

}  // namespace ov
