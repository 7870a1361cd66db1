#include "engine/memo/memo.h"

#include <algorithm>
#include <vector>

#include "engine/memo/memo_internal.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"

namespace ov {

using namespace memo_detail;

namespace memo_detail {

bool ReadExact(MemoState& s, uint64_t offset, void* buf, size_t n, const std::string& context) {
  size_t got = 0;
  uint16_t code = s.file->ReadAt(offset, buf, n, got);
  if (code == 0 && got == n) return true;
  ReportError(err::kReadFault, context);
  return false;
}

bool WriteExact(MemoState& s, uint64_t offset, const void* buf, size_t n, const std::string& context) {
  if (s.file->WriteAt(offset, buf, n) == 0) return true;
  ReportError(err::kWriteFault, context);
  return false;
}

uint32_t BlocksInFile(MemoState& s) {
  uint64_t size = 0;
  if (s.file->Size(size) != 0) return 0;
  uint64_t blocks = (size + s.block_size - 1) / s.block_size;
  return blocks == 0 ? 1 : static_cast<uint32_t>(std::min<uint64_t>(blocks, 0x7FFFFFFF));
}

bool IsDbase4Kind(MemoKind k) { return k == MemoKind::kDbase4 || k == MemoKind::kLevel7; }

}  // namespace memo_detail

namespace {

uint16_t FallbackBlockSize() {
  uint16_t bs = Engine().table.MemoBlockSize;
  return bs == 0 ? 512 : bs;
}

// Block size from an open file's header; 0 when the kind cannot have it
// (memos would overwrite the header).
uint16_t HeaderBlockSize(File& f, MemoKind kind) {
  if (kind == MemoKind::kDbase3) return 512;
  uint8_t h[24] = {};
  size_t got = 0;
  const size_t want = kind == MemoKind::kFox ? 8 : 24;
  uint16_t bs = 0;
  if (f.ReadAt(0, h, want, got) == 0 && got == want) {
    bs = kind == MemoKind::kFox ? GetBe16(h + 6) : GetLe16(h + 20);
  }
  if (bs == 0) bs = FallbackBlockSize();
  return MemoBlockSizeFits(kind, bs) ? bs : 0;
}

// Takes the memo-file lock, waiting on the clock while another process
// holds it (kMemoLockWaitMs at most); the wait sleeps, leaving the processor
// to the holder.
bool TakeMemoLock(MemoState& s) {
  Env* env = CurrentEnv();
  const uint64_t start = env->TickCountMs();
  for (;;) {
    if (s.file->Lock(kMemoLockOffset, kMemoLockLength) == 0) return true;
    if (env->TickCountMs() - start >= kMemoLockWaitMs) return false;
    env->SleepMs(kMemoLockPauseMs);
  }
}

// The smallest end offset a memo may start at: past the header.
uint64_t MinimumEnd(const MemoState& s) {
  if (IsDbase4Kind(s.kind)) return s.block_size;
  return (511 / s.block_size + 1) * uint64_t{s.block_size};
}

void UnlockMemo(MemoState& s) {
  if (!s.locked) return;
  s.locked = false;
  (void)s.file->Unlock(kMemoLockOffset, kMemoLockLength);
}

}  // namespace

std::string MemoContext(const MemoState& s, const std::string& where, const std::string& routine) {
  std::string text = s.name;
  if (!where.empty()) text += " " + where;
  if (!routine.empty()) text += " [" + routine + "]";
  return text;
}

uint16_t OpenMemoHandle(const std::string& path, MemoKind kind, uint16_t mode, bool shared, MemoState& s) {
  s.kind = kind;
  s.name = path;
  s.shared = shared;
  s.known_size = 0;
  s.head_got = 0;
  uint16_t code = OpenResolved(path, mode, Disposition::kOpenExisting, s.file);
  if (code != 0) return code;
  s.block_size = HeaderBlockSize(*s.file, kind);
  return s.block_size == 0 ? 1003 : 0;
}

void CloseMemoHandle(MemoState& s) {
  s.desc = MemoDescriptor{};
  UnlockMemo(s);
  if (s.file) (void)s.file->Close();
}

uint16_t MemoFileBlockSize(const std::string& path, MemoKind kind) {
  if (kind == MemoKind::kDbase3) return 512;
  std::unique_ptr<File> f;
  uint8_t h[24] = {};
  size_t got = 0;
  const size_t want = kind == MemoKind::kFox ? 8 : 24;
  bool read = OpenResolved(path, fmode::kRead | fmode::kDenyNone, Disposition::kOpenExisting, f) == 0 &&
              f->ReadAt(0, h, want, got) == 0 && got == want;
  if (kind == MemoKind::kFox) return read ? GetBe16(h + 6) : 64;
  if (read && GetLe16(h + 18) == 258) return GetLe16(h + 20);
  return 512;
}

uint64_t LockMemoPadAndSeekEOF(MemoState& s, const std::string& context) {
  if (s.shared && !s.locked) {
    s.locked = TakeMemoLock(s);
    if (!s.locked) {
      ReportError(err::kMemoLock, context);
      return 0;
    }
  }
  uint64_t size = 0;
  uint16_t code = s.file->Size(size);
  if (code == 0 && s.kind == MemoKind::kDbase3 && size == 513) return 512;
  uint64_t end = size;
  if (code == 0 && end % s.block_size != 0) end += s.block_size - end % s.block_size;
  if (end < MinimumEnd(s)) end = MinimumEnd(s);
  if (code == 0 && end > size) {
    std::vector<uint8_t> zeros(end - size, 0);
    code = s.file->WriteAt(size, zeros.data(), zeros.size());
  }
  if (code == 0) return end;
  UnlockMemo(s);
  ReportError(code, context);
  return 0;
}

void UpdateMemoHeader(MemoState& s, const std::string& where) {
  uint64_t size = 0;
  // A dBASE IV file ends on a block boundary, as other programs write it:
  // some readers take the last block as whole and misread a short one. The
  // padding is a courtesy: the file is sound without it, so a failure to
  // write it is not an error.
  if (IsDbase4Kind(s.kind) && s.file->Size(size) == 0 && size % s.block_size != 0) {
    const std::vector<uint8_t> zeros(s.block_size - size % s.block_size, 0);
    (void)s.file->WriteAt(size, zeros.data(), zeros.size());
  }
  // dBASE IV keeps the head of its free chain at offset 0, maintained by
  // the allocator; the others record the end of the file there.
  if (!IsDbase4Kind(s.kind) && s.file->Size(size) == 0) {
    uint32_t next = static_cast<uint32_t>((size + s.block_size - 1) / s.block_size);
    uint8_t b[4];
    if (s.kind == MemoKind::kFox)
      PutBe32(b, next);
    else
      PutLe32(b, next);
    if (s.file->WriteAt(0, b, 4) != 0) ReportError(err::kWriteFault, MemoContext(s, where, ""));
  }
  if (!s.locked) return;
  s.locked = false;
  if (s.file->Unlock(kMemoLockOffset, kMemoLockLength) != 0) ReportError(err::kMemoUnlock, MemoContext(s, where, ""));
}

int32_t ReadBlockHeader(MemoState& s, int32_t block) {
  if (block <= 0) return 0;
  uint8_t h[8];
  size_t got = 0;
  if (s.file->ReadAt(uint64_t(block) * s.block_size, h, 8, got) != 0 || got != 8) return 0;
  uint64_t total = 0;
  if (s.kind == MemoKind::kFox)
    total = uint64_t{GetBe32(h + 4)} + 8;
  else if (h[0] == 0xFF && h[1] == 0xFF && h[2] == 0x08 && h[3] == 0x00)
    total = GetLe32(h + 4);
  else
    return 0;
  uint64_t blocks = (total + s.block_size - 1) / s.block_size;
  return blocks == 0 ? 1 : static_cast<int32_t>(std::min<uint64_t>(blocks, 0x7FFFFFFF));
}

void WriteBlockHeader(MemoState& s, int32_t block, uint32_t length, const std::string& where) {
  if (block <= 0) return;
  uint8_t h[8] = {0xFF, 0xFF, 0x08, 0x00};
  if (s.kind == MemoKind::kFox) {
    PutBe32(h, 1);
    PutBe32(h + 4, length);
  } else {
    PutLe32(h + 4, length + 8);
  }
  if (s.file->WriteAt(uint64_t(block) * s.block_size, h, 8) != 0)
    ReportError(err::kWriteFault, MemoContext(s, where, ""));
}

void FlushMemoFile(MemoState& s) {
  if (!s.file || !s.shared) return;
  // The memo is written but may not be on the disk: say so.
  if (const uint16_t code = s.file->Sync(); code != 0) {
    ReportError(code, "Unable to flush file " + s.name + " [FlushMemoFile]");
  }
}

}  // namespace ov
