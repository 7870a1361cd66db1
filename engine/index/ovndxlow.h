// Multi-tag index files (.MDX): the bytes on disk and the routines that lay
// them down. Nothing outside engine/index reads or writes these structures.
//
// The file is a sequence of 512-byte units; a block number is a file
// offset / 512. Bytes 0..2047 are the file header and the tag table; after
// them come 1024-byte blocks (tag header blocks and nodes), each starting
// at a 1024-byte boundary of the file, so node numbers grow in steps of 2.
// Blocks are only ever appended; the file never shrinks.
//
// File header (bytes 0..511), little-endian:
//   off  len  content
//    0    1   version, 2
//    1    3   creation date: year - 1900, month, day
//    4   16   table name without extension, NUL-terminated (cut to 15)
//   20    2   block size in 512-byte units, 2
//   22    2   block size in bytes, 1024
//   24    1   production flag, 1
//   25    1   tag table capacity, written as 48
//   26    2   tag table entry length, 32
//   28    1   tags in use
//   32    4   block-count word: root block of the tag added last + 2
//   44    3   date of last update (= creation date)
//   other bytes zero
//
// Tag table (bytes 512..2047): 32-byte slots at 512 + 32 * i. Slot 0 is no
// tag: its byte 17 is the root link of the name tree. Tags are 1..47; the
// 47th slot ends at byte 2047, so no 48th tag exists.
//   off  len  content
//    0    4   block number of the tag header block
//    4   11   tag name, upper case, NUL-terminated
//   16    1   name tree: left child slot (names that compare lower)
//   17    1   name tree: right child slot (equal or higher)
//   18    1   name tree: parent slot, 0 for the root
//   19    1   constant 2
//   20    1   key type letter
//
// Tag header block (1024 bytes; its first 983 bytes are the tag's anchor):
//   off  len  content
//    0    4   root node block
//    8    1   key format: 0x10 always, 0x08 descending, 0x40 unique
//    9    1   key type: C, N, F or D
//   12    2   key length (1..100; N and F 12, D 8)
//   14    2   keys per node: 1012 / entry length
//   16    2   1 for date keys, else 0
//   18    2   entry length: 4 + key length rounded up to 4
//   23    1   unique: 1 when only the first record of a key is kept
//   24  221   key expression, NUL-terminated
//  245    1   1 when there is a FOR expression
//  246    1   has-keys: 1 when the tag holds at least one key
//  762  221   FOR expression, NUL-terminated
//
// Node block (1024 bytes):
//    0    4   key count (only the low 16 bits count)
//    8        entries of entry length: 4-byte pointer, key bytes, zeros
//             (leaf: record number; interior: child block, whose subtree's
//             last key the entry carries)
//    8 + count * entry length   4   trailing pointer: 0 in a leaf, else
//             the rightmost child (which has no key in the parent)
//
// Single-threaded; the routines here take explicit buffers and files and
// read no process-wide state.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/support/coding.h"
#include "engine/support/platform.h"

namespace ov::mdx {

inline constexpr size_t kUnit = 512;
inline constexpr size_t kHeaderSize = 2048;
inline constexpr size_t kBlockSize = 1024;
inline constexpr size_t kAnchorSize = 983;
inline constexpr int kMaxTags = 47;
inline constexpr size_t kSlotBase = 512;
inline constexpr size_t kSlotSize = 32;
inline constexpr size_t kNameField = 11;
inline constexpr uint16_t kMaxKeyLength = 100;
inline constexpr size_t kMaxExprText = 220;
inline constexpr size_t kNodeEntries = 8;  // first entry of a node

// File header offsets.
inline constexpr size_t kHdrTagCount = 28;
inline constexpr size_t kHdrBlockCount = 32;

// Tag header offsets.
inline constexpr size_t kTagRoot = 0;
inline constexpr size_t kTagFormat = 8;
inline constexpr size_t kTagType = 9;
inline constexpr size_t kTagKeyLength = 12;
inline constexpr size_t kTagMaxKeys = 14;
inline constexpr size_t kTagDateFlag = 16;
inline constexpr size_t kTagEntryLength = 18;
inline constexpr size_t kTagUnique = 23;
inline constexpr size_t kTagKeyExpr = 24;
inline constexpr size_t kTagHasFor = 245;
inline constexpr size_t kTagHasKeys = 246;
inline constexpr size_t kTagForExpr = 762;
inline constexpr uint8_t kFormatBase = 0x10, kFormatDescending = 0x08, kFormatUnique = 0x40;

inline uint16_t EntryLength(uint16_t key_length) { return static_cast<uint16_t>(4 + ((key_length + 3) & ~3)); }
inline uint16_t MaxKeys(uint16_t key_length) { return static_cast<uint16_t>(1012 / EntryLength(key_length)); }
inline uint16_t KeyLengthOf(char type, uint16_t char_length) {
  return type == 'D' ? 8 : (type == 'N' || type == 'F') ? 12 : char_length;
}
inline bool IsKeyType(char type) { return type == 'C' || type == 'N' || type == 'F' || type == 'D'; }

// The block a new 1024-byte block takes: the next 1024-byte boundary at or
// after the end of the file, so a partial block a crash left behind is
// never overlapped.
inline uint32_t NextBlock(uint64_t file_size) {
  return static_cast<uint32_t>((file_size + kBlockSize - 1) / kBlockSize * 2);
}
inline uint64_t BlockOffset(uint32_t block) { return static_cast<uint64_t>(block) * kUnit; }

// One tag-table slot as the engine uses it.
struct TagSlot {
  uint32_t header_block = 0;
  std::string name;
  char key_type = 0;
};

// The 2048-byte file header and tag table.
class MdxHeader {
 public:
  std::array<uint8_t, kHeaderSize> bytes{};

