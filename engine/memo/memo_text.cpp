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

void ReleaseMemoLocked(WorkArea& area, int32_t block) {
  MemoState* s = MemoStateOf(area);
  if (s == nullptr || !memo_detail::IsDbase4Kind(s->kind) || block <= 0) return;
  const std::string ctx = MemoContext(area, "ReleaseMemo");
  if (LockMemoPadAndSeekEOF(area, ctx) == 0) return;
  ReleaseMemo(area, block, ctx);
  UpdateMemoHeader(area);
}

namespace {

// The area a binding names, when it still has a memo file.
WorkArea* BoundArea(const MemoBinding& b) {
  if (b.reference == nullptr || b.area < 1 || b.area > kAreaCount) return nullptr;
  WorkArea* area = Areas().slots[static_cast<size_t>(b.area)].get();
  return area != nullptr && MemoStateOf(*area) != nullptr ? area : nullptr;
}

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

// The memo's bytes as stored, before any character conversion.
std::string LoadMemoBytes(WorkArea& area, int32_t block, const std::string& routine) {
  if (block == 0 || MemoStateOf(area) == nullptr) return std::string();
  if (OpenMemoDescriptor(area, block, 1, -1, routine) == 0) return std::string();
  std::string text;
  std::vector<char> chunk(4096);
  for (;;) {
    const size_t got = ReadMemoBytes(area, chunk.data(), chunk.size());
    if (got == 0) break;
    text.append(chunk.data(), got);
  }
  CloseMemoDescriptor(area);
  return text;
}

// Whether a text can be stored the way other dBASE III programs read it:
// raw, ended by 1A 1A, referenced by a positive block number.
bool PlainDbase3(const MemoState& s, const std::string& bytes) {
  return s.kind == MemoKind::kDbase3 && !s.transform && bytes.find('\x1A') == std::string::npos &&
         bytes.find('\0') == std::string::npos;
}

int32_t StorePlainDbase3(WorkArea& area, std::string bytes, const std::string& routine) {
  MemoState& s = *MemoStateOf(area);
  const std::string ctx = MemoContext(area, routine);
  if (bytes.size() / 1024 >= CurrentEnv()->FreeSpaceKB(s.name)) {
    ReportError(err::kMemoDiskFull, ctx);
    return 0;
  }
  const uint64_t end = LockMemoPadAndSeekEOF(area, ctx);
  if (end == 0) return 0;
  bytes.append(kDbase3MemoEnd, sizeof kDbase3MemoEnd);
  const uint16_t code = s.file->WriteAt(end, bytes.data(), bytes.size());
  UpdateMemoHeader(area);
  FlushMemoFile(area);
  if (code != 0) {
    ReportError(err::kMemoWrite, ctx);
    return 0;
  }
  return static_cast<int32_t>(end / s.block_size);
}

// StoreMemoText for bytes already in the table's characters.
int32_t StoreMemoBytes(WorkArea& area, const std::string& bytes, int32_t old_block, const std::string& routine) {
  MemoState* s = MemoStateOf(area);
  if (s == nullptr) return old_block;
  if (bytes.empty()) {
    ReleaseMemoLocked(area, old_block);
    return 0;
  }
  if (PlainDbase3(*s, bytes)) {
    const int32_t block = StorePlainDbase3(area, bytes, routine);
    return block == 0 ? old_block : block;
  }
  const int32_t block = OpenMemoDescriptor(area, old_block, 2, static_cast<int64_t>(bytes.size()), routine);
  if (block == 0) return old_block;
  if (WriteMemoBytes(area, bytes.data(), bytes.size()) != bytes.size()) return old_block;
  CloseMemoDescriptor(area);
  return block;
}

}  // namespace

std::string LoadMemoText(WorkArea& area, int32_t block, const std::string& routine) {
  const std::string bytes = LoadMemoBytes(area, block, routine);
  return area.table.oem ? OemToStr(bytes) : bytes;
}

int32_t StoreMemoText(WorkArea& area, const std::string& text, int32_t old_block, const std::string& routine) {
  return StoreMemoBytes(area, area.table.oem ? StrToOem(text) : text, old_block, routine);
}

int32_t AddMemo(const std::string& text) {
  if (!CheckMemoField("AddMemo()")) return 0;
  WorkArea& area = *CurrentArea();
  if (text.empty()) return 0;
  Errors().DbfError = 0;
  const int32_t block = StoreMemoText(area, text, 0, "AddMemo()");
  if (block == 0 && Errors().DbfError == 0) ReportError(err::kMemoWrite, MemoStateOf(area)->name + " [AddMemo]");
  return block;
}

int AssignMemo(MemoBinding& binding, int32_t& reference) {
  binding = MemoBinding{};
  if (!CheckMemoField("AssignMemo")) return Errors().DbfError;
  binding.reference = &reference;
  binding.area = SelectedArea();
  return 0;
}

// ---- Reading ----

MemoTextReader::MemoTextReader(const MemoBinding& binding, size_t max_lines) {
  WorkArea* area = BoundArea(binding);
  if (area == nullptr) return;
  Errors().DbfError = 0;
  // Soft returns are found in the stored bytes: converted, 0x8D would be
  // a letter.
  const std::string bytes = LoadMemoBytes(*area, *binding.reference, "GetMemo");
  if (Errors().DbfError != 0) return;
  lines_ = SplitLines(bytes);
  if (area->table.oem) {
    for (MemoLine& line : lines_) line.text = OemToStr(line.text);
  }
  if (lines_.size() > max_lines) {
    lines_.clear();
    ReportError(err::kNoMemory, "Reading memo field in " + MemoStateOf(*area)->name);
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
    : binding_(binding), max_lines_(max_lines), open_(BoundArea(binding) != nullptr) {}

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
  WorkArea* area = BoundArea(binding_);
  bool stored = false;
  int32_t block = 0;
  if (area != nullptr) {
    QuietErrors quiet;
    Errors().DbfError = 0;
    block = StoreMemoBytes(*area, JoinLines(lines, area->table.oem), *binding_.reference, kEditRoutine);
    stored = Errors().DbfError == 0;
  }
  if (!stored) {
    if (!lines.empty()) ReportError(err::kDiskWrite, (area ? MemoStateOf(*area)->name : std::string()) + " [" + kEditRoutine + "]");
    return false;
  }
  *binding_.reference = block;
  return true;
}

}  // namespace ov
