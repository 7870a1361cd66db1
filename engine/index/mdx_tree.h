// The bottom-up tree writer of the index builder: takes (key, record)
// pairs in index order and lays down full nodes, leaf after leaf, passing
// each written node's block and last key to the level above.
//
// Nodes are written in sequence from a first block through one buffer;
// every node except the last of each level is full. A level that is empty
// at the end is skipped, so leaves may sit at different depths.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/index/keycomp.h"
#include "engine/index/ovndxlow.h"

namespace ov {

class TreeWriter {
 public:
  // Nodes go to `file` from block `first_block` on; a unique tag keeps the
  // first of each run of equal keys.
  TreeWriter(File& file, uint32_t first_block, const KeyFormat& format, bool unique);
  // Adds the next pair; answers 0 or the write's code.
  [[nodiscard]] uint16_t Add(const uint8_t* key, uint32_t record);
  // Writes what is left; `root` is the last node written.
  [[nodiscard]] uint16_t Finish(uint32_t& root);
  bool has_keys() const { return keys_ > 0; }
  uint64_t keys() const { return keys_; }
  // The block after the last one written (the file's end once finished).
  uint32_t next_block() const { return next_block_; }

 private:
  [[nodiscard]] uint16_t WriteNode(mdx::Block& node, uint32_t& block);
  [[nodiscard]] uint16_t PassUp(uint32_t block, const uint8_t* last_key);
  [[nodiscard]] uint16_t Flush();
  void PutEntry(mdx::Block& node, uint32_t pointer, const uint8_t* key);

  File& file_;
  KeyFormat format_;
  bool unique_;
  uint16_t entry_length_, max_keys_;
  std::vector<mdx::Block> levels_;  // [0] the current leaf
  std::vector<uint8_t> buffer_;     // finished nodes not yet written
  uint32_t buffer_block_;           // block of the buffer's first node
  uint32_t next_block_;
  uint64_t keys_ = 0;
  std::vector<uint8_t> last_key_;
};

}  // namespace ov
