// Copying one memo from one memo file into another, converting between the memo kinds on the way.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "engine/memo/memo.h"
#include "engine/memo/memo_internal.h"
#include "engine/memo/memo_ops.h"
#include "engine/support/ovcommon.h"
#include "engine/support/scope_guard.h"

namespace ov {

using namespace memo_detail;

namespace {

bool IsBlockHeader(const uint8_t* h) { return h[0] == 0xFF && h[1] == 0xFF && h[2] == 0x08 && h[3] == 0x00; }

// Where a source memo's bytes are; length -1: raw text up to 0x1A or 0.
struct SourceMemo {
  uint64_t start = 0;
  int64_t length = -1;
};

bool LocateSource(const MemoTransfer& t, SourceMemo& m) {
  MemoState& s = *t.source;
  const int64_t a = std::llabs(static_cast<int64_t>(t.source_block));
  const uint64_t at = static_cast<uint64_t>(a) * s.block_size;
  uint64_t size = 0;
  if (s.file->Size(size) != 0) size = 0;
  if (a == 0 || at >= size) {
    ReportError(err::kMemoAddress, t.source_context);
    return false;
  }
  uint8_t h[8] = {};
  size_t got = 0;
  if (s.file->ReadAt(at, h, 8, got) != 0) got = 0;
  if (got == 8 && s.kind == MemoKind::kFox) {
    m = SourceMemo{at + 8, int64_t{GetBe32(h + 4)}};
    return true;
  }
  if (got == 8 && IsBlockHeader(h)) {
    m = SourceMemo{at + 8, std::max<int64_t>(int64_t{GetLe32(h + 4)} - 8, 0)};
    return true;
  }
  if (s.kind == MemoKind::kDbase3 && t.source_block > 0) {
    m = SourceMemo{at, -1};
    return true;
  }
  ReportError(got == 8 ? 1003 : 30, t.source_context);
  return false;
}

// Reads the next piece; `end` is set when the memo ends with it. -1 on a
// short read (reported).
int64_t ReadPiece(const MemoTransfer& t, const SourceMemo& m, int64_t pos, std::vector<uint8_t>& buf, bool& end) {
  size_t want = buf.size();
  if (m.length >= 0) want = static_cast<size_t>(std::min<int64_t>(int64_t(want), m.length - pos));
  size_t got = 0;
  const uint16_t code = t.source->file->ReadAt(m.start + uint64_t(pos), buf.data(), want, got);
  if (code != 0 || (m.length >= 0 && got < want)) {
    ReportError(err::kReadFault, t.source_context);
    return -1;
  }
  end = m.length >= 0 ? int64_t(got) + pos >= m.length : got < want;
  if (m.length < 0) {
    // Other programs end a dBASE III memo with 0x1A; a zero byte ends it too.
    auto stop = std::find_if(buf.begin(), buf.begin() + int64_t(got), [](uint8_t c) { return c == 0 || c == 0x1A; });
    if (stop != buf.begin() + int64_t(got)) end = true;
    got = static_cast<size_t>(stop - buf.begin());
  }
  return int64_t(got);
}

// Whether a dBASE III destination must keep the memo's block header: other
// programs end a raw memo at its first 0x1A (or zero byte), so a memo that
// holds one, or bytes a transform may turn into one, is not stored raw.
// A raw source cannot hold either. False with `ok` cleared on a read fault.
bool KeepsHeaderInDbase3(const MemoTransfer& t, const SourceMemo& m, std::vector<uint8_t>& buf, bool& ok) {
  ok = true;
  if (m.length < 0) return false;
  if (t.dest->transform) return true;
  int64_t pos = 0;
  for (bool end = m.length == 0; !end;) {
    const int64_t n = ReadPiece(t, m, pos, buf, end);
    if (n < 0) return ok = false;
    if (t.source->transform) t.source->transform(buf.data(), size_t(n), pos, false);
    if (std::any_of(buf.begin(), buf.begin() + n, [](uint8_t c) { return c == 0 || c == 0x1A; })) return true;
    pos += n;
  }
  return false;
}

bool WriteDest(const MemoTransfer& t, uint64_t offset, const uint8_t* bytes, size_t n) {
  if (t.dest->file->WriteAt(offset, bytes, n) == 0) return true;
  ReportError(err::kMemoWrite, t.dest_context);
  return false;
}

bool FinishDest(const MemoTransfer& t, uint64_t length, bool headered) {
  uint8_t h[8] = {0xFF, 0xFF, 0x08, 0x00};
  if (!headered) {
    return WriteDest(t, t.dest_offset + length, reinterpret_cast<const uint8_t*>(kDbase3MemoEnd),
                     sizeof kDbase3MemoEnd);
  }
  if (t.dest->kind == MemoKind::kFox) {
    PutBe32(h, 1);
    PutBe32(h + 4, static_cast<uint32_t>(length));
  } else {
    PutLe32(h + 4, static_cast<uint32_t>(length + 8));
  }
  return WriteDest(t, t.dest_offset, h, 8);
}

// Blocks of the file, a partial last block counted.
uint32_t EndBlock(MemoState& s) { return BlocksInFile(s); }

// Points a dBASE IV / level 7 free chain that ended at `old_end` at
// `new_end`, so no writer hands out the blocks just appended.
void ExtendChainEnd(MemoState& s, uint32_t old_end, uint32_t new_end, const std::string& context) {
  uint32_t at = 0;
  uint8_t b[4];
  for (;;) {  // the chain ascends, so this ends
    if (!ReadExact(s, uint64_t{at} * s.block_size, b, 4, context)) return;
    const uint32_t next = GetLe32(b);
    if (next == old_end) {
      PutLe32(b, new_end);
      (void)WriteExact(s, uint64_t{at} * s.block_size, b, 4, context);
      return;
    }
    if (next <= at || next > old_end) return;
    at = next;
  }
}

}  // namespace

namespace memo_detail {

bool TransferMemo(const MemoTransfer& t, bool& headered) {
  SourceMemo m;
  if (!LocateSource(t, m)) return false;
  std::vector<uint8_t> buf(std::max<size_t>({t.source->block_size, t.dest->block_size, 512}), 0);
  bool ok = true;
  headered = t.dest->kind != MemoKind::kDbase3 || KeepsHeaderInDbase3(t, m, buf, ok);
  if (!ok) return false;
  if (headered && !WriteDest(t, t.dest_offset, buf.data(), 8)) return false;
  const uint64_t data = t.dest_offset + (headered ? 8 : 0);
  int64_t pos = 0;
  for (bool end = m.length == 0; !end;) {
    const int64_t n = ReadPiece(t, m, pos, buf, end);
    if (n < 0) return false;
    if (t.source->transform) t.source->transform(buf.data(), size_t(n), pos, false);
    if (t.dest->transform) t.dest->transform(buf.data(), size_t(n), pos, true);
    if (n > 0 && !WriteDest(t, data + uint64_t(pos), buf.data(), size_t(n))) return false;
    pos += n;
  }
  return FinishDest(t, uint64_t(pos), headered);
}

int32_t DestBlock(const MemoTransfer& t, bool headered) {
  const auto block = static_cast<int32_t>(t.dest_offset / t.dest->block_size);
  return headered && t.dest->kind == MemoKind::kDbase3 ? -block : block;
}

uint64_t MemoAppendOffset(MemoState& s) {
  uint64_t size = 0;
  if (s.file->Size(size) != 0) return 0;
  if (s.kind == MemoKind::kDbase3 && size == 513) return 512;
  const uint64_t header = IsDbase4Kind(s.kind) ? s.block_size : (511 / s.block_size + 1) * uint64_t{s.block_size};
  const uint64_t end = (size + s.block_size - 1) / s.block_size * s.block_size;
  return std::max(end, header);
}

}  // namespace memo_detail

int32_t CopyMemoInto(MemoState& dest, MemoState& source, int32_t block, bool same_number, const std::string& dest_where,
                     const std::string& source_where) {
  const std::string ctx = MemoContext(dest, dest_where, "CopyMemo()");
  Errors().DbfError = 0;
  const uint64_t end = LockMemoPadAndSeekEOF(dest, ctx);
  if (end == 0) return 0;
  const uint32_t old_end = EndBlock(dest);
  MemoTransfer t{&source, &dest, block, end, MemoContext(source, source_where, "CopyMemo()"), ctx};
  if (same_number) t.dest_offset = uint64_t(std::llabs(int64_t{block})) * dest.block_size;
  bool headered = false;
  bool ok = false;
  {
    ScopeGuard unlock([&] { UpdateMemoHeader(dest, dest_where); });  // the lock goes back whatever happens
    ok = TransferMemo(t, headered);
    if (ok && IsDbase4Kind(dest.kind) && EndBlock(dest) > old_end) ExtendChainEnd(dest, old_end, EndBlock(dest), ctx);
  }
  FlushMemoFile(dest);
  if (!ok || Errors().DbfError != 0) return 0;
  return DestBlock(t, headered);
}

}  // namespace ov
