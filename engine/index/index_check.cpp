#include "engine/index/index_check.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/index/ovndx_internal.h"
#include "engine/support/ovcommon.h"
#include "engine/support/scope_guard.h"

namespace ov {

namespace {

using Key = std::vector<uint8_t>;
using Entry = std::pair<Key, int32_t>;

class TreeWalk {
 public:
  TreeWalk(IndexState& ix, TagState& t, int32_t records, std::vector<CheckFinding>& findings)
      : ix_(ix), t_(t), records_(records), findings_(findings) {}

  // The tag's entries in tree order; findings for what is wrong on the way.
  // `walked`: the whole tree could be walked.
  std::vector<Entry> Run(bool& walked) {
    if (ix_.file->Size(size_) != 0) size_ = 0;
    Key last;
    walked = Walk(t_.header.root, 0, true, last);
    if (walked && !entries_.empty() && !t_.header.has_keys && !t_.header.for_expr.empty()) {
      Add(0, "has-keys flag is 0 over " + std::to_string(entries_.size()) + " keys");
    }
    return std::move(entries_);
  }

 private:
  bool Add(int64_t where, const std::string& text) {
    return AddFinding(findings_, FindingKind::kIndexTree, where, "tag " + t_.name + ": " + text);
  }

  // Walks the subtree at `block`; `last` gets its last key. False when it
  // could not be walked (already reported).
  bool Walk(uint32_t block, int depth, bool root, Key& last) {
    if (depth >= kMaxDepth) return !Add(block, "tree deeper than " + std::to_string(kMaxDepth) + " levels");
    if (block < 4 || block % 2 != 0 || mdx::BlockOffset(block) + mdx::kBlockSize > size_) {
      return !Add(block, "node outside the file");
    }
    if (!seen_.insert(block).second) return !Add(block, "node reached twice");
    mdx::Block n{};
    if (mdx::ReadAt(*ix_.file, block, n.data(), n.size()) != 0) return !Add(block, "node cannot be read");
    const uint16_t el = t_.entry_length();
    const size_t count = mdx::NodeCount(n.data());
    if (count > t_.header.max_keys() || !mdx::NodeFits(count, el)) return !Add(block, "count beyond the block");
    const bool leaf = mdx::IsLeaf(n.data(), el);
    if (count == 0 && !root) Add(block, leaf ? "empty node in the tree" : "interior node without a key");
    for (size_t i = 0; i <= count; ++i) {
      if (leaf && i == count) break;
      const uint8_t* e = mdx::NodeEntry(n.data(), i, el);
      const uint32_t ptr = GetLe32(e);
      // The trailing pointer has no key after it.
      Key key = i < count ? Key(e + 4, e + 4 + t_.format.length) : Key();
      if (leaf) {
        if (ptr < 1 || ptr > static_cast<uint32_t>(records_)) {
          Add(block, "record " + std::to_string(ptr) + " outside the table");
        }
        if (!entries_.empty() && CompareKeys(t_.format, entries_.back().first.data(), key.data()) > 0) {
          Add(block, "keys out of order at entry " + std::to_string(i));
        }
        last = key;
        entries_.emplace_back(std::move(key), static_cast<int32_t>(ptr));
        continue;
      }
      Key child_last;
      if (!Walk(ptr, depth + 1, false, child_last)) return false;
      if (i < count && child_last != key) {
        Add(block, "entry " + std::to_string(i) + " does not carry its child's last key");
      }
      last = std::move(child_last);
    }
    return true;
  }

