#include "tools/ovdbf_dump.h"

#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/index/ovndx.h"
#include "engine/index/umakemdx.h"
#include "engine/support/codepage.h"
#include "engine/support/ovcommon.h"
#include "engine/support/scope_guard.h"
#include "tools/ovdbf_progress.h"
#include "tools/ovdbf_text.h"

namespace ov::cli {
namespace {

// A field's value. `text` is UTF-8 (numbers and dates are ASCII) and is
// valid until the next field is read; null is a blank number, date or
// logical.
enum class Kind { kNull, kText, kNumber, kLogical, kDate };

struct Value {
  Kind kind = Kind::kNull;
  std::string_view text;
};

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimRight(s);
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}

bool AllDigits(std::string_view t) { return !t.empty() && t.find_first_not_of("0123456789") == std::string_view::npos; }

// JSON takes "12", "-0.5", "3.25" as numbers; stored forms such as ".5",
// "5.", "007" or asterisks stay strings.
bool IsJsonNumber(std::string_view s) {
  if (!s.empty() && s[0] == '-') s.remove_prefix(1);
  const size_t dot = s.find('.');
  const std::string_view whole = s.substr(0, dot);
  if (!AllDigits(whole) || (whole.size() > 1 && whole[0] == '0')) return false;
  return dot == std::string_view::npos || AllDigits(s.substr(dot + 1));
}

// A numeric literal both SQL dialects read: sign, digits with at most one
// point (".5" and "5." included), an optional exponent. Asterisks of an
// overflowed field are not one.
bool IsSqlNumber(std::string_view s) {
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
  const size_t e = s.find_first_of("eE");
  if (e != std::string_view::npos) {
    std::string_view exp = s.substr(e + 1);
    if (!exp.empty() && (exp[0] == '-' || exp[0] == '+')) exp.remove_prefix(1);
    if (!AllDigits(exp)) return false;
    s = s.substr(0, e);
  }
  const size_t dot = s.find('.');
  if (dot == std::string_view::npos) return AllDigits(s);
  const std::string_view whole = s.substr(0, dot), part = s.substr(dot + 1);
  return (whole.empty() || AllDigits(whole)) && (part.empty() || AllDigits(part)) && whole.size() + part.size() > 0;
}

// "YYYY-MM-DD" naming a day of the calendar: a database refuses any other.
bool IsCalendarDate(std::string_view s) {
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
  if (!AllDigits(s.substr(0, 4)) || !AllDigits(s.substr(5, 2)) || !AllDigits(s.substr(8, 2))) return false;
  const int y = std::stoi(std::string(s.substr(0, 4))), m = std::stoi(std::string(s.substr(5, 2))),
            d = std::stoi(std::string(s.substr(8, 2)));
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y == 0 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return false;
  return m != 2 || d < 29 || (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0));
}

// Where a field's value is made when it is not the record's own bytes.
struct Scratch {
  std::string text;  // converted text, a date
  std::string memo;  // a memo as read
};

// Reads field n of the current record.
Value FieldValue(WorkArea& area, int n, CodePage page, Scratch& scratch) {
  const FieldEntry& f = area.table.fields[static_cast<size_t>(n - 1)];
  const std::string_view raw(area.table.record.data() + f.offset, f.length);
  switch (f.type) {
    case 'C': return {Kind::kText, AsUtf8(TrimRight(raw), page, scratch.text)};
    case 'M': {
      const auto block = static_cast<int32_t>(GetFieldNumber(n));
      scratch.memo.clear();
      if (block > 0 && Areas().memo.read_text) scratch.memo = Areas().memo.read_text(area, block);
      return {Kind::kText, AsUtf8(scratch.memo, page, scratch.text)};
    }
    case 'L': {
      const char c = raw.empty() ? ' ' : raw[0];
      if (std::string_view("TtYy").find(c) != std::string_view::npos) return {Kind::kLogical, "true"};
      if (std::string_view("FfNn").find(c) != std::string_view::npos) return {Kind::kLogical, "false"};
      return {};
    }
    case 'D': {
      const std::string_view d = Trim(raw);
      if (d.empty()) return {};
      if (d.size() != 8) return {Kind::kDate, d};
      scratch.text.assign(d.substr(0, 4)).append(1, '-').append(d.substr(4, 2)).append(1, '-').append(d.substr(6, 2));
      return {Kind::kDate, scratch.text};
    }
    default: {
      const std::string_view t = Trim(raw);
      if (t.empty()) return {};
      return {Kind::kNumber, AsUtf8(t, page, scratch.text)};
    }
  }
}

