// Key maintenance: every open tag follows the records as they are appended
// and changed.
//
// Insertion puts a key in front of the entries with an equal key and
// splits full nodes bottom-up: the old node keeps c - c/2 entries, the new
// one takes the upper c/2 and the trailing pointer. Deletion takes the
// entry out, carries a leaf's new last key up, unlinks an emptied node and
// bypasses an interior node left without a key; nodes are never merged and
// blocks never reused, so the file only grows.
//
// Write order keeps every committed key reachable whatever write fails or
// wherever the process dies: new nodes are written first, then the node
// that references them (the parent, or a new root and the anchor), and the
// shrunken old nodes last. In between, a walk sees some keys twice (which
// the index check reports and a rebuild mends) but never misses one. A
// deletion writes the referencing parent before it abandons a child.
//
// Single-threaded; a writer holds the index's lock semaphore around an
// update, so no other process reads a half-changed tree.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/index/ovndx_internal.h"
#include "engine/support/ovcommon.h"
#include "engine/support/scope_guard.h"

namespace ov {

namespace {

using Key = std::vector<uint8_t>;

// ---- Node edits in place ----

uint8_t* EntryAt(mdx::Block& n, size_t i, uint16_t el) { return mdx::NodeEntry(n.data(), i, el); }
void SetCount(mdx::Block& n, size_t c) { PutLe32(n.data(), static_cast<uint32_t>(c)); }
void SetTrailing(mdx::Block& n, uint16_t el, uint32_t p) { PutLe32(EntryAt(n, mdx::NodeCount(n.data()), el), p); }

void WriteEntry(mdx::Block& n, size_t i, const TagState& t, uint32_t ptr, const uint8_t* key) {
  uint8_t* e = EntryAt(n, i, t.entry_length());
  PutLe32(e, ptr);
  std::memcpy(e + 4, key, t.format.length);
  std::fill(e + 4 + t.format.length, e + t.entry_length(), uint8_t{0});
}

// Inserts an entry at i; the entries after it and the trailing pointer
// move up. REQUIRES: room for one more entry.
void InsertAt(mdx::Block& n, size_t i, const TagState& t, uint32_t ptr, const uint8_t* key) {
  const uint16_t el = t.entry_length();
  const size_t c = mdx::NodeCount(n.data());
  std::memmove(EntryAt(n, i + 1, el), EntryAt(n, i, el), (c - i) * el + 4);
  WriteEntry(n, i, t, ptr, key);
  SetCount(n, c + 1);
}

// Removes entry i; the entries after it and the trailing pointer move down
// and the freed bytes become zero.
void RemoveAt(mdx::Block& n, size_t i, uint16_t el) {
  const size_t c = mdx::NodeCount(n.data());
  std::memmove(EntryAt(n, i, el), EntryAt(n, i + 1, el), (c - i - 1) * el + 4);
  SetCount(n, c - 1);
  uint8_t* end = EntryAt(n, c - 1, el) + 4;
  std::fill(end, n.data() + n.size(), uint8_t{0});
}

Key KeyOf(const uint8_t* p, const TagState& t) { return Key(p, p + t.format.length); }

// The subtree under path level `level` of tag t has a new last key: the
// first ancestor that holds a key for it takes the new one (a trailing
// child has no key in its parent, so the search goes on up).
bool CarryUp(IndexState& ix, TagState& t, size_t level, const uint8_t* key) {
  while (level-- > 0) {
    PathLevel& p = t.path[level];
    if (p.pos == Count(p)) continue;
    uint8_t* k = EntryAt(p.node, p.pos, t.entry_length()) + 4;
    if (std::memcmp(k, key, t.format.length) == 0) return true;
    std::memcpy(k, key, t.format.length);
    return PutNode(ix, t, p.block, p.node);
  }
  return true;
}

// ---- Split images ----

// A node as separate entries: pointers, keys and the trailing pointer.
struct Image {
  std::vector<uint32_t> ptrs;
  std::vector<Key> keys;
  uint32_t trailing = 0;
};

Image Decode(const mdx::Block& n, const TagState& t) {
  Image img;
  const uint16_t el = t.entry_length();
  const size_t c = mdx::NodeCount(n.data());
  for (size_t i = 0; i < c; ++i) {
    const uint8_t* e = mdx::NodeEntry(n.data(), i, el);
    img.ptrs.push_back(GetLe32(e));
    img.keys.push_back(KeyOf(e + 4, t));
  }
  img.trailing = mdx::TrailingPointer(n.data(), el);
  return img;
}

mdx::Block Encode(const Image& img, const TagState& t) {
  mdx::Block n{};
  SetCount(n, img.ptrs.size());
  for (size_t i = 0; i < img.ptrs.size(); ++i) WriteEntry(n, i, t, img.ptrs[i], img.keys[i].data());
  SetTrailing(n, t.entry_length(), img.trailing);
  return n;
}

void Insert(Image& img, size_t i, uint32_t ptr, const Key& key) {
  img.ptrs.insert(img.ptrs.begin() + static_cast<long>(i), ptr);
  img.keys.insert(img.keys.begin() + static_cast<long>(i), key);
}

// Takes entries [from, to) of `img` as a node of their own.
Image Slice(const Image& img, size_t from, size_t to) {
  Image out;
  out.ptrs.assign(img.ptrs.begin() + static_cast<long>(from), img.ptrs.begin() + static_cast<long>(to));
  out.keys.assign(img.keys.begin() + static_cast<long>(from), img.keys.begin() + static_cast<long>(to));
  return out;
}

// In an interior node, child p (p = count: the trailing child) became two:
// `left` (its own block, last key kl) and `right` (a new block, last key
// kr).
void SplitChild(Image& img, size_t p, uint32_t left, const Key& kl, uint32_t right, const Key& kr) {
  if (p < img.ptrs.size()) {
    img.keys[p] = kl;
    Insert(img, p + 1, right, kr);
  } else {
    Insert(img, p, left, kl);
    img.trailing = right;
  }
}

// What a split hands to the level above.
struct Split {
  uint32_t left = 0, right = 0;
  Key left_key, right_key;
};

class Inserter {
 public:
  Inserter(WorkArea& a, IndexState& ix, TagState& t) : a_(a), ix_(ix), t_(t) {}

