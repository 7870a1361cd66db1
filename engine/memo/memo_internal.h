// Byte helpers and checked file access shared by the memo store's files.
#pragma once

#include <cstdint>
#include <string>

#include "engine/memo/memo.h"
#include "engine/support/coding.h"

namespace ov::memo_detail {

// Whole-or-nothing access; a failure reports 30 (read) or 29 (write) with
// the context and answers false.
bool ReadExact(MemoState& s, uint64_t offset, void* buf, size_t n, const std::string& context);
bool WriteExact(MemoState& s, uint64_t offset, const void* buf, size_t n, const std::string& context);
// File size in blocks, a partial last block counted (at least 1).
uint32_t BlocksInFile(MemoState& s);
bool IsDbase4Kind(MemoKind k);

}  // namespace ov::memo_detail
