#include "engine/memo/memo_check.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/memo/memo_create.h"
#include "engine/support/coding.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

constexpr uint8_t kBlockSignature[4] = {0xFF, 0xFF, 0x08, 0x00};
constexpr size_t kScanBytes = 4096;

struct MemoFile {
  std::unique_ptr<File> owned;  // empty for a borrowed file
  File* file = nullptr;
  MemoKind kind = MemoKind::kDbase4;
  uint16_t block_size = 512;
  uint64_t size = 0;
};

// Blocks a memo or a free run holds; `record` 0 marks a free run.
struct Span {
  uint64_t first = 0;
  uint64_t count = 0;
  int64_t record = 0;
  std::string field;
};

bool IsDbase4Kind(MemoKind k) { return k == MemoKind::kDbase4 || k == MemoKind::kLevel7; }

bool ReadWhole(File& f, uint64_t offset, void* buf, size_t n) {
  size_t got = 0;
  return f.ReadAt(offset, buf, n, got) == 0 && got == n;
}

// Bytes before the first block a memo may use.
uint64_t HeaderBytes(const MemoFile& m) { return IsDbase4Kind(m.kind) ? m.block_size : 512; }

// The block size the engine would open the file with; 0 when it would not.
uint16_t BlockSizeOf(File& f, MemoKind kind) {
  if (kind == MemoKind::kDbase3) return 512;
  uint8_t h[24] = {};
  const bool fox = kind == MemoKind::kFox;
  uint16_t bs = 0;
  if (ReadWhole(f, 0, h, fox ? 8 : 24)) bs = fox ? GetBe16(h + 6) : GetLe16(h + 20);
  if (bs == 0) bs = Engine().table.MemoBlockSize == 0 ? 512 : Engine().table.MemoBlockSize;
  return MemoBlockSizeFits(kind, bs) ? bs : 0;
}

bool OpenMemo(const DbfFile& dbf, MemoFile& m, std::vector<CheckFinding>& out) {
  const std::string name = ForceExt(dbf.path, MemoExtension(dbf.version()));
  m.kind = MemoKindOf(dbf.version());
  if (OpenResolved(name, fmode::kRead | fmode::kDenyNone, Disposition::kOpenExisting, m.owned) != 0 ||
      m.owned->Size(m.size) != 0) {
    AddFinding(out, FindingKind::kUnreadable, 0, "memo file " + name + " cannot be opened");
    return false;
  }
  m.file = m.owned.get();
  m.block_size = BlockSizeOf(*m.file, m.kind);
  if (m.block_size != 0) return true;
  AddFinding(out, FindingKind::kUnreadable, 0, "memo file " + name + " has no usable block size");
  return false;
}

// Offset of the first 0x1A at or after `from`; false when the file has none.
bool FindEndOfText(File& f, uint64_t from, uint64_t size, uint64_t& at) {
  uint8_t buf[kScanBytes];
  for (uint64_t pos = from; pos < size; pos += kScanBytes) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kScanBytes, size - pos));
    if (!ReadWhole(f, pos, buf, n)) return false;
    const uint8_t* hit = std::find(buf, buf + n, uint8_t{0x1A});
    if (hit != buf + n) {
      at = pos + static_cast<uint64_t>(hit - buf);
      return true;
    }
  }
  return false;
}

// Bytes the memo at `at` takes, block header included; 0 after adding a
// finding when it is not well-formed.
uint64_t MemoBytes(MemoFile& m, uint64_t at, bool negated, const Span& who, std::vector<CheckFinding>& out) {
  const std::string whose = "memo of record " + std::to_string(who.record) + " (" + who.field + ")";
  const auto block = static_cast<int64_t>(who.first);
  const bool needs_header = m.kind != MemoKind::kDbase3 || negated;
  uint8_t h[8] = {};
  const bool whole_header = m.size - at >= 8 && ReadWhole(*m.file, at, h, 8);
  if (!whole_header && needs_header) {
    AddFinding(out, FindingKind::kMemoOutside, block, whose + " runs past the end of the file");
    return 0;
  }
  const bool signed_block = std::equal(kBlockSignature, kBlockSignature + 4, h);
  uint64_t bytes = 0;
  if (m.kind == MemoKind::kFox) {
    if (GetBe32(h) > 2) {
      AddFinding(out, FindingKind::kMemoMalformed, block, whose + " has type " + std::to_string(GetBe32(h)));
      return 0;
    }
    bytes = uint64_t{GetBe32(h + 4)} + 8;
  } else if (signed_block) {
    bytes = GetLe32(h + 4);
    if (bytes < 8) {
      AddFinding(out, FindingKind::kMemoMalformed, block, whose + " has length " + std::to_string(bytes));
      return 0;
    }
  } else if (needs_header) {
    AddFinding(out, FindingKind::kMemoMalformed, block, whose + " has no block header");
    return 0;
  } else {
    uint64_t end = 0;
    if (!FindEndOfText(*m.file, at, m.size, end)) {
      AddFinding(out, FindingKind::kMemoMalformed, block, whose + " has no 0x1A at its end");
      return 0;
    }
    return end - at + 1;
  }
  if (bytes <= m.size - at) return bytes;
  AddFinding(out, FindingKind::kMemoOutside, block, whose + " runs past the end of the file");
  return 0;
}