  // Adds (record, key); false after a report.
  bool Run(const uint8_t* key, int32_t record) {
    if (!Descend(a_, ix_, t_, Aim::kKey, key)) return false;
    const size_t leaf = t_.path.size() - 1;
    PathLevel& l = t_.path[leaf];
    if (t_.header.unique && l.pos < Count(l) && CompareKeys(t_.format, EntryKey(l, t_), key) == 0) return true;
    bool anchor = false;
    if (!t_.header.has_keys) t_.header.has_keys = anchor = true;
    const uint16_t el = t_.entry_length();
    if (mdx::HasRoom(l.node.data(), t_.header.max_keys(), el)) {
      const bool last = l.pos == Count(l);
      InsertAt(l.node, l.pos, t_, static_cast<uint32_t>(record), key);
      if (!PutNode(ix_, t_, l.block, l.node)) return false;
      if (last && !CarryUp(ix_, t_, leaf, key)) return false;
      return !anchor || WriteAnchor(ix_, t_);
    }
    const bool done = SplitUp(leaf, key, record, anchor);
    t_.path.clear();  // the copies no longer match the file
    return done;
  }

 private:
  bool NewBlock(uint32_t& block) {
    if (next_ == 0) {
      uint64_t size = 0;
      const uint16_t code = ix_.file->Size(size);
      if (code != 0) {
        ReportError(code, "Error reading index file: " + Location(ix_, t_) + " [AppendIndex]");
        return false;
      }
      next_ = mdx::NextBlock(size);
    }
    block = next_;
    next_ += 2;
    return true;
  }

  // Writes a new node at once (nothing references it yet).
  bool PutNew(const Image& img, uint32_t& block) { return NewBlock(block) && PutNode(ix_, t_, block, Encode(img, t_)); }