  IndexState& ix_;
  TagState& t_;
  int32_t records_;
  std::vector<CheckFinding>& findings_;
  uint64_t size_ = 0;
  std::unordered_set<uint32_t> seen_;
  std::vector<Entry> entries_;
};

// Byte order of keys of one tag (all of one length), then record number.
bool ByBytes(const Entry& x, const Entry& y) {
  const int c = std::memcmp(x.first.data(), y.first.data(), std::min(x.first.size(), y.first.size()));
  return c != 0 ? c < 0 : x.second < y.second;
}

std::string Text(const TagState& t, const Key& key) {
  return KeyText(key.data(), t.format, t.key_expr->result_length, t.key_expr->decimals);
}

// The entries the table's records give tag t; false when a key could not
// be made (a finding says why).
bool ExpectedEntries(WorkArea& a, TagState& t, std::vector<Entry>& out, std::vector<CheckFinding>& findings) {
  for (int32_t r = 1; r <= a.table.record_count; ++r) {
    Dbf4RawGo(r);
    Key key(t.format.length);
    const bool passes = Errors().DbfError == 0 && PassesFor(t.for_expr.get());
    if (Errors().DbfError != 0 || !MakeKey(t.key_expr.get(), t.format, key.data())) {
      AddFinding(findings, FindingKind::kIndexKeys, r, "tag " + t.name + ": key cannot be made");
      Errors().DbfError = 0;
      return false;
    }
    if (passes) out.emplace_back(std::move(key), r);
  }
  return true;
}

void CompareEntries(TagState& t, std::vector<Entry> have, std::vector<Entry> want,
                    std::vector<CheckFinding>& findings) {
  const std::string tag = "tag " + t.name + ": ";
  if (t.header.unique) {
    // Each key once, held by a record that has it.
    for (size_t i = 1; i < have.size(); ++i) {
      if (have[i].first == have[i - 1].first) {
        AddFinding(findings, FindingKind::kIndexKeys, have[i].second,
                   tag + "key \"" + Text(t, have[i].first) + "\" twice in a unique tag");
      }
    }
    std::sort(want.begin(), want.end(), [](const Entry& x, const Entry& y) { return x.second < y.second; });
    for (const Entry& e : have) {
      auto it =
          std::lower_bound(want.begin(), want.end(), e.second, [](const Entry& x, int32_t r) { return x.second < r; });
      if (it == want.end() || it->second != e.second || it->first != e.first) {
        AddFinding(findings, FindingKind::kIndexKeys, e.second,
                   tag + "entry \"" + Text(t, e.first) + "\" is not the record's key");
      }
    }
    return;
  }
  std::sort(have.begin(), have.end(), ByBytes);
  std::sort(want.begin(), want.end(), ByBytes);
  std::vector<Entry> extra, missing;
  std::set_difference(have.begin(), have.end(), want.begin(), want.end(), std::back_inserter(extra), ByBytes);
  std::set_difference(want.begin(), want.end(), have.begin(), have.end(), std::back_inserter(missing), ByBytes);
  for (const Entry& e : extra) {
    AddFinding(findings, FindingKind::kIndexKeys, e.second,
               tag + "entry \"" + Text(t, e.first) + "\" is not the record's key");
  }
  for (const Entry& e : missing) {
    AddFinding(findings, FindingKind::kIndexKeys, e.second, tag + "key \"" + Text(t, e.first) + "\" missing");
  }
}

}  // namespace

std::vector<CheckFinding> CheckIndex() {
  std::vector<CheckFinding> findings;
  WorkArea* a = CurrentArea();
  if (a == nullptr || !a->index_state || !a->index_state->file) return findings;
  IndexState& ix = *a->index_state;
  QuietErrors quiet;
  const uint16_t error = Errors().DbfError;
  const int32_t at = a->table.current_record;
  ScopeGuard back([&] {
    Dbf4RawGo(at);
    Errors().DbfError = error;
  });
  for (TagState& t : ix.tags) {
    bool walked = false;
    std::vector<Entry> have = TreeWalk(ix, t, a->table.record_count, findings).Run(walked);
    std::vector<Entry> want;
    // Keys are compared only over a tree that could be walked whole.
    if (walked && ExpectedEntries(*a, t, want, findings)) CompareEntries(t, std::move(have), std::move(want), findings);
  }
  return findings;
}

}  // namespace ov
