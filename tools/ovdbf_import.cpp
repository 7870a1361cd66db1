#include "tools/ovdbf_import.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/file_set.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/platform.h"
#include "tools/ovdbf_csv.h"
#include "tools/ovdbf_progress.h"
#include "tools/ovdbf_text.h"

namespace ov::cli {
namespace {

constexpr int kDeletedColumn = -1;

std::string ReadText(const std::string& path) {
  std::unique_ptr<File> file;
  uint64_t size = 0;
  uint16_t code = OpenResolved(path, fmode::kRead | fmode::kDenyNone, Disposition::kOpenExisting, file);
  if (code == 0) code = file->Size(size);
  std::string text(code == 0 ? size : 0, '\0');
  size_t got = 0;
  if (code == 0) code = file->ReadAt(0, text.data(), text.size(), got);
  if (code == 0 && got != text.size()) code = 30;  // read fault: the file shrank under us
  if (code != 0) throw Refused{ErrorDescription(code), kFailed, path};
  return text;
}

Refused BadLine(const std::string& csv, int line, const std::string& problem) {
  return Refused{problem, kFailed, csv + ":" + std::to_string(line)};
}

bool AllDigits(std::string_view s) { return s.find_first_not_of("0123456789") == std::string_view::npos; }

// The stored text of a number, right-aligned to the field; "" when it does
// not fit (`problem` says why).
std::string NumberText(std::string_view v, const FieldEntry& f, std::string& problem) {
  const std::string_view given = v;
  std::string sign;
  if (!v.empty() && (v[0] == '-' || v[0] == '+')) {
    if (v[0] == '-') sign = "-";
    v.remove_prefix(1);
  }
  const size_t dot = v.find('.');
  std::string_view whole = v.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? std::string_view() : v.substr(dot + 1);
  if ((whole.empty() && fraction.empty()) || !AllDigits(whole) || !AllDigits(fraction)) {
    problem = "not a number: " + std::string(given);
    return "";
  }
  // Zeros past the field's decimals lose nothing ("3.50" into two decimals).
  while (fraction.size() > f.decimals && fraction.back() == '0') fraction.remove_suffix(1);
  if (fraction.size() > f.decimals) {
    problem = "more decimals than " + std::to_string(f.decimals) + ": " + std::string(given);
    return "";
  }
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
  std::string text = sign + (whole.empty() ? "0" : std::string(whole));
  if (f.decimals > 0) text += "." + std::string(fraction) + std::string(f.decimals - fraction.size(), '0');
  if (text.size() > f.length) {
    problem = "does not fit " + std::string(1, f.type) + "(" + std::to_string(f.length) + "," +
              std::to_string(f.decimals) + "): " + std::string(given);
    return "";
  }
  return std::string(f.length - text.size(), ' ') + text;
}

bool ValidDate(int y, int m, int d) {
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m != 2 || d <= 28 || leap;
}

std::string DateText(std::string_view v, std::string& problem) {
  std::string digits(v);
  if (v.size() == 10 && v[4] == '-' && v[7] == '-')
    digits = std::string(v.substr(0, 4)) + std::string(v.substr(5, 2)) + std::string(v.substr(8, 2));
  if (digits.size() != 8 || !AllDigits(digits) ||
      !ValidDate(std::stoi(digits.substr(0, 4)), std::stoi(digits.substr(4, 2)), std::stoi(digits.substr(6, 2)))) {
    problem = "not a date (YYYY-MM-DD or YYYYMMDD): " + std::string(v);
    return "";
  }
  return digits;
}

// 'T', 'F', or 0 for a value that is no logical.
char Logical(std::string_view v) {
  const std::string upper = UpperText(std::string(v));
  if (upper == "T" || upper == "Y" || upper == "TRUE") return 'T';
  if (upper == "F" || upper == "N" || upper == "FALSE") return 'F';
  return 0;
}

// The value as the field's stored bytes (for M the memo text); "" with
// `problem` set when it does not suit the field.
std::string StoredValue(const FieldEntry& f, const std::string& v, CodePage page, std::string& problem) {
  switch (f.type) {
    case 'C':
    case 'M': {
      std::string bytes = FromUtf8(v, page);
      if (ToUtf8(bytes, page) != v) {
        problem = "characters the table's code page lacks: " + v;
      } else if (f.type == 'C' && bytes.size() > f.length) {
        problem = "longer than " + std::to_string(f.length) + ": " + v;
      } else if (f.type == 'C') {
        bytes.resize(f.length, ' ');
      }
      return bytes;
    }
    case 'N':
    case 'F': return NumberText(TrimText(v), f, problem);
    case 'D': return DateText(TrimText(v), problem);
    case 'L':
      if (const char c = Logical(TrimText(v))) return std::string(1, c);
      problem = "not a logical (T, F, Y, N, true, false): " + v;
      return "";
    default: problem = std::string("type ") + f.type + " cannot be imported"; return "";
  }
}

// Field index per CSV column (kDeletedColumn for "_deleted").
std::vector<int> MapColumns(const CsvRecord& header, const DbfFile& table, const std::string& csv) {
  std::vector<int> columns;
  for (const std::string& name : header.fields) {
    const std::string upper = UpperText(TrimText(name));
    const auto it = std::ranges::find(table.fields, upper, &FieldEntry::name);
    int column = kDeletedColumn;
    if (upper != "_DELETED") {
      if (it == table.fields.end()) throw BadLine(csv, header.line, "no field " + name + " in the table");
      column = static_cast<int>(it - table.fields.begin());
    }
    if (std::ranges::find(columns, column) != columns.end()) throw BadLine(csv, header.line, name + " given twice");
    columns.push_back(column);
  }
  return columns;
}

// Appends one CSV record to the current area; throws for a bad value.
void AppendRow(const CsvRecord& row, const std::vector<int>& columns, CodePage page, const std::string& csv) {
  WorkArea& area = *CurrentArea();
  ClearRecord();
  std::vector<std::pair<int, std::string>> memos;
  for (size_t i = 0; i < columns.size(); ++i) {
    const std::string& value = row.fields[i];
    if (columns[i] == kDeletedColumn) {
      const char c = Logical(TrimText(value));
      if (c == 0 && !TrimText(value).empty()) throw BadLine(csv, row.line, "_deleted: not a logical: " + value);
      area.table.record[0] = c == 'T' ? '*' : ' ';
      continue;
    }
    const FieldEntry& f = area.table.fields[static_cast<size_t>(columns[i])];
    if (TrimText(value).empty()) continue;
    std::string problem;
    const std::string bytes = StoredValue(f, value, page, problem);
    if (!problem.empty()) throw BadLine(csv, row.line, "field " + f.name + ": " + problem);
    if (f.type == 'M') {
      memos.emplace_back(columns[i] + 1, bytes);
    } else {
      std::memcpy(area.table.record.data() + f.offset, bytes.data(), bytes.size());
    }
  }
  // The typed record follows the stored bytes, so the append keeps them.
  ScatterArea(area);
  for (const auto& [n, text] : memos) SetFieldNumber(n, Areas().memo.write_text(area, text, 0));
  Append();
}

}  // namespace

int Import(const std::string& csv, const OptionValues& options) {
  const std::string into = OptionValue(options, "--into");
  if (into.empty()) throw Refused{"import needs --into TABLE", kBadUsage};
  const std::string table = DefaultExt(into, "DBF");
  const bool exists = FileExistsResolved(ResolveName(table));
  const std::vector<FieldDef> fields = ParseFieldSpecs(Values(options, "--field"));
  if (exists && !fields.empty()) throw Refused{"--field makes a new table, and " + into + " exists", kBadUsage};
  if (!exists && fields.empty()) throw Refused{into + " does not exist; --field specs make it", kBadUsage};
  const std::string text = ReadText(csv);
  CsvReader reader(text);
  CsvRecord record;
  if (!reader.Next(record)) {
    throw BadLine(csv, reader.line(), reader.problem().empty() ? "no header line" : reader.problem());
  }
  const std::vector<TagDef> tags = ProductionTags(table);
  ScratchSet scratch(table);
  if (!exists) {
    scratch.Create(fields, nullptr);
  } else if (!CopyFileSet(table, scratch.path())) {
    throw Refused{ErrorText()};
  }
  scratch.Open(true);
  const CodePage page = TableCodePage(CurrentArea()->table);
  const std::vector<int> columns = MapColumns(record, CurrentArea()->table, csv);
  Progress bar("importing", 0, options.contains("--quiet"));
  int64_t appended = 0;
  while (reader.Next(record)) {
    if (record.fields.size() == 1 && record.fields[0].empty()) continue;  // a blank line
    if (record.fields.size() != columns.size()) {
      throw BadLine(csv, record.line,
                    std::to_string(record.fields.size()) + " fields, the header has " + std::to_string(columns.size()));
    }
    AppendRow(record, columns, page, csv);
    bar.Update(++appended);
  }
  if (!reader.problem().empty()) throw BadLine(csv, reader.line(), reader.problem());
  scratch.Close();
  scratch.BuildIndex(tags, options.contains("--quiet"));
  scratch.Place();
  return 0;
}

}  // namespace ov::cli
