#include "engine/index/mdx_tree.h"

#include <cstring>

namespace ov {

namespace {
constexpr size_t kBufferNodes = 63;  // nodes per write of the buffer
}

TreeWriter::TreeWriter(File& file, uint32_t first_block, const KeyFormat& format, bool unique)
    : file_(file),
      format_(format),
      unique_(unique),
      entry_length_(mdx::EntryLength(format.length)),
      max_keys_(mdx::MaxKeys(format.length)),
      levels_(1),
      buffer_block_(first_block),
      next_block_(first_block),
      last_key_(format.length) {
  buffer_.reserve(kBufferNodes * mdx::kBlockSize);
}

void TreeWriter::PutEntry(mdx::Block& node, uint32_t pointer, const uint8_t* key) {
  const uint16_t c = mdx::NodeCount(node.data());
  uint8_t* e = mdx::NodeEntry(node.data(), c, entry_length_);
  PutLe32(e, pointer);
  std::memcpy(e + 4, key, format_.length);
  PutLe32(node.data(), c + 1u);
}

uint16_t TreeWriter::Add(const uint8_t* key, uint32_t record) {
  if (unique_ && keys_ > 0 && CompareKeys(format_, key, last_key_.data()) == 0) return 0;
  mdx::Block& leaf = levels_[0];
  const uint16_t c = mdx::NodeCount(leaf.data());
  if (c >= max_keys_) {
    uint32_t block = 0;
    if (const uint16_t code = WriteNode(leaf, block)) return code;
    if (const uint16_t code = PassUp(block, last_key_.data())) return code;
    levels_[0].fill(0);
  }
  PutEntry(levels_[0], record, key);
  std::memcpy(last_key_.data(), key, format_.length);
  ++keys_;
  return 0;
}

// A full node was written as `block`: it becomes an entry of the level
// above, or, where that level is full too, its trailing child, and that
// level's node goes up in turn. The entry finally made carries the last key
// of the leaf that started it, which is the last key of every subtree on
// the way.
uint16_t TreeWriter::PassUp(uint32_t block, const uint8_t* last_key) {
  for (size_t level = 1;; ++level) {
    if (level == levels_.size()) levels_.emplace_back().fill(0);
    mdx::Block& node = levels_[level];
    const uint16_t c = mdx::NodeCount(node.data());
    if (c < max_keys_) {
      PutEntry(node, block, last_key);
      return 0;
    }
    PutLe32(mdx::NodeEntry(node.data(), c, entry_length_), block);
    if (const uint16_t code = WriteNode(node, block)) return code;
    levels_[level].fill(0);
  }
}

uint16_t TreeWriter::Finish(uint32_t& root) {
  uint32_t block = 0;
  if (const uint16_t code = WriteNode(levels_[0], block)) return code;
  for (size_t level = 1; level < levels_.size(); ++level) {
    mdx::Block& node = levels_[level];
    const uint16_t c = mdx::NodeCount(node.data());
    if (c == 0) continue;
    PutLe32(mdx::NodeEntry(node.data(), c, entry_length_), block);
    if (const uint16_t code = WriteNode(node, block)) return code;
  }
  root = block;
  return Flush();
}

uint16_t TreeWriter::WriteNode(mdx::Block& node, uint32_t& block) {
  block = next_block_;
  next_block_ += 2;
  buffer_.insert(buffer_.end(), node.begin(), node.end());
  return buffer_.size() >= kBufferNodes * mdx::kBlockSize ? Flush() : 0;
}

uint16_t TreeWriter::Flush() {
  if (buffer_.empty()) return 0;
  const uint16_t code = mdx::WriteAt(file_, buffer_block_, buffer_.data(), buffer_.size());
  buffer_block_ = next_block_;
  buffer_.clear();
  return code;
}

}  // namespace ov