// How each format writes one value; `name` is the JSON key of the column.
void AppendValue(std::string& line, const Value& v, DumpFormat format, std::string_view name) {
  const bool sql = format == DumpFormat::kSql;
  switch (format) {
    case DumpFormat::kCsv:
      if (v.kind != Kind::kNull) AppendCsvField(line, v.text);
      return;
    case DumpFormat::kJsonLines:
      line.append(name).append(1, ':');
      if (v.kind == Kind::kNull) {
        line += "null";
      } else if (v.kind == Kind::kLogical || (v.kind == Kind::kNumber && IsJsonNumber(v.text))) {
        line += v.text;
      } else {
        AppendJsonString(line, v.text);
      }
      return;
    case DumpFormat::kSql:
    case DumpFormat::kCopy: {
      // A stored number or date a database would refuse is written as null.
      const bool null = v.kind == Kind::kNull || (v.kind == Kind::kNumber && !IsSqlNumber(v.text)) ||
                        (v.kind == Kind::kDate && !IsCalendarDate(v.text));
      if (null) {
        line += sql ? "NULL" : "\\N";
      } else if (v.kind == Kind::kNumber || (v.kind == Kind::kLogical && !sql)) {
        line += v.text;
      } else if (v.kind == Kind::kLogical) {
        line += v.text == "true" ? "TRUE" : "FALSE";
      } else if (sql) {
        AppendSqlQuoted(line, v.text, '\'');
      } else {
        AppendCopyText(line, v.text);
      }
      return;
    }
  }
}

// Runs a step the table may refuse (a tag it lacks, a condition that does
// not compile): a report or a false answer becomes DumpRefused.
template <typename Step>
void Require(Step step, const std::string& refusal) {
  bool done = false;
  try {
    done = step();
  } catch (const EOrvelError& e) {
    throw DumpRefused{refusal + ": " + e.what()};
  }
  if (!done) throw DumpRefused{refusal};
}

// The area's table in natural or tag order, filtered.
void PrepareArea(const std::string& path, const DumpOptions& options, CodePage page) {
  if (!options.order_tag.empty()) {
    if (!CurrentEnv()->Exists(IndexFileName(path, ""))) throw DumpRefused{"no production index for --order"};
    SetIndexTo("");
    Require([&] { return SetOrderToTag(options.order_tag); }, "no tag " + options.order_tag);
  }
  SetIgnoreDel(!options.deleted);
  if (!options.for_expr.empty()) {
    Require([&] { return SetForExpression(FromUtf8(options.for_expr, page)); }, "--for " + options.for_expr);
  }
}

std::string SqlType(const FieldEntry& f) {
  switch (f.type) {
    case 'C': return "varchar(" + std::to_string(f.length) + ")";
    case 'N':
    case 'F':
      if (f.decimals >= f.length) return "numeric";
      return "numeric(" + std::to_string(f.length) + "," + std::to_string(f.decimals) + ")";
    case 'D': return "date";
    case 'L': return "boolean";
    default: return "text";
  }
}

std::string TableName(const std::string& path, const DumpOptions& options) {
  if (!options.table.empty()) return options.table;
  std::string stem = std::filesystem::path(path).stem().string();
  for (char& c : stem) c = static_cast<char>(LowerAnsi(static_cast<uint8_t>(c)));
  return stem;
}

