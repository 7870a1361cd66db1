#include "engine/index/ovndxlow.h"

#include <algorithm>
#include <cstring>

#include "engine/support/ovutils.h"

namespace ov::mdx {

namespace {

// Bytes of a tag-table slot.
constexpr size_t kSlotName = 4, kSlotLeft = 16, kSlotRight = 17, kSlotParent = 18, kSlotTwo = 19, kSlotType = 20;

void PutText(uint8_t* at, const std::string& text, size_t max) {
  std::memcpy(at, text.data(), std::min(text.size(), max));
}

std::string GetText(const uint8_t* at, size_t max) {
  const auto* end = static_cast<const uint8_t*>(std::memchr(at, 0, max));
  return std::string(reinterpret_cast<const char*>(at), end != nullptr ? static_cast<size_t>(end - at) : max);
}

}  // namespace

MdxHeader MdxHeader::New(const std::string& table_name, const LocalDate& today) {
  MdxHeader h;
  uint8_t* b = h.bytes.data();
  b[0] = 2;
  const uint8_t date[3] = {static_cast<uint8_t>(today.year - 1900), static_cast<uint8_t>(today.month),
                           static_cast<uint8_t>(today.day)};
  std::memcpy(b + 1, date, 3);
  std::memcpy(b + 44, date, 3);
  PutText(b + 4, table_name, 15);
  PutLe16(b + 20, 2);
  PutLe16(b + 22, static_cast<uint16_t>(kBlockSize));
  b[24] = 1;
  b[25] = 48;
  PutLe16(b + 26, static_cast<uint16_t>(kSlotSize));
  return h;
}

TagSlot MdxHeader::slot(int i) const {
  const uint8_t* s = Slot(i);
  return TagSlot{GetLe32(s), GetText(s + kSlotName, kNameField), static_cast<char>(s[kSlotType])};
}

int MdxHeader::FindTag(const std::string& name) const {
  const std::string wanted = UpperText(name);
  for (int i = 1; i <= tag_count(); ++i) {
    if (UpperText(slot(i).name) == wanted) return i;
  }
  return 0;
}

void MdxHeader::RemoveTag(int i) {
  const int n = tag_count();
  if (i < 1 || i > n) return;
  if (i != n) std::memcpy(Slot(i), Slot(n), kSlotSize);
  std::memset(Slot(n), 0, kSlotSize);
  bytes[kHdrTagCount] = static_cast<uint8_t>(n - 1);
  RebuildNameTree();
}

bool MdxHeader::AddTag(const TagSlot& tag) {
  const int n = tag_count();
  if (n >= kMaxTags) return false;
  uint8_t* s = Slot(n + 1);
  std::memset(s, 0, kSlotSize);
  PutLe32(s, tag.header_block);
  PutText(s + kSlotName, UpperText(tag.name), kNameField - 1);
  s[kSlotTwo] = 2;
  s[kSlotType] = static_cast<uint8_t>(tag.key_type);
  bytes[kHdrTagCount] = static_cast<uint8_t>(n + 1);
  RebuildNameTree();
  return true;
}

// A plain binary search tree over the 11-byte name fields, slots inserted
// in slot order; other readers of the file use it, the engine scans slots.
void MdxHeader::RebuildNameTree() {
  const int n = tag_count();
  for (int i = 0; i <= n; ++i) {
    uint8_t* s = Slot(i);
    s[kSlotLeft] = s[kSlotRight] = s[kSlotParent] = 0;
  }
  if (n == 0) return;
  Slot(0)[kSlotRight] = 1;
  for (int i = 2; i <= n; ++i) {
    int at = 1;
    for (;;) {
      const bool lower = std::memcmp(Slot(i) + kSlotName, Slot(at) + kSlotName, kNameField) < 0;
      uint8_t& link = Slot(at)[lower ? kSlotLeft : kSlotRight];
      if (link == 0) {
        link = static_cast<uint8_t>(i);
        Slot(i)[kSlotParent] = static_cast<uint8_t>(at);
        break;
      }
      at = link;
    }
  }
}

Block EncodeTagHeader(const TagHeader& tag) {
  Block b{};
  PutLe32(&b[kTagRoot], tag.root);
  b[kTagFormat] =
      static_cast<uint8_t>(kFormatBase | (tag.descending ? kFormatDescending : 0) | (tag.unique ? kFormatUnique : 0));
  b[kTagType] = static_cast<uint8_t>(tag.key_type);
  PutLe16(&b[kTagKeyLength], tag.key_length);
  PutLe16(&b[kTagMaxKeys], tag.max_keys());
  PutLe16(&b[kTagDateFlag], tag.key_type == 'D' ? 1 : 0);
  PutLe16(&b[kTagEntryLength], tag.entry_length());
  b[kTagUnique] = tag.unique ? 1 : 0;
  PutText(&b[kTagKeyExpr], tag.key_expr, kMaxExprText);
  b[kTagHasFor] = tag.for_expr.empty() ? 0 : 1;
  b[kTagHasKeys] = tag.has_keys ? 1 : 0;
  PutText(&b[kTagForExpr], tag.for_expr, kMaxExprText);
  return b;
}

bool DecodeTagHeader(const uint8_t* a, TagHeader& out) {
  out.root = GetLe32(a + kTagRoot);
  out.key_type = static_cast<char>(a[kTagType]);
  out.key_length = GetLe16(a + kTagKeyLength);
  out.descending = (a[kTagFormat] & kFormatDescending) != 0;
  out.unique = (a[kTagFormat] & kFormatUnique) != 0 || a[kTagUnique] != 0;
  out.has_keys = a[kTagHasKeys] != 0;
  out.key_expr = GetText(a + kTagKeyExpr, kMaxExprText + 1);
  out.for_expr = a[kTagHasFor] != 0 ? GetText(a + kTagForExpr, kMaxExprText + 1) : std::string();
  if (!IsKeyType(out.key_type) || out.key_length < 1 || out.key_length > kMaxKeyLength) return false;
  if (out.key_length != KeyLengthOf(out.key_type, out.key_length)) return false;
  // The stored node geometry must be the one the key length gives: nodes are
  // read with it, so any other value would walk off the block.
  return GetLe16(a + kTagEntryLength) == out.entry_length() && GetLe16(a + kTagMaxKeys) == out.max_keys();
}

uint16_t ReadAt(File& file, uint32_t block, uint8_t* buf, size_t n) {
  size_t got = 0;
  const uint16_t code = file.ReadAt(BlockOffset(block), buf, n, got);
  if (code != 0) return code;
  return got == n ? 0 : 100;
}

uint16_t WriteAt(File& file, uint32_t block, const uint8_t* buf, size_t n) {
  return file.WriteAt(BlockOffset(block), buf, n);
}

}  // namespace ov::mdx
