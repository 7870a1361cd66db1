#include "tools/ovdbf_dump.h"

#include <optional>
#include <string_view>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/index/ovndx.h"
#include "engine/index/umakemdx.h"
#include "engine/support/ovcommon.h"
#include "engine/support/scope_guard.h"
#include "tools/ovdbf_progress.h"
#include "tools/ovdbf_text.h"

namespace ov::cli {
namespace {

// A field's value as output text; nullopt for a blank number, date or
// logical. Numbers and logicals are marked so JSON writes them bare.
struct Value {
  std::optional<std::string> text;
  bool bare = false;
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

// JSON takes "12", "-0.5", "3.25" as numbers; stored forms such as ".5",
// "5.", "007" or asterisks stay strings.
bool IsJsonNumber(std::string_view s) {
  if (!s.empty() && s[0] == '-') s.remove_prefix(1);
  auto all_digits = [](std::string_view t) {
    return !t.empty() && t.find_first_not_of("0123456789") == std::string_view::npos;
  };
  const size_t dot = s.find('.');
  const std::string_view whole = s.substr(0, dot);
  if (!all_digits(whole) || (whole.size() > 1 && whole[0] == '0')) return false;
  return dot == std::string_view::npos || all_digits(s.substr(dot + 1));
}

Value FieldValue(WorkArea& area, int n, CodePage page) {
  const FieldEntry& f = area.table.fields[static_cast<size_t>(n - 1)];
  const std::string_view raw(area.table.record.data() + f.offset, f.length);
  switch (f.type) {
    case 'C': return {ToUtf8(TrimRight(raw), page)};
    case 'M': {
      const auto block = static_cast<int32_t>(GetFieldNumber(n));
      if (block <= 0 || !Areas().memo.read_text) return {std::string()};
      return {ToUtf8(Areas().memo.read_text(area, block), page)};
    }
    case 'L': {
      const char c = raw.empty() ? ' ' : raw[0];
      if (std::string_view("TtYy").find(c) != std::string_view::npos) return {"true", true};
      if (std::string_view("FfNn").find(c) != std::string_view::npos) return {"false", true};
      return {};
    }
    case 'D': {
      const std::string_view d = Trim(raw);
      if (d.empty()) return {};
      if (d.size() != 8) return {std::string(d)};
      return {std::string(d.substr(0, 4)) + "-" + std::string(d.substr(4, 2)) + "-" + std::string(d.substr(6, 2))};
    }
    default: {
      const std::string_view t = Trim(raw);
      if (t.empty()) return {};
      return {ToUtf8(t, page), IsJsonNumber(t)};
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

void WriteHeader(const WorkArea& area, const DumpOptions& options, CodePage page, std::ostream& out) {
  if (options.format != DumpFormat::kCsv) return;
  std::string line = options.deleted ? "_deleted" : "";
  for (const FieldEntry& f : area.table.fields) {
    if (!line.empty()) line += ',';
    line += CsvField(ToUtf8(f.name, page));
  }
  out << line << "\r\n";
}

void WriteRecord(WorkArea& area, const DumpOptions& options, CodePage page, std::vector<std::string>& names,
                 std::ostream& out) {
  const bool csv = options.format == DumpFormat::kCsv;
  std::string line = csv ? "" : "{";
  bool first = true;
  auto put = [&](size_t i, const Value& v) {
    if (!first) line += ',';
    first = false;
    if (csv) {
      if (v.text) line += CsvField(*v.text);
      return;
    }
    line += names[i];
    line += ':';
    line += !v.text ? std::string("null") : v.bare ? *v.text : JsonString(*v.text);
  };
  if (options.deleted) put(0, {area.table.record[0] == '*' ? "true" : "false", true});
  for (int n = 1; n <= static_cast<int>(area.table.fields.size()); ++n) {
    put(static_cast<size_t>(n), FieldValue(area, n, page));
  }
  out << line << (csv ? "\r\n" : "}\n");
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
  std::vector<std::string> names{JsonString("_deleted")};
  for (const FieldEntry& f : area.table.fields) names.push_back(JsonString(ToUtf8(f.name, page)));
  WriteHeader(area, options, page, out);
  Progress progress("dump", RecCount(), options.quiet);
  int64_t written = 0;
  for (GoTop(); !dEOF(); SKIP()) {
    WriteRecord(area, options, page, names, out);
    // In tag order the record numbers jump about; the count written does not.
    progress.Update(options.order_tag.empty() ? RecNo() : ++written);
  }
}

}  // namespace ov::cli
