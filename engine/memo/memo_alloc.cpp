// Block allocation and release for dBASE IV / level 7 memo files.
//
// A "next" that does not ascend, points past the file, or shows a memo's
// FF FF signature ends the chain, so a damaged chain costs space but never
// hands out a block in use.
#include <algorithm>

#include "engine/memo/memo.h"
#include "engine/memo/memo_internal.h"
#include "engine/support/ovcommon.h"

namespace ov {

using namespace memo_detail;

namespace {

struct Node {
  uint32_t next = 0;
  uint32_t size = 0;
};

bool ReadNode(MemoState& s, uint32_t block, Node& node, const std::string& ctx) {
  uint8_t b[8];
  if (!ReadExact(s, uint64_t{block} * s.block_size, b, 8, ctx)) return false;
  node.next = GetLe32(b);
  node.size = block == 0 ? 0 : GetLe32(b + 4);
  return true;
}

bool WriteNext(MemoState& s, uint32_t block, uint32_t next, const std::string& ctx) {
  uint8_t b[4];
  PutLe32(b, next);
  return WriteExact(s, uint64_t{block} * s.block_size, b, 4, ctx);
}

bool WriteNode(MemoState& s, uint32_t block, Node node, const std::string& ctx) {
  uint8_t b[8];
  PutLe32(b, node.next);
  PutLe32(b + 4, node.size);
  return WriteExact(s, uint64_t{block} * s.block_size, b, 8, ctx);
}

bool EndsChain(uint32_t cur, uint32_t prev, uint32_t blocks) {
  return cur <= prev || cur >= blocks || (cur & 0xFFFF) == 0xFFFF;
}

// A run that overlaps the next one or the end of the file is not trusted.
// A node whose "next" shows FF FF is a memo's block header: in use.
bool SaneRun(uint32_t at, const Node& n, uint32_t blocks) {
  uint64_t end = uint64_t{at} + n.size;
  return n.size > 0 && end <= blocks && (n.next & 0xFFFF) != 0xFFFF && (n.next >= blocks || end <= n.next);
}

// Takes the run at `cur` (size >= needed), linking its tail in its place.
// The run leaves the chain before anything is written into it: a crash
// in between leaks it, never hands it out twice.
int32_t TakeRun(MemoState& s, uint32_t prev, uint32_t cur, const Node& node, int32_t needed, const std::string& ctx) {
  const uint32_t n = static_cast<uint32_t>(needed);
  if (node.size > n) {
    if (!WriteNode(s, cur + n, Node{node.next, node.size - n}, ctx)) return 0;
    if (!WriteNext(s, prev, cur + n, ctx)) return 0;
  } else if (!WriteNext(s, prev, node.next, ctx)) {
    return 0;
  }
  return static_cast<int32_t>(cur);
}

}  // namespace

// The chain ascends inside the file, so the walk ends after at most one
// node per block; there is no node limit, which would strand the space
// beyond it.
int32_t AllocateMemoBlocks(MemoState& s, int32_t needed, const std::string& ctx) {
  if (!IsDbase4Kind(s.kind) || needed <= 0) return 0;
  const uint32_t blocks = BlocksInFile(s);
  uint32_t prev = 0;
  Node node;
  if (!ReadNode(s, 0, node, ctx)) return 0;
  while (!EndsChain(node.next, prev, blocks)) {
    const uint32_t cur = node.next;
    Node run;
    if (!ReadNode(s, cur, run, ctx)) return 0;
    if (!SaneRun(cur, run, blocks)) break;
    if (run.size >= static_cast<uint32_t>(needed)) return TakeRun(s, prev, cur, run, needed, ctx);
    prev = cur;
    node = run;
  }
  // At the end of the file; the chain's last "next" moves past the run.
  if (!WriteNext(s, prev, blocks + static_cast<uint32_t>(needed), ctx)) return 0;
  return static_cast<int32_t>(blocks);
}

// Releases are merged with a free neighbour on either side, so a file
// rewritten in a steady state keeps reusing its space instead of growing.
void ReleaseMemoRun(MemoState& s, int32_t first, int32_t count, const std::string& ctx) {
  const uint32_t blocks = BlocksInFile(s);
  if (!IsDbase4Kind(s.kind) || first <= 0 || count <= 0) return;
  const uint32_t a = static_cast<uint32_t>(first);
  if (a >= blocks) return;
  uint32_t k = std::min<uint32_t>(static_cast<uint32_t>(count), blocks - a);
  uint32_t prev = 0;
  Node prev_node;
  if (!ReadNode(s, 0, prev_node, ctx)) return;
  while (!EndsChain(prev_node.next, prev, blocks) && prev_node.next < a) {
    const uint32_t cur = prev_node.next;
    Node run;
    if (!ReadNode(s, cur, run, ctx)) return;
    if (!SaneRun(cur, run, blocks)) {
      prev_node.next = blocks;  // the damaged rest of the chain is dropped
      break;
    }
    prev = cur;
    prev_node = run;
  }
  const uint32_t next = EndsChain(prev_node.next, prev, blocks) ? blocks : prev_node.next;
  // Releasing space already free would link one run into itself.
  if (next == a || (prev != 0 && uint64_t{prev} + prev_node.size > a)) return;
  if (next < blocks) k = std::min(k, next - a);
  Node merged{next, k};
  if (next < blocks && a + k == next) {
    Node after;
    if (!ReadNode(s, next, after, ctx)) return;
    if (SaneRun(next, after, blocks)) merged = Node{after.next, k + after.size};
  }
  if (prev != 0 && prev + prev_node.size == a) {
    (void)WriteNode(s, prev, Node{merged.next, prev_node.size + merged.size}, ctx);
    return;
  }
  // Written before it is linked: a crash in between leaks the run.
  if (!WriteNode(s, a, merged, ctx)) return;
  (void)WriteNext(s, prev, a, ctx);
}

void ReleaseMemo(MemoState& s, int32_t block, const std::string& ctx) {
  if (!IsDbase4Kind(s.kind) || block <= 0) return;
  const int32_t blocks = ReadBlockHeader(s, block);
  if (blocks <= 0) return;
  ReleaseMemoRun(s, block, blocks, ctx);
  CountReleasedBlocks(s, blocks, ctx);
}
void CountReleasedBlocks(MemoState& s, int32_t blocks, const std::string& ctx) {
  // The counter lives in block 0; a smaller block would put it in a memo.
  if (!IsDbase4Kind(s.kind) || s.block_size < 36 || blocks <= 0) return;
  uint8_t b[4];
  if (!ReadExact(s, 32, b, 4, ctx)) return;
  PutLe32(b, GetLe32(b) + static_cast<uint32_t>(blocks));
  (void)WriteExact(s, 32, b, 4, ctx);
}

}  // namespace ov
