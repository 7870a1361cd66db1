#include "engine/index/mdx_walk.h"

#include <algorithm>
#include <set>

namespace ov {

namespace {

// 47 tags of 4-byte keys over 2^32 records stay far below this.
constexpr int kMaxDepth = 40;

class Walker {
 public:
  Walker(File& file, uint64_t size, const mdx::TagHeader& tag,
         const std::function<void(const uint8_t*, uint32_t)>& visit)
      : file_(file), size_(size), tag_(tag), visit_(visit) {}

  std::string Walk(uint32_t block, int depth) {
    if (depth > kMaxDepth) return "tree deeper than any index can grow";
    if (block < mdx::kHeaderSize / mdx::kUnit || mdx::BlockOffset(block) + mdx::kBlockSize > size_) {
      return "node " + std::to_string(block) + " lies outside the file";
    }
    if (!seen_.insert(block).second) return "node " + std::to_string(block) + " is reached twice";
    mdx::Block node;
    if (mdx::ReadAt(file_, block, node.data(), node.size()) != 0)
      return "node " + std::to_string(block) + " unreadable";
    const uint16_t e = tag_.entry_length();
    const uint16_t count = mdx::NodeCount(node.data());
    if (!mdx::NodeFits(count, e)) return "node " + std::to_string(block) + " count beyond the block";
    height_ = std::max(height_, depth);
    if (mdx::IsLeaf(node.data(), e)) {
      for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* entry = mdx::NodeEntry(node.data(), i, e);
        visit_(entry + 4, GetLe32(entry));
      }
      return "";
    }
    for (uint16_t i = 0; i <= count; ++i) {
      const std::string why = Walk(GetLe32(mdx::NodeEntry(node.data(), i, e)), depth + 1);
      if (!why.empty()) return why;
    }
    return "";
  }
  int height() const { return height_; }

 private:
  File& file_;
  uint64_t size_;
  const mdx::TagHeader& tag_;
  const std::function<void(const uint8_t*, uint32_t)>& visit_;
  std::set<uint32_t> seen_;
  int height_ = 0;
};

}  // namespace

std::string WalkTag(File& file, const mdx::TagHeader& tag, const std::function<void(const uint8_t*, uint32_t)>& visit,
                    int* height) {
  uint64_t size = 0;
  if (file.Size(size) != 0) return "size unknown";
  Walker w(file, size, tag, visit);
  std::string why = w.Walk(tag.root, 1);
  if (height != nullptr) *height = w.height();
  return why;
}

bool ReadIndexSummary(const std::string& path, std::vector<TagSummary>& tags, std::string& error) {
  std::unique_ptr<File> file;
  if (OpenResolved(path, fmode::kRead | fmode::kDenyNone, Disposition::kOpenExisting, file) != 0) {
    error = "cannot open " + path;
    return false;
  }
  mdx::MdxHeader h;
  if (mdx::ReadAt(*file, 0, h.bytes.data(), mdx::kHeaderSize) != 0 || h.tag_count() > mdx::kMaxTags) {
    error = "header cut short or damaged";
    return false;
  }
  tags.clear();
  for (int i = 1; i <= h.tag_count(); ++i) {
    TagSummary s;
    s.slot = h.slot(i);
    uint8_t anchor[mdx::kAnchorSize];
    if (mdx::ReadAt(*file, s.slot.header_block, anchor, sizeof anchor) != 0 ||
        !mdx::DecodeTagHeader(anchor, s.header)) {
      s.error = "tag header unreadable or invalid";
    } else {
      s.error = WalkTag(
          *file, s.header, [&](const uint8_t*, uint32_t) { ++s.keys; }, &s.height);
    }
    tags.push_back(std::move(s));
  }
  return true;
}

}  // namespace ov
