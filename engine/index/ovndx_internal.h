// The open-index side's own structures, shared by its files: navigation
// (ovndx.cpp), the tree walk (ovndx_tree.cpp) and key maintenance
// (ovndx_update.cpp). Nothing outside engine/index includes it.
//
// Each open tag keeps its own descent path: copies of the nodes from the
// root to its current leaf entry, with the position in each. A path is a
// cache of what the file held when it was read: whoever changes a tag's
// tree drops that tag's path.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/expr/ovparser.h"
#include "engine/index/index_semaphore.h"
#include "engine/index/keycomp.h"
#include "engine/index/ovndx.h"
#include "engine/index/ovndxlow.h"
#include "engine/support/platform.h"

namespace ov {

struct WorkArea;

struct ExprDeleter {
  void operator()(CompiledExpr* e) const { FreeExpr(e); }
};
using ExprPtr = std::unique_ptr<CompiledExpr, ExprDeleter>;

struct PathLevel {
  uint32_t block = 0;
  mdx::Block node{};
  uint16_t pos = 0;  // leaf: the entry; interior: the child (count = trailing)
};

struct TagState {
  int number = 0;  // slot in the tag table, 1..47
  uint32_t header_block = 0;
  std::string name;
  mdx::TagHeader header;
  std::array<uint8_t, mdx::kAnchorSize> anchor{};  // as read; WriteAnchor patches root and has-keys
  KeyFormat format;
  ExprPtr key_expr, for_expr;
  std::vector<PathLevel> path;  // root .. leaf; empty: not positioned
  bool bof = false, eof = false;
  // Steps taken since the tag was last positioned by a descent: a walk
  // longer than the table has records goes round a damaged tree.
  int64_t walk_steps = 0;
  // Where the tag stood when another process's change dropped its path:
  // the entry's key and record (0: nothing to resume).
  std::vector<uint8_t> resume_key;
  int32_t resume_record = 0;
  // The record's key and FOR result before an edit (see RememberKeys).
  std::vector<uint8_t> old_key;
  bool old_passed = false;
  int32_t old_record = 0;

  uint16_t entry_length() const { return header.entry_length(); }
};

// Nodes as this process last read or wrote them. Valid only while no other
// process can change the file: always for a table held exclusively; for a
// shared one, only until another writer's change shows in the semaphore's
// change counter, which empties it. Writes go to the file and the cache.
struct NodeCache {
  static constexpr size_t kMaxNodes = 8192;
  bool on = false;
  std::unordered_map<uint32_t, mdx::Block> nodes;
  void Put(uint32_t block, const mdx::Block& node) {
    if (!on) return;
    if (nodes.size() >= kMaxNodes) nodes.clear();
    nodes[block] = node;
  }
};

struct IndexState {
  IndexState() = default;
  IndexState(const IndexState&) = delete;
  IndexState& operator=(const IndexState&) = delete;
  // Logs out of the semaphore when the index was not closed in order.
  ~IndexState();