  // The last key under `block`, along the trailing pointers.
  bool LastKeyUnder(uint32_t block, Key& out) {
    for (int depth = 0; depth < kMaxDepth; ++depth) {
      mdx::Block n{};
      if (!GetNode(a_, ix_, t_, block, n)) return false;
      const uint16_t el = t_.entry_length();
      const size_t c = mdx::NodeCount(n.data());
      if (mdx::IsLeaf(n.data(), el)) {
        if (c == 0) break;
        out = KeyOf(mdx::NodeEntry(n.data(), c - 1, el) + 4, t_);
        return true;
      }
      block = mdx::TrailingPointer(n.data(), el);
    }
    Corrupted(ix_);
    return false;
  }

  // Splits the full leaf and as many full ancestors as it takes.
  bool SplitUp(size_t leaf, const uint8_t* key, int32_t record, bool anchor) {
    std::vector<std::pair<uint32_t, mdx::Block>> shrunk;  // old halves, bottom-up
    Split s;
    {
      PathLevel& l = t_.path[leaf];
      const Image img = Decode(l.node, t_);
      const size_t c = img.ptrs.size(), keep = c - c / 2;
      Image left = Slice(img, 0, keep), right = Slice(img, keep, c);
      if (l.pos >= keep) {
        Insert(right, l.pos - keep, static_cast<uint32_t>(record), KeyOf(key, t_));
      } else {
        Insert(left, l.pos, static_cast<uint32_t>(record), KeyOf(key, t_));
      }
      if (!PutNew(right, s.right)) return false;
      s.left = l.block;
      s.left_key = left.keys.back();
      s.right_key = right.keys.back();
      shrunk.emplace_back(l.block, Encode(left, t_));
    }
    size_t level = leaf;
    while (true) {
      if (level == 0) {  // the root split: a new root above both halves
        Image root;
        root.ptrs = {s.left};
        root.keys = {s.left_key};
        root.trailing = s.right;
        uint32_t block = 0;
        if (!PutNew(root, block)) return false;
        t_.header.root = block;
        anchor = true;
        break;
      }
      --level;
      PathLevel& p = t_.path[level];
      const uint16_t el = t_.entry_length();
      const size_t c = Count(p);
      if (mdx::HasRoom(p.node.data(), t_.header.max_keys(), el)) {
        Image img = Decode(p.node, t_);
        const bool trailing = p.pos == c;
        SplitChild(img, p.pos, s.left, s.left_key, s.right, s.right_key);
        p.node = Encode(img, t_);
        if (!PutNode(ix_, t_, p.block, p.node)) return false;
        if (trailing && !CarryUp(ix_, t_, level, s.right_key.data())) return false;
        break;
      }
      if (!SplitInterior(p, s, shrunk)) return false;
    }
    if (anchor && !WriteAnchor(ix_, t_)) return false;
    for (auto it = shrunk.rbegin(); it != shrunk.rend(); ++it) {
      if (!PutNode(ix_, t_, it->first, it->second)) return false;
    }
    return true;
  }

  // Splits the full interior node at `p`, whose child p.pos was split as
  // `s`; on return `s` describes this split.
  bool SplitInterior(PathLevel& p, Split& s, std::vector<std::pair<uint32_t, mdx::Block>>& shrunk) {
    const Image img = Decode(p.node, t_);
    const size_t c = img.ptrs.size(), keep = c - c / 2, child = p.pos;
    // The old half gives up its last key: that entry's child becomes its
    // trailing pointer.
    Image left = Slice(img, 0, keep - 1);
    left.trailing = img.ptrs[keep - 1];
    Key left_last = img.keys[keep - 1];
    Image right = Slice(img, keep, c);
    right.trailing = img.trailing;
    if (child < keep - 1) {
      SplitChild(left, child, s.left, s.left_key, s.right, s.right_key);
    } else if (child == keep - 1) {
      Insert(right, 0, s.right, s.right_key);  // the split child stays the old half's trailing one
      left_last = s.left_key;
    } else {
      SplitChild(right, child - keep, s.left, s.left_key, s.right, s.right_key);
    }
    Key right_last;
    if (child == c) {
      right_last = s.right_key;
    } else if (!LastKeyUnder(right.trailing, right_last)) {
      return false;
    }
    Split up;
    if (!PutNew(right, up.right)) return false;
    up.left = p.block;
    up.left_key = std::move(left_last);
    up.right_key = std::move(right_last);
    shrunk.emplace_back(p.block, Encode(left, t_));
    s = std::move(up);
    return true;
  }