// What each format writes before the records: CSV's header line, SQL's
// CREATE TABLE (inside a transaction, so a cut-off dump loads nothing),
// COPY's CREATE TABLE and COPY line.
std::string Prologue(const std::string& path, const WorkArea& area, const DumpOptions& options,
                     const std::vector<std::string>& names) {
  const size_t first = options.deleted ? 0 : 1;
  std::string text;
  switch (options.format) {
    case DumpFormat::kJsonLines: return text;
    case DumpFormat::kCsv:
      for (size_t i = first; i < names.size(); ++i) {
        if (i > first) text += ',';
        AppendCsvField(text, names[i]);
      }
      return text + "\r\n";
    case DumpFormat::kSql:
    case DumpFormat::kCopy: break;
  }
  std::string table, columns;
  AppendSqlQuoted(table, TableName(path, options), '"');
  std::string create = (options.format == DumpFormat::kSql ? "BEGIN;\nCREATE TABLE " : "CREATE TABLE ") + table + " (";
  for (size_t i = first; i < names.size(); ++i) {
    if (i > first) {
      columns += ", ";
      create += ", ";
    }
    AppendSqlQuoted(columns, names[i], '"');
    AppendSqlQuoted(create, names[i], '"');
    create += ' ';
    create += i == 0 ? "boolean" : SqlType(area.table.fields[i - 1]);
  }
  text = create + ");\n";
  if (options.format == DumpFormat::kCopy) text += "COPY " + table + " (" + columns + ") FROM stdin;\n";
  return text;
}

// The line that starts each record ("INSERT ... VALUES (") and the one
// that ends it.
std::pair<std::string, std::string> RecordFrame(const std::string& path, const DumpOptions& options) {
  switch (options.format) {
    case DumpFormat::kCsv: return {"", "\r\n"};
    case DumpFormat::kJsonLines: return {"{", "}\n"};
    case DumpFormat::kCopy: return {"", "\n"};
    case DumpFormat::kSql: break;
  }
  std::string insert = "INSERT INTO ";
  AppendSqlQuoted(insert, TableName(path, options), '"');
  return {insert + " VALUES (", ");\n"};
}

const char* Epilogue(DumpFormat format) {
  return format == DumpFormat::kSql ? "COMMIT;\n" : format == DumpFormat::kCopy ? "\\.\n" : "";
}

}  // namespace

void Dump(const std::string& path, const DumpOptions& options, std::ostream& out) {
  // The bytes as stored: the tool converts them itself, from the table's
  // own code page straight to UTF-8.
  AreaConfig().AnsiTables = true;
  AreaConfig().MultiUser = true;
  AreaConfig().OpenMode = fmode::kRead | fmode::kDenyNone;
  USE(path);
  ScopeGuard close([] { CloseArea(); });
  WorkArea& area = *CurrentArea();
  const CodePage page = TableCodePage(area.table);
  PrepareArea(path, options, page);
  // Column 0 is the deleted marker.
  std::vector<std::string> names{"_deleted"}, json_names{JsonString("_deleted")};
  for (const FieldEntry& f : area.table.fields) {
    names.push_back(ToUtf8(f.name, page));
    json_names.push_back(JsonString(names.back()));
  }
  out << Prologue(path, area, options, names);
  const auto [open, close_line] = RecordFrame(path, options);
  const char separator = options.format == DumpFormat::kCopy ? '\t' : ',';
  const int fields = static_cast<int>(area.table.fields.size());
  // Records gather in one buffer that goes out in large writes.
  constexpr size_t kFlushAt = size_t{1} << 16;
  std::string line;
  Scratch scratch;
  Progress progress("dump", RecCount(), options.quiet);
  int64_t written = 0;
  for (GoTop(); !dEOF(); SKIP()) {
    line += open;
    if (options.deleted) {
      AppendValue(line, {Kind::kLogical, area.table.record[0] == '*' ? "true" : "false"}, options.format,
                  json_names[0]);
      line += separator;
    }
    for (int n = 1; n <= fields; ++n) {
      if (n > 1) line += separator;
      AppendValue(line, FieldValue(area, n, page, scratch), options.format, json_names[static_cast<size_t>(n)]);
    }
    line += close_line;
    if (line.size() >= kFlushAt) {
      out.write(line.data(), static_cast<std::streamsize>(line.size()));
      line.clear();
    }
    // In tag order the record numbers jump about; the count written does not.
    progress.Update(options.order_tag.empty() ? RecNo() : ++written);
  }
  out << line << Epilogue(options.format);
}

}  // namespace ov::cli
