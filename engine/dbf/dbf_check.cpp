#include "engine/dbf/dbf_check.h"

#include <algorithm>
#include <string_view>

#include "engine/dbf/dbf_header.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "engine/support/timedate.h"

namespace ov {

namespace {

// The check must leave the caller's error state as it found it.
class KeepErrorState {
 public:
  KeepErrorState() : saved_(Errors()) {}
  ~KeepErrorState() { Errors() = saved_; }
  KeepErrorState(const KeepErrorState&) = delete;
  KeepErrorState& operator=(const KeepErrorState&) = delete;

 private:
  ErrorState saved_;
};

constexpr size_t kChunkBytes = 64 * 1024;

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllOf(std::string_view s, char c) {
  return std::all_of(s.begin(), s.end(), [c](char x) { return x == c; });
}

// Digits with at most one point, a sign in front and an exponent behind.
bool IsNumberText(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  size_t digits = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    if (IsDigit(s[i]))
      ++digits;
    else if (s[i] == '.' && !point)
      point = true;
    else
      break;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    const size_t start = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    if (i == start) return false;
  }
  return i == s.size();
}

bool IsDateText(std::string_view s) {
  if (AllOf(s, ' ')) return true;
  if (s.size() != 8 || !std::all_of(s.begin(), s.end(), IsDigit)) return false;
  auto num = [s](size_t at, size_t n) {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
    return v;
  };
  return YmdToDayNumber(num(0, 4), num(4, 2), num(6, 2)) != kNoDate;
}

bool IsBlockText(std::string_view s) {
  s = Trimmed(s);
  if (!s.empty() && s.front() == '-') s.remove_prefix(1);
  return std::all_of(s.begin(), s.end(), IsDigit);
}

// Whether `text` is something a field of `f`'s type can hold.
bool FieldTextFits(const FieldEntry& f, std::string_view text) {
  switch (f.type) {
    case 'N':
    case 'F': {
      const std::string_view t = Trimmed(text);
      return t.empty() || AllOf(t, '*') || IsNumberText(t);
    }
    case 'D': return IsDateText(text);
    case 'L': return text.size() == 1 && std::string_view("TtFfYyNn? ").find(text[0]) != std::string_view::npos;
    // Memo references of fewer than ten bytes are binary numbers.
    case 'M': return f.length < 10 || IsBlockText(text);
    default: return true;
  }
}

std::string Printable(std::string_view s) {
  std::string out;
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) {
      out.push_back(c);
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 15]);
    }
  }
  return out;
}

std::string HexByte(uint8_t b) { return Printable(std::string_view(reinterpret_cast<const char*>(&b), 1)); }

bool CheckRecord(const CheckedTable& t, int64_t n, const char* rec, std::vector<CheckFinding>& out) {
  const uint8_t flag = static_cast<uint8_t>(rec[0]);
  if (flag == 0x1A) {
    if (!AddFinding(out, FindingKind::kEndOfFile, n, "end-of-file byte on the deletion flag")) return false;
  } else if (flag != ' ' && flag != '*') {
    if (!AddFinding(out, FindingKind::kFlag, n, "deletion flag \"" + HexByte(flag) + "\"")) return false;
  }
  for (const FieldEntry& f : t.dbf.fields) {
    const std::string_view text(rec + f.offset, f.length);
    if (FieldTextFits(f, text)) continue;
    if (!AddFinding(out, FindingKind::kFieldText, n,
                    "field " + f.name + " (" + f.type + ") holds \"" + Printable(text) + "\"")) {
      return false;
    }
  }
  return true;
}

// Header count, partial record and end-of-file byte against the file size.
void CheckFileEnd(CheckedTable& t, std::vector<CheckFinding>& out) {
  const uint64_t end = t.dbf.header_length + static_cast<uint64_t>(t.whole_records) * t.dbf.record_length;
  const uint64_t rest = t.file_size > end ? t.file_size - end : 0;
  if (t.whole_records != t.dbf.record_count) {
    AddFinding(out, FindingKind::kRecordCount, 0,
               "header counts " + std::to_string(t.dbf.record_count) + " records, the file holds " +
                   std::to_string(t.whole_records));
  }
  if (rest > 1) {
    AddFinding(out, FindingKind::kPartialRecord, t.whole_records + 1,
               std::to_string(rest) + " bytes of a partial record after the last");
  } else if (rest == 1) {
    uint8_t b = 0;
    size_t got = 0;
    if (t.dbf.file->ReadAt(end, &b, 1, got) != 0 || got != 1) {
      AddFinding(out, FindingKind::kUnreadable, 0, "the last byte cannot be read");
    } else if (b != 0x1A) {
      AddFinding(out, FindingKind::kEndOfFile, 0, "byte \"" + HexByte(b) + "\" after the last record");
    }
  }
}

}  // namespace