  WorkArea& a_;
  IndexState& ix_;
  TagState& t_;
  uint32_t next_ = 0;  // the next new block; 0: not asked yet
};

// Adds (record, key) to tag t; false after a report.
bool AppendIndex(WorkArea& a, IndexState& ix, TagState& t, const uint8_t* key, int32_t record) {
  try {
    return Inserter(a, ix, t).Run(key, record);
  } catch (const std::bad_alloc&) {
    t.path.clear();
    ix.damaged = true;  // a split may have stopped between its writes
    ReportError(err::kNoMemory, " [AppendIndex]");
    return false;
  }
}

class Deleter {
 public:
  Deleter(WorkArea& a, IndexState& ix, TagState& t) : a_(a), ix_(ix), t_(t) {}

  // Takes (record, key) out of the tag. kMissing: no such entry.
  enum Result { kDone, kMissing, kFailed };
  Result Run(const uint8_t* key, int32_t record) {
    const uint16_t before = Errors().DbfError;
    bool on = Seek(a_, ix_, t_, key);
    int64_t budget = SearchBudget(a_);
    while (on && CompareKeys(t_.format, EntryKey(t_.path.back(), t_), key) == 0) {
      if (CurrentEntryRecord(t_) == record) {
        const bool done = Remove();
        t_.path.clear();
        return done ? kDone : kFailed;
      }
      on = SearchStep(a_, ix_, t_, budget);
    }
    t_.path.clear();
    return Errors().DbfError != before && Errors().DbfError != 0 ? kFailed : kMissing;
  }

 private:
  uint16_t el() const { return t_.entry_length(); }

  // Zero-fills a node nobody references any more.
  bool Abandon(uint32_t block) { return PutNode(ix_, t_, block, mdx::Block{}); }

  bool Remove() {
    size_t level = t_.path.size() - 1;
    PathLevel& leaf = t_.path[level];
    const size_t c = Count(leaf);
    if (c > 1 || level == 0) {
      const bool last = leaf.pos == c - 1;
      RemoveAt(leaf.node, leaf.pos, el());
      if (!PutNode(ix_, t_, leaf.block, leaf.node)) return false;
      if (c == 1) {  // the root leaf emptied
        t_.header.has_keys = false;
        return WriteAnchor(ix_, t_);
      }
      if (last) return CarryUp(ix_, t_, level, EntryAt(leaf.node, c - 2, el()) + 4);
      return true;
    }
    // The leaf held only this entry: unlink it, then abandon it.
    std::vector<uint32_t> abandoned = {leaf.block};
    bool anchor = false;
    while (true) {
      --level;
      PathLevel& p = t_.path[level];
      const size_t n = Count(p);
      if (n == 0) {  // a keyless interior node: the file is damaged
        Corrupted(ix_);
        return false;
      }
      Key new_last;  // set when the removed child was the trailing one
      if (p.pos < n) {
        RemoveAt(p.node, p.pos, el());
      } else {
        const uint32_t ptr = GetLe32(EntryAt(p.node, n - 1, el()));
        new_last = KeyOf(EntryAt(p.node, n - 1, el()) + 4, t_);
        RemoveAt(p.node, n - 1, el());
        SetTrailing(p.node, el(), ptr);
      }
      if (Count(p) > 0) {
        if (!PutNode(ix_, t_, p.block, p.node)) return false;
        if (!new_last.empty() && !CarryUp(ix_, t_, level, new_last.data())) return false;
        break;
      }
      // A keyless interior node: its only child takes its place.
      const uint32_t only = mdx::TrailingPointer(p.node.data(), el());
      abandoned.push_back(p.block);
      if (level == 0) {
        t_.header.root = only;
        anchor = true;
        break;
      }
      PathLevel& g = t_.path[level - 1];
      if (g.pos < Count(g)) {
        uint8_t* e = EntryAt(g.node, g.pos, el());
        PutLe32(e, only);
        if (!new_last.empty()) std::memcpy(e + 4, new_last.data(), new_last.size());
        if (!PutNode(ix_, t_, g.block, g.node)) return false;
      } else {
        SetTrailing(g.node, el(), only);
        if (!PutNode(ix_, t_, g.block, g.node)) return false;
        if (!new_last.empty() && !CarryUp(ix_, t_, level - 1, new_last.data())) return false;
      }
      break;
    }
    if (anchor && !WriteAnchor(ix_, t_)) return false;
    for (uint32_t block : abandoned) {
      if (!Abandon(block)) return false;
    }
    return true;
  }

