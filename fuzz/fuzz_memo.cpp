// Fuzz target: arbitrary bytes as a memo file.
//
// The first input byte chooses the memo kind (dBASE III, dBASE IV, level 7,
// FoxPro; bit 2 also opens the file as shared, so writes take the lock);
// the next 16 bytes are the block numbers eight records would reference.
// The rest is the memo file, opened as a memo handle on a memory file:
// every memo is read, one is rewritten, one released, and every memo left
// is copied into a fresh file as a pack does; the integrity check runs on
// the file before and after and on the fresh file. The engine must answer
// with error codes, never crash or hang.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/memo/memo.h"
#include "engine/memo/memo_check.h"
#include "engine/memo/memo_ops.h"
#include "engine/support/mem_env.h"
#include "engine/support/ovcommon.h"

namespace ov {
namespace {

constexpr int kRecords = 8;
constexpr MemoKind kKinds[] = {MemoKind::kDbase3, MemoKind::kDbase4, MemoKind::kLevel7, MemoKind::kFox};
const std::string kMemoName = "/ov-fuzz/memo.dbt";
const std::string kFreshName = "/ov-fuzz/memo.$$$";

// The capacity keeps memos at absurd offsets from eating the memory.
MemEnv& Memory() {
  static MemEnv env(DefaultEnv(), uint64_t{256} << 20);
  return env;
}

void Started() {
  static const bool started = [] {
    SetEnv(&Memory());
    StartEngine();
    SetImmediateErrors(false);
    return true;
  }();
  (void)started;
}

// Each step starts clean: a failure must not stop the ones after it.
void Clear() { Errors().DbfError = 0; }

void Exercise(MemoState& s, std::vector<int32_t>& blocks) {
  for (int n = 0; n < kRecords; ++n) {
    const std::string where = "Record # " + std::to_string(n + 1);
    (void)LoadMemoBytes(s, blocks[n], where, "ReadBlobStream");
    Clear();
    if (n == 1) blocks[n] = StoreMemoBytes(s, std::string(700, 'x'), blocks[n], where, "WriteBlobStream");
    if (n == 2) {
      ReleaseMemoLocked(s, blocks[n], where);
      blocks[n] = 0;
    }
    Clear();
  }
}

// Copies every referenced memo into a fresh file, as a pack does.
void PackInto(MemoState& s, const std::vector<int32_t>& blocks) {
  CreateMemofileOfKind(kFreshName, s.kind, s.block_size, "PackMemofile");
  MemoState fresh;
  if (Errors().DbfError != 0 ||
      OpenMemoHandle(kFreshName, s.kind, fmode::kReadWrite | fmode::kDenyAll, false, fresh) != 0) {
    return;
  }
  std::vector<int32_t> moved;
  for (int n = kRecords; n-- > 0;) {
    Clear();
    moved.push_back(blocks[n] == 0 ? 0 : memo_detail::CopyToFresh(s, fresh, blocks[n], n + 1));
  }
  Clear();
  (void)memo_detail::WriteNextFree(fresh, "PackMemo");
  (void)CheckMemoFile(*fresh.file, fresh.kind, moved);
  CloseMemoHandle(fresh);
}

}  // namespace
}  // namespace ov

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ov;
  if (size < 1 + 2 * kRecords) return 0;
  Started();
  Clear();
  const MemoKind kind = kKinds[data[0] % 4];
  const bool shared = (data[0] & 4) != 0;
  std::vector<int32_t> blocks;
  for (int i = 0; i < kRecords; ++i) blocks.push_back(data[1 + 2 * i] | (data[2 + 2 * i] << 8));
  const size_t skip = 1 + 2 * kRecords;
  MemoState s;
  const uint16_t mode = fmode::kReadWrite | (shared ? fmode::kDenyNone : fmode::kDenyAll);
  if (Memory().Put(kMemoName, data + skip, size - skip) == 0 && OpenMemoHandle(kMemoName, kind, mode, shared, s) == 0) {
    (void)CheckMemoFile(*s.file, kind, blocks);
    Exercise(s, blocks);
    PackInto(s, blocks);
    (void)CheckMemoFile(*s.file, kind, blocks);
  }
  CloseMemoHandle(s);
  Memory().Clear();
  return 0;
}
