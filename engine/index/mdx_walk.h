// Reading an index file without opening it in a work area: its tags and
// each tag's leaf entries in index order. For listings and checks; the
// walk refuses damaged trees (a count beyond the block, a child pointer to
// the file header, outside the file or reached twice) instead of following
// them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/index/ovndxlow.h"

namespace ov {

struct TagSummary {
  mdx::TagSlot slot;
  mdx::TagHeader header;
  uint64_t keys = 0;
  int height = 0;     // nodes from the root to the deepest leaf
  std::string error;  // why the tag could not be walked ("" when it could)
};

// Calls `visit` with each leaf entry (key, record number) of the tag in
// index order. Answers "" or what is wrong with the tree.
std::string WalkTag(File& file, const mdx::TagHeader& tag,
                    const std::function<void(const uint8_t* key, uint32_t record)>& visit, int* height = nullptr);

// Reads every tag of an index file; false with `error` set when the file
// cannot be read or its header is damaged.
bool ReadIndexSummary(const std::string& path, std::vector<TagSummary>& tags, std::string& error);

}  // namespace ov