  WorkArea& a_;
  IndexState& ix_;
  TagState& t_;
};

Deleter::Result DeleteKey(WorkArea& a, IndexState& ix, TagState& t, const uint8_t* key, int32_t record) {
  return Deleter(a, ix, t).Run(key, record);
}

// The current record's key and FOR result for tag t; false after a report.
bool KeyNow(TagState& t, Key& key, bool& passes) {
  key.resize(t.format.length);
  passes = PassesFor(t.for_expr.get());
  if (Errors().DbfError != 0) return false;
  return MakeKey(t.key_expr.get(), t.format, key.data());
}

}  // namespace

bool WriteAnchor(IndexState& ix, TagState& t) {
  PutLe32(&t.anchor[mdx::kTagRoot], t.header.root);
  t.anchor[mdx::kTagHasKeys] = t.header.has_keys ? 1 : 0;
  uint16_t code = mdx::WriteAt(*ix.file, t.header_block, t.anchor.data(), mdx::kAnchorSize);
  if (code == 0 && Engine().table.FlushEachWrite) code = ix.file->Sync();
  if (code != 0) {
    ix.damaged = true;
    ReportError(code, "Error writing index file:  " + Location(ix, t) + " [WriteAnchor]");
    return false;
  }
  return true;
}

void RememberKeys(WorkArea& a, IndexState& ix) {
  for (TagState& t : ix.tags) {
    t.old_record = 0;
    if (!KeyNow(t, t.old_key, t.old_passed)) return;
    t.old_record = a.table.current_record;
  }
}

void UpdateKeys(WorkArea& a, IndexState& ix) {
  const int32_t r = a.table.current_record;
  std::string missing;  // the first tag that lacked the record's old entry
  Key key;
  for (TagState& t : ix.tags) {
    bool passes = false;
    if (!KeyNow(t, key, passes)) return;
    if (t.old_record != r) {
      ReportError(err::kInternal,
                  "Record number " + std::to_string(r) + " not found in index. " + Location(ix, t) + " [CompareKeys]");
      return;
    }
    const bool changed = key != t.old_key;
    if (t.old_passed && (changed || !passes)) {
      const Deleter::Result d = DeleteKey(a, ix, t, t.old_key.data(), r);
      if (d == Deleter::kFailed) return;
      // A unique tag may have declined the record as a duplicate.
      if (d == Deleter::kMissing && !t.header.unique && missing.empty()) missing = Location(ix, t);
    }
    if (passes && (changed || !t.old_passed) && !AppendIndex(a, ix, t, key.data(), r)) return;
    t.old_key = key;
    t.old_passed = passes;
  }
  if (!missing.empty()) {
    ReportError(err::kInternal,
                "Record number " + std::to_string(r) + " not found in index. " + missing + " [CompareKeys]");
  }
}

void AddKeys(WorkArea& a, IndexState& ix) {
  const int32_t r = a.table.current_record;
  // The tags that took the new key so far; each keeps it as its old key.
  size_t added = 0;
  // One tag failing takes the new record out of those before it, so the
  // tags agree with each other.
  ScopeGuard undo([&] {
    while (added > 0) {
      TagState& t = ix.tags[--added];
      if (!t.old_passed) continue;
      if (DeleteKey(a, ix, t, t.old_key.data(), r) != Deleter::kDone) {
        ReportError(err::kInternal, "Index file corrupted. " + Location(ix, t) + " [AppendNewKey]");
        return;
      }
    }
  });
  for (TagState& t : ix.tags) {
    t.old_record = 0;
    if (!KeyNow(t, t.old_key, t.old_passed)) return;
    if (t.old_passed && !AppendIndex(a, ix, t, t.old_key.data(), r)) return;
    t.old_record = r;
    ++added;
  }
  undo.Dismiss();
}

}  // namespace ov
