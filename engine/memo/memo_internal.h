// Byte helpers and checked file access shared by the memo store's files.
#pragma once

#include <cstdint>
#include <string>

#include "engine/memo/memo.h"

namespace ov::memo_detail {

inline uint32_t GetLe32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t GetBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}

// Whole-or-nothing access; a failure reports 30 (read) or 29 (write) with
// the context and answers false.
bool ReadExact(MemoState& s, uint64_t offset, void* buf, size_t n, const std::string& context);
bool WriteExact(MemoState& s, uint64_t offset, const void* buf, size_t n, const std::string& context);
// File size in blocks, a partial last block counted (at least 1).
uint32_t BlocksInFile(MemoState& s);
bool IsDbase4Kind(MemoKind k);

}  // namespace ov::memo_detail
