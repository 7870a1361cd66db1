// Memos as text: whole texts stored and loaded, and memos read or written
// line by line through a bound text-file variable.
#include <string>
#include <vector>

#include "engine/memo/memo.h"
#include "engine/memo/memo_internal.h"
#include "engine/memo/memo_ops.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

constexpr char kSoftReturn = static_cast<char>(0x8D);
const char* const kEditRoutine = "EditMemo/CloseMemo";

}  // namespace

void ReleaseMemoLocked(MemoState& s, int32_t block, const std::string& where) {
  if (!memo_detail::IsDbase4Kind(s.kind) || block <= 0) return;
  const std::string ctx = MemoContext(s, where, "ReleaseMemo");
  if (LockMemoPadAndSeekEOF(s, ctx) == 0) return;
  ReleaseMemo(s, block, ctx);
  UpdateMemoHeader(s, where);
}

namespace {

void NotLoaded() { ReportError(err::kNotOpenForInput, " [MemoText]"); }

// Hard returns are CR LF, a lone CR or a lone LF; a soft return is 0x8D LF
// (a lone 0x8D is a letter in code page 437). Lines are cut at the width.
std::vector<MemoLine> SplitLines(const std::string& text) {
  std::vector<MemoLine> lines;
  std::string cur;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool lf_next = i + 1 < text.size() && text[i + 1] == '\n';
    if ((c == '\r' || c == kSoftReturn) && lf_next) {
      lines.push_back({std::move(cur), c == '\r' ? LineEnd::kHard : LineEnd::kSoft});
      cur.clear();
      ++i;
    } else if (c == '\r' || c == '\n') {
      lines.push_back({std::move(cur), LineEnd::kHard});
      cur.clear();
    } else {
      if (cur.size() == kMemoLineWidth) {
        lines.push_back({std::move(cur), LineEnd::kNone});
        cur.clear();
      }
      cur.push_back(c);
    }
  }
  if (!cur.empty()) lines.push_back({std::move(cur), LineEnd::kNone});
  return lines;
}

std::string LineEndText(LineEnd end) {
  switch (end) {
    case LineEnd::kHard: return "\r\n";
    case LineEnd::kSoft: return std::string(1, kSoftReturn) + "\n";
    default: return std::string();
  }
}

// The stored bytes of lines: each line's text in the table's characters,
// its end as is (0x8D is no character to convert).
std::string JoinLines(const std::vector<MemoLine>& lines, bool oem) {
  std::string bytes;
  for (const MemoLine& line : lines) bytes += (oem ? StrToOem(line.text) : line.text) + LineEndText(line.end);
  return bytes;
}

}  // namespace

std::string LoadMemoBytes(MemoState& s, int32_t block, const std::string& where, const std::string& routine) {
  if (block == 0) return std::string();
  if (OpenMemoDescriptor(s, block, 1, -1, where, routine) == 0) return std::string();
  std::string text;
  std::vector<char> chunk(4096);
  for (;;) {
    const size_t got = ReadMemoBytes(s, chunk.data(), chunk.size());
    if (got == 0) break;
    text.append(chunk.data(), got);
  }
  CloseMemoDescriptor(s);
  return text;
}

namespace {

// Whether a text can be stored the way other dBASE III programs read it:
// raw, ended by 1A 1A, referenced by a positive block number.
bool PlainDbase3(const MemoState& s, const std::string& bytes) {
  return s.kind == MemoKind::kDbase3 && !s.transform && bytes.find('\x1A') == std::string::npos &&
         bytes.find('\0') == std::string::npos;
}

int32_t StorePlainDbase3(MemoState& s, std::string bytes, const std::string& where, const std::string& routine) {
  const std::string ctx = MemoContext(s, where, routine);
  if (bytes.size() / 1024 >= CurrentEnv()->FreeSpaceKB(s.name)) {
    ReportError(err::kMemoDiskFull, ctx);
    return 0;
  }
  const uint64_t end = LockMemoPadAndSeekEOF(s, ctx);
  if (end == 0) return 0;
  bytes.append(kDbase3MemoEnd, sizeof kDbase3MemoEnd);
  const uint16_t code = s.file->WriteAt(end, bytes.data(), bytes.size());
  UpdateMemoHeader(s, where);
  FlushMemoFile(s);
  if (code != 0) {
    ReportError(err::kMemoWrite, ctx);
    return 0;
  }
  return static_cast<int32_t>(end / s.block_size);
}

}  // namespace