// The span of the memo `ref` (as a record holds it; 0 none), or none (count 0).
Span MemoSpan(MemoFile& m, int64_t record, const std::string& field, int64_t ref, std::vector<CheckFinding>& out) {
  Span s{static_cast<uint64_t>(std::llabs(ref)), 0, record, field};
  if (ref == 0) return s;
  const uint64_t at = s.first * m.block_size;
  if (at < HeaderBytes(m) || at >= m.size) {
    AddFinding(out, FindingKind::kMemoOutside, ref,
               "memo of record " + std::to_string(record) + " (" + field + ") is " +
                   (at < HeaderBytes(m) ? "inside the header" : "past the end of the file"));
    return s;
  }
  const uint64_t bytes = MemoBytes(m, at, ref < 0, s, out);
  s.count = (bytes + m.block_size - 1) / m.block_size;
  return s;
}

// The span of the memo a field references, or none (count 0).
Span FieldSpan(MemoFile& m, int64_t record, const FieldEntry& f, const char* rec, std::vector<CheckFinding>& out) {
  std::string text(rec + f.offset, f.length);
  char* end = nullptr;
  const long long ref = std::strtoll(text.c_str(), &end, 10);
  if (!TrimText(end).empty()) return Span{};  // not a number: the table check's
  return MemoSpan(m, record, f.name, ref, out);
}

std::vector<Span> ReferencedMemos(CheckedTable& t, MemoFile& m, std::vector<CheckFinding>& out) {
  std::vector<Span> spans;
  ForEachRecord(
      t,
      [&](int64_t n, const char* rec) {
        for (const FieldEntry& f : t.dbf.fields) {
          if (f.type != 'M' || f.length < 10) continue;
          Span s = FieldSpan(m, n, f, rec, out);
          if (s.count > 0) spans.push_back(std::move(s));
        }
        return out.size() < kMaxFindings;
      },
      out);
  return spans;
}

std::string Owner(const Span& s) {
  if (s.record == 0) return "free run at block " + std::to_string(s.first);
  return "memo of record " + std::to_string(s.record) + " (" + s.field + ")";
}

// Reports spans that share blocks; answers how many blocks of [lo, hi)
// the spans hold together.
// Sorts the spans and reports overlaps; answers the blocks in [lo, hi) they
// cover and, when `gaps` is given, lists the runs in [lo, hi) none covers.
uint64_t CheckOverlaps(std::vector<Span>& spans, uint64_t lo, uint64_t hi, std::vector<CheckFinding>& out,
                       std::vector<FreeRun>* gaps) {
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.first != b.first ? a.first < b.first : a.record < b.record; });
  uint64_t reach = 0, covered = 0;
  const Span* widest = nullptr;
  for (const Span& s : spans) {
    const uint64_t end = s.first + s.count;
    if (widest != nullptr && s.first < reach) {
      const bool memos = widest->record != 0 && s.record != 0;
      AddFinding(out, memos ? FindingKind::kMemoShared : FindingKind::kFreeChain, static_cast<int64_t>(s.first),
                 Owner(s) + " overlaps the " + Owner(*widest));
    }
    const uint64_t cursor = std::max(reach, lo);
    if (gaps != nullptr && s.first > cursor && cursor < hi) {
      gaps->push_back({static_cast<uint32_t>(cursor), static_cast<uint32_t>(std::min(s.first, hi) - cursor)});
    }
    const uint64_t from = std::max({s.first, reach, lo});
    if (std::min(end, hi) > from) covered += std::min(end, hi) - from;
    if (end > reach) {
      reach = end;
      widest = &s;
    }
  }
  const uint64_t cursor = std::max(reach, lo);
  if (gaps != nullptr && cursor < hi)
    gaps->push_back({static_cast<uint32_t>(cursor), static_cast<uint32_t>(hi - cursor)});
  return covered;
}

}  // namespace