bool AddFinding(std::vector<CheckFinding>& findings, FindingKind what, int64_t where, std::string text) {
  if (findings.size() > kMaxFindings) return false;
  if (findings.size() == kMaxFindings) {
    findings.push_back({FindingKind::kTooMany, 0, "more findings not listed"});
    return false;
  }
  findings.push_back({what, where, std::move(text)});
  return true;
}

void ForEachRecord(CheckedTable& t, const std::function<bool(int64_t n, const char* record)>& visit,
                   std::vector<CheckFinding>& out) {
  const size_t rl = t.dbf.record_length;
  const int64_t last = std::min<int64_t>(t.whole_records, std::max<int64_t>(t.dbf.record_count, 0));
  const int64_t per_chunk = static_cast<int64_t>(std::max<size_t>(1, kChunkBytes / rl));
  std::vector<char> buf;
  for (int64_t first = 1; first <= last; first += per_chunk) {
    const int64_t count = std::min(per_chunk, last - first + 1);
    buf.resize(static_cast<size_t>(count) * rl);
    size_t got = 0;
    if (t.dbf.file->ReadAt(t.dbf.RecordOffset(first), buf.data(), buf.size(), got) != 0 || got != buf.size()) {
      AddFinding(out, FindingKind::kUnreadable, first, "records cannot be read");
      return;
    }
    for (int64_t i = 0; i < count; ++i) {
      if (!visit(first + i, buf.data() + i * rl)) return;
    }
  }
}

bool OpenCheckedTable(const std::string& path, CheckedTable& table, std::vector<CheckFinding>& findings) {
  KeepErrorState keep;
  QuietErrors quiet;
  table.dbf.path = path;
  table.dbf.open_mode = fmode::kRead | fmode::kDenyNone;
  try {
    OpenDbf(table.dbf);
  } catch (const EOrvelError&) {
    // Reported below like any other failed open.
  }
  uint64_t size = 0;
  if (Errors().DbfError != 0 || !table.dbf.file || table.dbf.file->Size(size) != 0) {
    const std::string text = ErrorText();
    const size_t eol = text.find("\r\n");
    AddFinding(findings, FindingKind::kUnreadable, 0, eol == std::string::npos ? text : text.substr(eol + 2));
    table.dbf.file.reset();
    return false;
  }
  // The count as stored: the engine's repair setting may have replaced it.
  table.dbf.record_count = static_cast<int32_t>(HeaderRecordCount(table.dbf.header, table.dbf.layout));
  table.file_size = size;
  const uint64_t data = size > table.dbf.header_length ? size - table.dbf.header_length : 0;
  table.whole_records = static_cast<int64_t>(data / std::max<uint16_t>(table.dbf.record_length, 1));
  return true;
}

std::vector<CheckFinding> CheckTable(const std::string& path) {
  std::vector<CheckFinding> out;
  CheckedTable t;
  if (!OpenCheckedTable(path, t, out)) return out;
  CheckFileEnd(t, out);
  ForEachRecord(
      t, [&](int64_t n, const char* rec) { return CheckRecord(t, n, rec, out); }, out);
  return out;
}

std::vector<std::string> RepairTable(const std::string& path) {
  KeepErrorState keep;
  QuietErrors quiet;
  std::vector<std::string> out;
  // The header's own count is what is mended, not the one an open repairs.
  TableSettings& settings = Engine().table;
  const bool repair_on_open = settings.RepairRecCount;
  settings.RepairRecCount = false;
  DbfFile dbf;
  dbf.path = path;
  dbf.open_mode = fmode::kReadWrite | fmode::kDenyNone;
  EndRepair done;
  uint16_t code = 0;
  try {
    OpenDbf(dbf);
    code = Errors().DbfError != 0 ? Errors().DbfError : RepairEndOfTable(dbf, false, done);
  } catch (const EOrvelError&) {
    code = Errors().DbfError;
  }
  settings.RepairRecCount = repair_on_open;
  if (done.count != done.header_count) {
    out.push_back("header count " + std::to_string(done.header_count) + " set to " + std::to_string(done.count));
  }
  if (done.end_byte) out.push_back("end-of-file byte written after record " + std::to_string(done.count));
  if (code != 0) {
    out.push_back("repair failed: " + ErrorDescription(code) + " (" + std::to_string(code) + ")");
  }
  return out;
}

std::string FindingLine(const CheckFinding& f) {
  const bool memo =
      (f.what >= FindingKind::kMemoOutside && f.what <= FindingKind::kFreeChain) || f.what == FindingKind::kIndexTree;
  std::string where = f.where == 0 ? "file" : (memo ? "block " : "record ") + std::to_string(f.where);
  return where + ": " + f.text;
}

std::string FindingLines(const std::vector<CheckFinding>& findings) {
  std::string out;
  for (const CheckFinding& f : findings) out += FindingLine(f) + "\n";
  return out;
}

}  // namespace ov