int32_t StoreMemoBytes(MemoState& s, const std::string& bytes, int32_t old_block, const std::string& where,
                       const std::string& routine) {
  if (bytes.empty()) return 0;
  if (PlainDbase3(s, bytes)) {
    const int32_t block = StorePlainDbase3(s, bytes, where, routine);
    return block == 0 ? old_block : block;
  }
  const int32_t block = OpenMemoDescriptor(s, old_block, 2, static_cast<int64_t>(bytes.size()), where, routine);
  if (block == 0) return old_block;
  if (WriteMemoBytes(s, bytes.data(), bytes.size()) != bytes.size()) return old_block;
  CloseMemoDescriptor(s);
  return block;
}

// ---- Reading ----

MemoTextReader::MemoTextReader(const MemoBinding& binding, size_t max_lines) {
  const BoundMemo bound = ResolveBinding(binding);
  if (bound.state == nullptr) return;
  Errors().DbfError = 0;
  // Soft returns are found in the stored bytes: converted, 0x8D would be
  // a letter.
  const std::string bytes = LoadMemoBytes(*bound.state, *binding.reference, bound.where, "GetMemo");
  if (Errors().DbfError != 0) return;
  lines_ = SplitLines(bytes);
  if (bound.oem) {
    for (MemoLine& line : lines_) line.text = OemToStr(line.text);
  }
  if (lines_.size() > max_lines) {
    lines_.clear();
    ReportError(err::kNoMemory, "Reading memo field in " + bound.state->name);
    return;
  }
  loaded_ = true;
}

bool MemoTextReader::CheckLoaded() {
  if (!loaded_) NotLoaded();
  return loaded_;
}

bool MemoTextReader::Eof() { return !CheckLoaded() || next_ >= lines_.size(); }

bool MemoTextReader::ReadLine(std::string& line) {
  line.clear();
  if (!CheckLoaded() || next_ >= lines_.size()) return false;
  const MemoLine& l = lines_[next_++];
  line = l.text + LineEndText(l.end);
  return true;
}

void MemoTextReader::Close() {
  lines_.clear();
  next_ = 0;
  loaded_ = false;
}

// ---- Writing ----

MemoTextWriter::MemoTextWriter(const MemoBinding& binding, size_t max_lines)
    : binding_(binding), max_lines_(max_lines), open_(ResolveBinding(binding).state != nullptr) {}

bool MemoTextWriter::EndLine(LineEnd end) {
  if (lines_.size() >= max_lines_ || MemoryAvailable() < kMemoLineMemory) {
    ReportError(err::kDiskWrite, " [EditMemo]");
    return false;
  }
  lines_.push_back({std::move(pending_), end});
  pending_.clear();
  return true;
}

void MemoTextWriter::Write(std::string_view chars) {
  if (!open_) {
    NotLoaded();
    return;
  }
  for (const char c : chars) {
    const bool pair = after_cr_ && c == '\n';
    after_cr_ = c == '\r';
    if (pair) continue;  // CR LF ends one line
    bool ok = true;
    if (c == '\r') {
      ok = EndLine(LineEnd::kHard);
    } else if (c == '\n') {
      const bool soft = !pending_.empty() && pending_.back() == kSoftReturn;
      if (soft) pending_.pop_back();
      ok = EndLine(soft ? LineEnd::kSoft : LineEnd::kHard);
    } else {
      if (pending_.size() == kMemoLineWidth) ok = EndLine(LineEnd::kNone);
      pending_.push_back(c);
    }
    if (!ok) return;
  }
}

bool MemoTextWriter::Close() {
  if (!open_) {
    NotLoaded();
    return false;
  }
  open_ = false;
  // Closing always releases the lines, whatever the store does.
  std::vector<MemoLine> lines = std::move(lines_);
  lines_.clear();
  if (!pending_.empty()) lines.push_back({std::move(pending_), LineEnd::kNone});
  pending_.clear();
  const BoundMemo bound = ResolveBinding(binding_);
  bool stored = false;
  int32_t block = 0;
  if (bound.state != nullptr) {
    QuietErrors quiet;
    Errors().DbfError = 0;
    block = StoreMemoBytes(*bound.state, JoinLines(lines, bound.oem), *binding_.reference, bound.where, kEditRoutine);
    stored = Errors().DbfError == 0;
  }
  if (!stored) {
    if (!lines.empty())
      ReportError(err::kDiskWrite, (bound.state ? bound.state->name : std::string()) + " [" + kEditRoutine + "]");
    return false;
  }
  // The old memo is given back only once the record is written without it.
  if (*binding_.reference != 0 && block != *binding_.reference) DeferRelease(binding_, *binding_.reference);
  *binding_.reference = block;
  return true;
}

}  // namespace ov
