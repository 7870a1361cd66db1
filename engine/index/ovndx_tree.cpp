// The tree walk of open tags: reading nodes checked, descending, stepping
// between leaves, seeking a key and finding a record's entry.
#include <algorithm>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/index/index_engine.h"
#include "engine/index/ovndx_internal.h"
#include "engine/support/ovcommon.h"

namespace ov {

std::string Location(const IndexState& ix, const TagState& t) { return ix.path + " [tag: " + t.name + "]"; }

void Corrupted(const IndexState& ix) {
  ReportError(err::kBadIndex, "Invalid dBASE key expression or corrupted index file " + ix.path);
}

// Reads node `block` of tag t, checked; false after a report.
namespace {

// After a failed write the index answers nothing until it is rebuilt.
bool Damaged(IndexState& ix, TagState& t) {
  if (ix.read_refused) return true;  // reported when the bracket was refused
  if (!ix.damaged) return false;
  ReportError(err::kBadIndex, "Index file corrupted. " + Location(ix, t) + " [a write failed: Reindex]");
  return true;
}

}  // namespace

bool GetNode(WorkArea& a, IndexState& ix, TagState& t, uint32_t block, mdx::Block& out) {
  if (Damaged(ix, t)) return false;
  if (block == 0) {
    ReportError(err::kInternal, "Invalid Node Number (0) in DBF Area " + std::to_string(a.number) + ", Order " +
                                    std::to_string(t.number) + " " + Location(ix, t) + " [GetNode]");
    return false;
  }
  if (block < 4) {
    Corrupted(ix);
    return false;
  }
  if (auto hit = ix.cache.nodes.find(block); hit != ix.cache.nodes.end()) {
    out = hit->second;
  } else {
    const uint16_t code = mdx::ReadAt(*ix.file, block, out.data(), out.size());
    if (code == 100) {  // the block lies past the end of the file
      Corrupted(ix);
      return false;
    }
    if (code != 0) {
      ReportError(code, "Error reading index file: " + Location(ix, t) + " [SeekAndRead]");
      return false;
    }
    ix.cache.Put(block, out);
  }
  const uint16_t count = mdx::NodeCount(out.data());
  if (count > t.header.max_keys() || !mdx::NodeFits(count, t.entry_length())) {
    Corrupted(ix);
    return false;
  }
  return true;
}

// Descends from the root to a leaf: leftmost, rightmost, or towards the
// first key not lower than `key`. Answers false after a report; an empty
// tag leaves a root leaf with count 0.
bool Descend(WorkArea& a, IndexState& ix, TagState& t, Aim aim, const uint8_t* key) {
  // While the cache is valid, so are the path's copies of the nodes it
  // shares with this descent (every change of the tag's nodes goes through
  // its path or drops it).
  const bool reuse = ix.cache.on;
  if (Damaged(ix, t)) return false;
  t.walk_steps = 0;  // a walk counts its steps from here
  uint32_t block = t.header.root;
  for (size_t depth = 0;; ++depth) {
    if (depth >= static_cast<size_t>(kMaxDepth)) {
      t.path.clear();
      Corrupted(ix);
      return false;
    }
    if (!(reuse && depth < t.path.size() && t.path[depth].block == block)) {
      t.path.resize(depth + 1);
      t.path[depth].block = block;
      if (!GetNode(a, ix, t, block, t.path[depth].node)) {
        t.path.clear();
        return false;
      }
    }
    PathLevel& level = t.path[depth];
    const uint16_t count = Count(level);
    const bool leaf = IsLeaf(level, t);
    uint16_t pos = 0;
    if (aim == Aim::kLast) {
      pos = leaf ? static_cast<uint16_t>(std::max(0, count - 1)) : count;
    } else if (aim == Aim::kKey) {
      // Binary search for the first entry whose key is not lower.
      uint16_t lo = 0, hi = count;
      while (lo < hi) {
        const uint16_t mid = static_cast<uint16_t>((lo + hi) / 2);
        level.pos = mid;
        if (CompareKeys(t.format, EntryKey(level, t), key) < 0) {
          lo = static_cast<uint16_t>(mid + 1);
        } else {
          hi = mid;
        }
      }
      pos = lo;
    }
    level.pos = pos;
    if (leaf) {
      t.path.resize(depth + 1);
      return true;
    }
    block = EntryPointer(level, t);  // the trailing pointer when pos = count
  }
}

// Moves to the first entry of the leaf after the current one (forward) or
// the last of the one before; false at the end of the tree (path kept).
namespace {

bool StepLeaf(WorkArea& a, IndexState& ix, TagState& t, bool forward) {
  for (size_t up = t.path.size() - 1; up-- > 0;) {
    PathLevel& level = t.path[up];
    const bool more = forward ? level.pos < Count(level) : level.pos > 0;
    if (!more) continue;
    std::vector<PathLevel> kept(t.path.begin(), t.path.begin() + static_cast<long>(up) + 1);
    kept.back().pos = static_cast<uint16_t>(forward ? level.pos + 1 : level.pos - 1);
    uint32_t block = EntryPointer(kept.back(), t);
    for (int depth = static_cast<int>(kept.size()); depth < kMaxDepth; ++depth) {
      PathLevel next;
      next.block = block;
      if (!GetNode(a, ix, t, block, next.node)) return false;
      const bool leaf = IsLeaf(next, t);
      if (leaf && Count(next) == 0) {  // an emptied leaf left in the tree
        Corrupted(ix);
        return false;
      }
      next.pos = forward ? 0 : static_cast<uint16_t>(leaf ? Count(next) - 1 : Count(next));
      kept.push_back(next);
      if (leaf) {
        t.path = std::move(kept);
        return true;
      }
      block = EntryPointer(kept.back(), t);
    }
    Corrupted(ix);
    return false;
  }
  return false;
}

}  // namespace

// One entry forward or back; false at the end of the tag (or after a report).
bool Step(WorkArea& a, IndexState& ix, TagState& t, bool forward) {
  if (t.path.empty()) return false;
  PathLevel& leaf = t.path.back();
  if (forward && leaf.pos + 1 < Count(leaf)) {
    ++leaf.pos;
    return true;
  }
  if (!forward && leaf.pos > 0 && leaf.pos <= Count(leaf)) {
    --leaf.pos;
    return true;
  }
  return StepLeaf(a, ix, t, forward);
}

// Seeks the first entry not lower than `key`; false when every key is lower.
bool Seek(WorkArea& a, IndexState& ix, TagState& t, const uint8_t* key) {
  if (!Descend(a, ix, t, Aim::kKey, key)) return false;
  PathLevel& leaf = t.path.back();
  if (leaf.pos < Count(leaf)) return true;
  if (Count(leaf) == 0) return false;
  leaf.pos = static_cast<uint16_t>(Count(leaf) - 1);
  if (Step(a, ix, t, true)) return true;
  leaf.pos = static_cast<uint16_t>(Count(t.path.back()));
  return false;
}

// Puts tag t on the current record's entry; reports 212 when it is not
// there. A record outside the table, or one the FOR expression leaves
// out, puts the tag at its end.
void SyncTag(WorkArea& a, IndexState& ix, TagState& t) {
  const int32_t r = a.table.current_record;
  t.bof = false;
  if (r < 1 || r > a.table.record_count || Empty(t) || !PassesFor(t.for_expr.get())) {
    t.path.clear();
    t.eof = true;
    return;
  }
  t.eof = false;
  if (CurrentEntryRecord(t) == r) return;
  std::vector<uint8_t> key(t.format.length);
  if (!MakeKey(t.key_expr.get(), t.format, key.data())) return;
  bool on = Seek(a, ix, t, key.data());
  int64_t budget = SearchBudget(a);
  while (on && CompareKeys(t.format, EntryKey(t.path.back(), t), key.data()) == 0) {
    // A unique tag holds one record per key: its entry stands for them all.
    if (CurrentEntryRecord(t) == r || t.header.unique) return;
    on = SearchStep(a, ix, t, budget);
  }
  if (Errors().DbfError != 0) return;
  t.path.clear();
  ReportError(err::kBeyondRange,
              "Key: \"" + KeyText(key.data(), t.format, t.key_expr->result_length, t.key_expr->decimals) +
                  "\" not in index: " + Location(ix, t) + ". [SyncIndex-1] Record: " + std::to_string(r));
}

bool Resume(WorkArea& a, IndexState& ix, TagState& t, bool forward, bool& moved) {
  const int32_t record = t.resume_record;
  t.resume_record = 0;
  moved = false;
  const uint8_t* key = t.resume_key.data();
  bool on = Seek(a, ix, t, key);
  int64_t budget = SearchBudget(a);
  while (on && CompareKeys(t.format, EntryKey(t.path.back(), t), key) == 0) {
    if (CurrentEntryRecord(t) == record) return true;
    on = SearchStep(a, ix, t, budget);
  }
  if (Errors().DbfError != 0) return false;
  // The entry is gone: the next one is the first key above it, the prior
  // one the last key below it.
  moved = true;
  if (forward) return on;
  if (Seek(a, ix, t, key)) return Step(a, ix, t, false);
  return Errors().DbfError == 0 && Descend(a, ix, t, Aim::kLast) && Positioned(t);
}

bool RefreshAnchors(IndexState& ix) {
  ix.cache.nodes.clear();
  ++IndexEngine().anchor_refreshes;
  for (TagState& t : ix.tags) {
    if (Positioned(t)) {
      const uint8_t* key = EntryKey(t.path.back(), t);
      t.resume_key.assign(key, key + t.format.length);
      t.resume_record = CurrentEntryRecord(t);
    }
    t.path.clear();
    mdx::Block anchor{};
    mdx::TagHeader header;
    const uint16_t code = mdx::ReadAt(*ix.file, t.header_block, anchor.data(), mdx::kAnchorSize);
    if (code != 0 || !mdx::DecodeTagHeader(anchor.data(), header) || header.key_type != t.header.key_type ||
        header.key_length != t.header.key_length) {
      ReportError(code != 0 ? code : err::kBadIndex,
                  "Error reading index file:  " + Location(ix, t) + " [ReadAnchorNodes]");
      return false;
    }
    t.header.root = header.root;
    t.header.has_keys = header.has_keys;
    std::copy_n(anchor.begin(), mdx::kAnchorSize, t.anchor.begin());
  }
  return true;
}

IndexState::~IndexState() {
  if (!sema || !sema->LoggedIn()) return;
  try {
    QuietErrors quiet;
    const uint16_t error = Errors().DbfError;
    (void)sema->Handle(SemaAction::kLogout);
    Errors().DbfError = error;
  } catch (...) {
  }
}

namespace {

bool CatchUp(IndexState& ix) { return !ix.sema->CounterMoved() || RefreshAnchors(ix); }

}  // namespace

bool BeginRead(IndexState& ix) {
  const bool counted = !ix.sema || ix.sema->Read(true);
  ix.reads.push_back(counted);
  ix.read_refused = !counted;
  return counted && (!ix.sema || CatchUp(ix));
}

void EndRead(IndexState& ix) {
  if (ix.reads.empty()) return;
  const bool counted = ix.reads.back();
  ix.reads.pop_back();
  ix.read_refused = std::find(ix.reads.begin(), ix.reads.end(), false) != ix.reads.end();
  if (counted && ix.sema) (void)ix.sema->Read(false);
}

bool BeginUpdate(IndexState& ix) {
  if (!ix.sema) return true;
  if (!ix.sema->Lock(true)) return false;
  if (CatchUp(ix)) return true;
  (void)ix.sema->Lock(false);
  return false;
}

void EndUpdate(IndexState& ix) {
  if (ix.sema) (void)ix.sema->Lock(false);
}

int64_t SearchBudget(const WorkArea& a) { return 2 * int64_t{a.table.record_count} + 16; }

bool SearchStep(WorkArea& a, IndexState& ix, TagState& t, int64_t& budget) {
  if (--budget < 0) {
    t.path.clear();
    Corrupted(ix);
    return false;
  }
  return Step(a, ix, t, true);
}

bool PutNode(IndexState& ix, TagState& t, uint32_t block, const mdx::Block& node) {
  const uint16_t code = mdx::WriteAt(*ix.file, block, node.data(), node.size());
  if (code == 0) {
    ix.cache.Put(block, node);
    return true;
  }
  ix.damaged = true;
  ReportError(code, "Error writing index file: " + Location(ix, t) + " [SeekAndWrite]");
  return false;
}

}  // namespace ov