  std::string path;
  std::unique_ptr<File> file;
  mdx::MdxHeader header;
  std::vector<TagState> tags;  // in tag-table order
  int active = 0;              // number of the active tag; 0 natural order
  bool found = false;
  // A write into the tree failed: what the file holds may be torn, so the
  // index answers nothing until it is rebuilt.
  bool damaged = false;
  NodeCache cache;
  // A shared table's semaphore (none for a table held exclusively), and
  // whether each open read bracket was counted (a refused one reads
  // nothing until it ends).
  std::unique_ptr<IndexSemaphore> sema;
  std::vector<bool> reads;
  bool read_refused = false;
};

// Brackets of the semaphore: a read counts this process as a reader (no
// writer changes the file meanwhile); an update holds the writer's lock.
// Entering either re-reads the anchors when another process changed the
// index since. False after a report; the matching end is then a no-op
// (reads) or must not be called (updates).
bool BeginRead(IndexState& ix);
void EndRead(IndexState& ix);
bool BeginUpdate(IndexState& ix);
void EndUpdate(IndexState& ix);

// ---- Tree access (ovndx_tree.cpp). Every routine answers false after a
// report through the engine's error state. ----

std::string Location(const IndexState& ix, const TagState& t);
void Corrupted(const IndexState& ix);

inline uint16_t Count(const PathLevel& l) { return mdx::NodeCount(l.node.data()); }
inline uint32_t EntryPointer(const PathLevel& l, const TagState& t) {
  return GetLe32(mdx::NodeEntry(l.node.data(), l.pos, t.entry_length()));
}
inline const uint8_t* EntryKey(const PathLevel& l, const TagState& t) {
  return mdx::NodeEntry(l.node.data(), l.pos, t.entry_length()) + 4;
}
inline bool IsLeaf(const PathLevel& l, const TagState& t) { return mdx::IsLeaf(l.node.data(), t.entry_length()); }

// Reads node `block` of tag t, checked against the block and the file;
// refused (222) once the index is damaged.
bool GetNode(WorkArea& a, IndexState& ix, TagState& t, uint32_t block, mdx::Block& out);
// Writes node `block` of tag t; a failure marks the index damaged.
bool PutNode(IndexState& ix, TagState& t, uint32_t block, const mdx::Block& node);

enum class Aim { kFirst, kLast, kKey };
// Descends from the root to a leaf: leftmost, rightmost, or towards the
// first key not lower than `key` (the leaf position then is that entry, or
// the leaf's count when every key there is lower). An empty tag leaves a
// root leaf with count 0.
bool Descend(WorkArea& a, IndexState& ix, TagState& t, Aim aim, const uint8_t* key = nullptr);
// One entry forward or back; false at the end of the tag (or after a report).
bool Step(WorkArea& a, IndexState& ix, TagState& t, bool forward);
// One step forward within a search over equal keys or hidden records: a
// sound tag holds each record once, so a search that steps past more
// entries than the table has records walks a damaged tree (reported 222).
// `budget` starts at SearchBudget.
bool SearchStep(WorkArea& a, IndexState& ix, TagState& t, int64_t& budget);
int64_t SearchBudget(const WorkArea& a);
// Seeks the first entry not lower than `key`; false when every key is lower.
bool Seek(WorkArea& a, IndexState& ix, TagState& t, const uint8_t* key);

inline bool Positioned(const TagState& t) { return !t.path.empty() && t.path.back().pos < Count(t.path.back()); }
inline int32_t CurrentEntryRecord(const TagState& t) {
  return Positioned(t) ? static_cast<int32_t>(EntryPointer(t.path.back(), t)) : 0;
}
// Whether the tag can hold keys at all (a FOR tag may have none).
inline bool Empty(const TagState& t) {
  return t.header.root == 0 || (!t.header.for_expr.empty() && !t.header.has_keys);
}

// Finds tag t's place again after another process changed the tree: on
// the entry it stood on when that is still there (`moved` false), else on
// the entry that now follows (forward) or precedes its key (`moved` true).
// False at the end of the tag or after a report.
bool Resume(WorkArea& a, IndexState& ix, TagState& t, bool forward, bool& moved);
// Re-reads every tag's anchor after another process's change; each tag
// keeps where it stood, to resume from there. False after a report.
bool RefreshAnchors(IndexState& ix);

// Puts tag t on the current record's entry; reports 212 when it is not
// there. A record outside the table, or one the FOR expression leaves
// out, puts the tag at its end.
void SyncTag(WorkArea& a, IndexState& ix, TagState& t);

// ---- Key maintenance (ovndx_update.cpp) ----

// Keeps each tag's key and FOR result of the current record (its stored
// values) before an edit.
void RememberKeys(WorkArea& a, IndexState& ix);
// After the edited record is written: moves the keys that changed.
void UpdateKeys(WorkArea& a, IndexState& ix);
// After an append: adds the new record's keys to every tag; on a failure
// the keys already added are taken out again.
void AddKeys(WorkArea& a, IndexState& ix);
// Writes tag t's anchor (the first 983 bytes of its header block).
bool WriteAnchor(IndexState& ix, TagState& t);

}  // namespace ov