  // A header for a new file of table `table_name` (without its extension).
  static MdxHeader New(const std::string& table_name, const LocalDate& today);

  int tag_count() const { return bytes[kHdrTagCount]; }
  uint32_t block_count() const { return GetLe32(&bytes[kHdrBlockCount]); }
  void set_block_count(uint32_t v) { PutLe32(&bytes[kHdrBlockCount], v); }
  TagSlot slot(int i) const;
  // The slot whose name equals `name` ignoring case; 0 when none.
  int FindTag(const std::string& name) const;
  // Drops tag i: the last slot moves into its place and the name tree is
  // rebuilt. The tag's blocks stay in the file, unreferenced.
  void RemoveTag(int i);
  // Enters a tag in the next free slot; false when all 47 are taken.
  [[nodiscard]] bool AddTag(const TagSlot& tag);
  // Rebuilds the name tree of slots 0..n from scratch.
  void RebuildNameTree();

 private:
  uint8_t* Slot(int i) { return &bytes[kSlotBase + kSlotSize * static_cast<size_t>(i)]; }
  const uint8_t* Slot(int i) const { return &bytes[kSlotBase + kSlotSize * static_cast<size_t>(i)]; }
};

// A tag's definition as its header block holds it.
struct TagHeader {
  uint32_t root = 0;
  char key_type = 'C';
  uint16_t key_length = 0;
  bool descending = false;
  bool unique = false;
  bool has_keys = false;
  std::string key_expr;
  std::string for_expr;

  uint16_t entry_length() const { return EntryLength(key_length); }
  uint16_t max_keys() const { return MaxKeys(key_length); }
};

using Block = std::array<uint8_t, kBlockSize>;

// The whole 1024-byte tag header block for `tag`.
Block EncodeTagHeader(const TagHeader& tag);
// Reads a tag header (anchor); false when the type or lengths are not
// possible for this format.
[[nodiscard]] bool DecodeTagHeader(const uint8_t* anchor, TagHeader& out);

// Nodes.
inline uint16_t NodeCount(const uint8_t* node) { return GetLe16(node); }
inline uint8_t* NodeEntry(uint8_t* node, size_t i, uint16_t entry_length) {
  return node + kNodeEntries + i * entry_length;
}
inline const uint8_t* NodeEntry(const uint8_t* node, size_t i, uint16_t entry_length) {
  return node + kNodeEntries + i * entry_length;
}
// Whether `count` entries and the trailing pointer fit a block.
inline bool NodeFits(size_t count, uint16_t entry_length) {
  return kNodeEntries + count * entry_length + 4 <= kBlockSize;
}
// The pointer after the last entry: 0 in a leaf, the rightmost child
// otherwise. REQUIRES: NodeFits(count).
inline uint32_t TrailingPointer(const uint8_t* node, uint16_t entry_length) {
  return GetLe32(NodeEntry(node, NodeCount(node), entry_length));
}
inline bool IsLeaf(const uint8_t* node, uint16_t entry_length) { return TrailingPointer(node, entry_length) == 0; }
// Room for one more entry.
inline bool HasRoom(const uint8_t* node, uint16_t max_keys, uint16_t entry_length) {
  const size_t c = NodeCount(node);
  return c<max_keys&& static_cast<int64_t>(1016 - c * entry_length)> 3;
}

// Whole blocks at a block number; a short read answers 100 (the caller
// decides whether that means a damaged file).
[[nodiscard]] uint16_t ReadAt(File& file, uint32_t block, uint8_t* buf, size_t n);
[[nodiscard]] uint16_t WriteAt(File& file, uint32_t block, const uint8_t* buf, size_t n);

}  // namespace ov::mdx
