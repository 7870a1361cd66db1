// The memo descriptor: one memo's bytes read or written in pieces.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/memo/memo.h"
#include "engine/memo/memo_internal.h"
#include "engine/support/ovcommon.h"

namespace ov {

using namespace memo_detail;

namespace {

uint64_t FileSize(MemoState& s) {
  uint64_t size = 0;
  return s.file->Size(size) == 0 ? size : 0;
}

// FoxPro block types: 0 picture, 1 text, 2 object.
constexpr uint32_t kFoxLastType = 2;

// Read with a memo's header: as much as most memos hold.
constexpr size_t kHeadBytes = 4096;

// Reads n bytes at `offset`, those the head holds from it. A head that
// ended short of its size ended at the end of the file.
uint16_t ReadThroughHead(MemoState& s, uint64_t offset, uint8_t* bytes, size_t n, size_t& got) {
  got = 0;
  const uint64_t head_end = s.head_at + s.head_got;
  if (s.head_got > 0 && offset >= s.head_at && offset < head_end) {
    got = static_cast<size_t>(std::min<uint64_t>(n, head_end - offset));
    std::memcpy(bytes, s.head.data() + (offset - s.head_at), got);
    if (got == n || s.head_got < s.head.size()) return 0;
  }
  size_t more = 0;
  const uint16_t code = s.file->ReadAt(offset + got, bytes + got, n - got, more);
  got += more;
  return code;
}

// Offset where memo data may begin: past the header.
uint64_t DataAreaStart(const MemoState& s) { return IsDbase4Kind(s.kind) ? s.block_size : 512; }

// Refuses what cannot be a memo rather than read another memo's bytes or
// a free-chain node as text: a block past the file or in its header, a
// negated number outside a dBASE III file (only this system writes those),
// a dBASE IV / level 7 block without its marker, a FoxPro block of no
// known type, a length of less than its own header or past the file.
// `size`: the file's size as last known.
bool OpenWithin(MemoState& s, int64_t a, bool negated, uint64_t size) {
  const uint64_t at = static_cast<uint64_t>(a) * s.block_size;
  const auto invalid = [] { return false; };
  MemoDescriptor& d = s.desc;
  d.length = -1;
  d.header_size = 0;
  if (a == 0 || at < DataAreaStart(s) || at + 1 >= size) return invalid();
  if (negated && s.kind != MemoKind::kDbase3) return invalid();
  s.head.resize(kHeadBytes);
  size_t got = 0;
  if (s.file->ReadAt(at, s.head.data(), s.head.size(), got) != 0) {
    got = 0;
  } else if (got == 0) {
    return invalid();  // past the end of a file that is shorter than `size`
  }
  s.head_at = at;
  s.head_got = got;
  const uint8_t* h = s.head.data();
  const bool marked = got >= 8 && h[0] == 0xFF && h[1] == 0xFF && h[2] == 0x08 && h[3] == 0x00;
  if (s.kind == MemoKind::kFox) {
    if (got < 8 || GetBe32(h) > kFoxLastType) return invalid();
    d.length = GetBe32(h + 4);
    d.header_size = 8;
  } else if (marked) {
    if (GetLe32(h + 4) < 8) return invalid();
    d.length = int64_t{GetLe32(h + 4)} - 8;
    d.header_size = 8;
  } else if (IsDbase4Kind(s.kind)) {
    return invalid();
  }
  d.data_start = at + d.header_size;
  if (d.length > static_cast<int64_t>(size - std::min(size, d.data_start))) return invalid();
  return true;
}

// The file only grows while it is open (a pack writes a new one): the size
// an earlier read learnt serves until a memo seems to reach past it, and
// only then is the file asked again.
bool OpenForRead(MemoState& s, int64_t a, bool negated, const std::string& ctx) {
  if (OpenWithin(s, a, negated, s.known_size)) return true;
  s.known_size = FileSize(s);
  if (OpenWithin(s, a, negated, s.known_size)) return true;
  ReportError(err::kMemoAddress, ctx);
  return false;
}

// Chooses the blocks a new memo goes to; 0 on failure (reported). Never
// the old memo's: it stays readable until the record points elsewhere.
int32_t PlaceForWrite(MemoState& s, int64_t expected, uint64_t end, const std::string& ctx) {
  if (!IsDbase4Kind(s.kind) || expected < 0) return static_cast<int32_t>(end / s.block_size);
  const int32_t needed = static_cast<int32_t>((expected + 8) / s.block_size + 1);
  const int32_t block = AllocateMemoBlocks(s, needed, ctx);
  if (block > 0) s.desc.capacity = static_cast<int64_t>(needed) * s.block_size - 8;
  return block;
}

bool OpenForWrite(MemoState& s, int64_t expected, const std::string& ctx) {
  if (expected > 0 && static_cast<uint64_t>(expected / 1024) >= CurrentEnv()->FreeSpaceKB(s.name)) {
    ReportError(err::kMemoDiskFull, ctx);
    return false;
  }
  const uint64_t end = LockMemoPadAndSeekEOF(s, ctx);
  if (end == 0) return false;
  MemoDescriptor& d = s.desc;
  const int32_t block = PlaceForWrite(s, expected, end, ctx);
  if (block <= 0 || Errors().DbfError != 0) {
    UpdateMemoHeader(s, d.where);
    return false;
  }
  d.block = block;
  d.header_size = 8;
  d.length = 0;
  d.data_start = uint64_t(block) * s.block_size + 8;
  return true;
}

void FailDescriptor(MemoState& s) {
  const bool writing = s.desc.mode == 2;
  const std::string where = std::move(s.desc.where);
  s.desc = MemoDescriptor{};
  if (writing) UpdateMemoHeader(s, where);
}

}  // namespace

int32_t OpenMemoDescriptor(MemoState& s, int32_t block, int mode, int64_t expected, const std::string& where,
                           const std::string& routine) {
  const std::string ctx = MemoContext(s, where, routine);
  const int64_t a = std::llabs(static_cast<int64_t>(block));
  Errors().DbfError = 0;
  s.desc = MemoDescriptor{};
  s.head_got = 0;  // only the read about to open may use it
  s.desc.mode = mode;
  s.desc.block = static_cast<int32_t>(std::min<int64_t>(a, 0x7FFFFFFF));
  s.desc.where = where;
  bool ok = mode == 1 ? OpenForRead(s, a, block < 0, ctx) : OpenForWrite(s, expected, ctx);
  if (!ok) {
    s.desc = MemoDescriptor{};
    return 0;
  }
  s.desc.open = true;
  const int32_t result = s.desc.block;
  return mode == 2 && s.kind == MemoKind::kDbase3 ? -result : result;
}

size_t ReadMemoBytes(MemoState& s, void* buf, size_t n) {
  if (!s.desc.open || s.desc.mode != 1) return 0;
  MemoDescriptor& d = s.desc;
  if (d.length >= 0) n = static_cast<size_t>(std::min<int64_t>(n, std::max<int64_t>(d.length - d.position, 0)));
  if (n == 0) return 0;
  auto* bytes = static_cast<uint8_t*>(buf);
  size_t got = 0;
  if (ReadThroughHead(s, d.data_start + d.position, bytes, n, got) != 0) {
    const std::string ctx = MemoContext(s, d.where, "ReadBlobStream");
    FailDescriptor(s);  // before the report, which may raise
    ReportError(err::kReadFault, ctx);
    return 0;
  }
  if (d.length >= 0 && got < n) {
    // The file ends inside the memo its header declares.
    const std::string ctx = MemoContext(s, d.where, "ReadBlobStream");
    FailDescriptor(s);
    ReportError(err::kMemoAddress, ctx);
    return 0;
  }
  if (d.length < 0) {
    const uint8_t* stop = std::find(bytes, bytes + got, uint8_t{0x1A});
    if (stop != bytes + got || got < n) d.length = d.position + (stop - bytes);
    got = static_cast<size_t>(stop - bytes);
  }
  if (s.transform) s.transform(bytes, got, d.position, false);
  d.position += static_cast<int64_t>(got);
  return got;
}

size_t WriteMemoBytes(MemoState& s, const void* buf, size_t n) {
  if (!s.desc.open || s.desc.mode != 2 || n == 0) return 0;
  MemoDescriptor& d = s.desc;
  const std::string ctx = MemoContext(s, d.where, "WriteBlobStream");
  // Writing past the allocated run would overwrite the next memo.
  if (d.capacity >= 0 && d.position + static_cast<int64_t>(n) > d.capacity) {
    FailDescriptor(s);
    ReportError(err::kMemoWrite, ctx);
    return 0;
  }
  std::vector<uint8_t> bytes(static_cast<const uint8_t*>(buf), static_cast<const uint8_t*>(buf) + n);
  if (s.transform) s.transform(bytes.data(), n, d.position, true);
  uint16_t code = s.file->WriteAt(d.data_start + d.position, bytes.data(), n);
  if (code != 0) {
    FailDescriptor(s);
    ReportError(code, ctx);
    return 0;
  }
  d.position += static_cast<int64_t>(n);
  d.written = std::max(d.written, d.position);
  d.length = d.written;
  return n;
}

int64_t SeekMemo(MemoState& s, int64_t offset, int origin) {
  if (!s.desc.open || s.desc.block == 0) return 0;
  MemoDescriptor& d = s.desc;
  int64_t target = d.position;
  if (origin == 0) target = offset;
  if (origin == 1) target = d.position + offset;
  if (origin == 2 && d.length < 0 && d.mode == 1) {
    const MemoDescriptor saved = d;
    d.position = 0;
    std::vector<uint8_t> chunk(512);
    while (ReadMemoBytes(s, chunk.data(), chunk.size()) > 0) {
    }
    const int64_t end = s.desc.open ? s.desc.position : 0;
    s.desc = saved;
    target = end + offset;
  } else if (origin == 2) {
    target = std::max<int64_t>(d.length, 0) + offset;
  }
  if (!s.desc.open) return 0;
  s.desc.position = std::max<int64_t>(target, 0);
  return s.desc.position;
}

void CloseMemoDescriptor(MemoState& s) {
  if (!s.desc.open) return;
  if (s.desc.mode == 2) {
    // The header is written even for an empty memo: the block must not be
    // read back as whatever bytes it held before.
    WriteBlockHeader(s, s.desc.block, static_cast<uint32_t>(s.desc.written), s.desc.where);
    UpdateMemoHeader(s, s.desc.where);
    FlushMemoFile(s);
  }
  s.desc = MemoDescriptor{};
}

}  // namespace ov