std::vector<FreeRun> WalkFreeChain(File& file, uint16_t block_size, std::vector<CheckFinding>& out) {
  std::vector<FreeRun> runs;
  uint64_t size = 0;
  uint8_t node[8];
  if (block_size == 0 || file.Size(size) != 0 || !ReadWhole(file, 0, node, 4)) {
    AddFinding(out, FindingKind::kUnreadable, 0, "the free chain cannot be read");
    return runs;
  }
  const uint64_t blocks = (size + block_size - 1) / block_size;
  uint64_t prev_end = 1;  // block 0 is the header
  // Each step ascends below `blocks`, so the walk ends.
  for (uint32_t next = GetLe32(node); next < blocks; next = GetLe32(node)) {
    if (runs.empty() && next == 0) break;  // an empty chain, as some writers leave it
    const std::string from = runs.empty() ? "the header" : "the run at block " + std::to_string(runs.back().first);
    if (next < prev_end) {
      AddFinding(out, FindingKind::kFreeChain, next,
                 "the chain steps from " + from + " back to block " + std::to_string(next));
      break;
    }
    const bool whole = ReadWhole(file, uint64_t{next} * block_size, node, 8);
    const uint32_t count = whole ? GetLe32(node + 4) : 0;
    if (count == 0 || next + uint64_t{count} > blocks) {
      AddFinding(out, FindingKind::kFreeChain, next,
                 "free run of " + std::to_string(count) + " blocks does not fit the file");
      break;
    }
    runs.push_back({next, count});
    prev_end = uint64_t{next} + count;
  }
  return runs;
}

namespace {

// The free chain and the overlaps of `spans` (the live memos) in `m`.
void CheckSpans(MemoFile& m, std::vector<Span> spans, uint32_t* unreachable, std::vector<CheckFinding>& out,
                std::vector<FreeRun>* gaps = nullptr) {
  if (IsDbase4Kind(m.kind)) {
    for (const FreeRun& r : WalkFreeChain(*m.file, m.block_size, out)) spans.push_back({r.first, r.count, 0, ""});
  }
  const uint64_t lo = (HeaderBytes(m) + m.block_size - 1) / m.block_size;
  const uint64_t hi = m.size / m.block_size;
  const uint64_t covered = CheckOverlaps(spans, lo, hi, out, gaps);
  if (unreachable != nullptr && hi > lo) {
    *unreachable = static_cast<uint32_t>(std::min<uint64_t>(hi - lo - covered, UINT32_MAX));
  }
}

}  // namespace

std::vector<CheckFinding> CheckMemo(const std::string& table_path, uint32_t* unreachable, std::vector<FreeRun>* gaps) {
  if (unreachable != nullptr) *unreachable = 0;
  std::vector<CheckFinding> out;
  CheckedTable t;
  if (!OpenCheckedTable(table_path, t, out)) return out;
  const auto& fields = t.dbf.fields;
  const bool memo_fields = std::any_of(fields.begin(), fields.end(), [](const FieldEntry& f) { return f.type == 'M'; });
  if (!t.dbf.has_memo || !memo_fields) return out;
  MemoFile m;
  if (!OpenMemo(t.dbf, m, out)) return out;
  CheckSpans(m, ReferencedMemos(t, m, out), unreachable, out, gaps);
  return out;
}

std::vector<CheckFinding> CheckMemoFile(File& file, MemoKind kind, const std::vector<int32_t>& references,
                                        uint32_t* unreachable, std::vector<FreeRun>* gaps) {
  if (unreachable != nullptr) *unreachable = 0;
  std::vector<CheckFinding> out;
  MemoFile m;
  m.kind = kind;
  m.block_size = BlockSizeOf(file, kind);
  if (m.block_size == 0 || file.Size(m.size) != 0) {
    AddFinding(out, FindingKind::kUnreadable, 0, "the memo file cannot be read");
    return out;
  }
  m.file = &file;
  std::vector<Span> spans;
  for (size_t i = 0; i < references.size() && out.size() < kMaxFindings; ++i) {
    Span s = MemoSpan(m, static_cast<int64_t>(i + 1), "memo", references[i], out);
    if (s.count > 0) spans.push_back(std::move(s));
  }
  CheckSpans(m, std::move(spans), unreachable, out, gaps);
  return out;
}

std::vector<CheckFinding> CheckTableAndMemo(const std::string& table_path, uint32_t* unreachable) {
  std::vector<CheckFinding> out = CheckTable(table_path);
  if (unreachable != nullptr) *unreachable = 0;
  const bool opened = std::none_of(
      out.begin(), out.end(), [](const CheckFinding& f) { return f.what == FindingKind::kUnreadable && f.where == 0; });
  if (!opened) return out;
  for (CheckFinding& f : CheckMemo(table_path, unreachable)) out.push_back(std::move(f));
  return out;
}

}  // namespace ov
