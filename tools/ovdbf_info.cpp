#include "tools/ovdbf_info.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string_view>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf_check.h"
#include "engine/index/index_check.h"
#include "engine/index/mdx_walk.h"
#include "engine/index/ovndx.h"
#include "engine/index/umakemdx.h"
#include "engine/memo/memo.h"
#include "engine/memo/memo_area.h"
#include "engine/memo/memo_check.h"
#include "engine/memo/memo_create.h"
#include "engine/support/codepage.h"
#include "engine/support/ovcommon.h"
#include "tools/ovdbf_text.h"

namespace ov::cli {
namespace {

const char* LayoutName(DbfLayout layout) {
  switch (layout) {
    case DbfLayout::kDbase2: return "dBASE II";
    case DbfLayout::kLevel7: return "level 7";
    case DbfLayout::kDbase3: break;
  }
  return "dBASE III/IV";
}

std::string HexByte(uint8_t value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", static_cast<unsigned>(value));
  return buf;
}

// "YYYYMMDD" -> "YYYY-MM-DD"; anything else is shown as it is.
std::string FormatDate(const std::string& yyyymmdd) {
  if (yyyymmdd.size() != 8) return yyyymmdd;
  return yyyymmdd.substr(0, 4) + "-" + yyyymmdd.substr(4, 2) + "-" + yyyymmdd.substr(6, 2);
}

std::string LowerName(std::string name) {
  for (char& c : name) c = static_cast<char>(LowerAnsi(static_cast<uint8_t>(c)));
  return name;
}

// The production index beside the table: its file name ("" when there is
// none), its tags, and what made it unreadable.
struct IndexSummary {
  std::string file;
  std::vector<TagSummary> tags;
  bool readable = true;
  std::string error;
};

IndexSummary ReadProductionIndex(const std::string& table_path) {
  IndexSummary index;
  const std::string mdx = ResolveName(ForceExt(table_path, "MDX"));
  if (!FileExistsResolved(mdx)) return index;
  index.file = BareName(mdx);
  index.readable = ReadIndexSummary(mdx, index.tags, index.error);
  return index;
}

// The memo file beside a table with memo fields: its name, its kind and
// block size, or that it is missing.
struct MemoSummary {
  std::string file;  // empty: the table has no memo fields
  bool missing = false;
  std::string kind;
  uint16_t block_size = 0;
};

MemoSummary ReadMemoSummary(const DbfFile& dbf) {
  MemoSummary memo;
  const bool memo_fields = std::ranges::any_of(
      dbf.fields, [](const FieldEntry& f) { return std::string_view("MBGP").find(f.type) != std::string_view::npos; });
  if (!dbf.has_memo && !memo_fields) return memo;
  const std::string ext = MemoExtension(dbf.version());
  const std::string path = ResolveName(ForceExt(dbf.path, ExtInCaseOf(dbf.path, ext)));
  memo.file = BareName(path);
  memo.missing = !FileExistsResolved(path);
  if (memo.missing) return memo;
  const MemoKind kind = ext == "FPT" ? MemoKind::kFox : MemoKindOf(dbf.version());
  memo.kind = kind == MemoKind::kFox      ? "FPT"
              : kind == MemoKind::kDbase3 ? "DBT dBASE III"
              : kind == MemoKind::kLevel7 ? "DBT level 7"
                                          : "DBT dBASE IV";
  memo.block_size = MemoFileBlockSize(path, kind);
  return memo;
}

const char* YesNo(bool b) { return b ? "yes" : "no"; }
const char* TrueFalse(bool b) { return b ? "true" : "false"; }
std::string KeyType(const mdx::TagHeader& h) { return h.key_type != 0 ? std::string(1, h.key_type) : "?"; }

}  // namespace

void PrintInfo(const DbfFile& dbf, std::ostream& out) {
  out << "version: " << HexByte(dbf.version()) << "\n"
      << "layout: " << LayoutName(dbf.layout) << "\n"
      << "last update: " << FormatDate(dbf.last_update) << "\n"
      << "records: " << dbf.record_count << "\n"
      << "header length: " << dbf.header_length << "\n"
      << "record length: " << dbf.record_length << "\n"
      << "fields: " << dbf.fields.size() << "\n";
  for (const FieldEntry& f : dbf.fields) {
    out << LowerName(f.name) << ", " << f.type << ", " << static_cast<int>(f.length) << ", "
        << static_cast<int>(f.decimals) << "\n";
  }
  if (const MemoSummary memo = ReadMemoSummary(dbf); !memo.file.empty()) {
    out << "memo: " << memo.file << "; ";
    if (memo.missing) {
      out << "missing\n";
    } else {
      out << "kind " << memo.kind << "; block size " << memo.block_size << "\n";
    }
  }
  const IndexSummary index = ReadProductionIndex(dbf.path);
  if (index.file.empty()) return;
  out << "index: " << index.file << "\n";
  if (!index.readable) {
    out << "  unreadable: " << index.error << "\n";
    return;
  }
  for (const TagSummary& t : index.tags) {
    const mdx::TagHeader& h = t.header;
    out << "tag " << t.slot.name << ": key " << h.key_expr << "; for " << (h.for_expr.empty() ? "-" : h.for_expr)
        << "; type " << KeyType(h) << "; length " << h.key_length << "; unique " << YesNo(h.unique)
        << "; descending " << YesNo(h.descending) << "; keys " << t.keys << "; height " << t.height;
    if (!t.error.empty()) out << "; damaged: " << t.error;
    out << "\n";
  }
}

void PrintInfoJson(const DbfFile& dbf, std::ostream& out) {
  const CodePage page = TableCodePage(dbf);
  out << "{\"version\":" << JsonString(HexByte(dbf.version())) << ",\"layout\":" << JsonString(LayoutName(dbf.layout))
      << ",\"last_update\":" << JsonString(FormatDate(dbf.last_update)) << ",\"records\":" << dbf.record_count
      << ",\"header_length\":" << dbf.header_length << ",\"record_length\":" << dbf.record_length
      << ",\"code_page\":" << (page == CodePage::kOem437 ? 437 : 1252) << ",\"fields\":[";
  for (size_t i = 0; i < dbf.fields.size(); ++i) {
    const FieldEntry& f = dbf.fields[i];
    out << (i ? "," : "") << "{\"name\":" << JsonString(ToUtf8(f.name, page)) << ",\"type\":"
        << JsonString(std::string(1, f.type)) << ",\"length\":" << static_cast<int>(f.length)
        << ",\"decimals\":" << static_cast<int>(f.decimals) << "}";
  }
  out << "]";
  if (const MemoSummary memo = ReadMemoSummary(dbf); !memo.file.empty()) {
    out << ",\"memo\":{\"file\":" << JsonString(memo.file);
    if (memo.missing) {
      out << ",\"missing\":true}";
    } else {
      out << ",\"kind\":" << JsonString(memo.kind) << ",\"block_size\":" << memo.block_size << "}";
    }
  }
  const IndexSummary index = ReadProductionIndex(dbf.path);
  if (!index.file.empty()) {
    out << ",\"index\":{\"file\":" << JsonString(index.file);
    if (!index.readable) out << ",\"error\":" << JsonString(index.error);
    out << ",\"tags\":[";
    for (size_t i = 0; i < index.tags.size(); ++i) {
      const TagSummary& t = index.tags[i];
      const mdx::TagHeader& h = t.header;
      out << (i ? "," : "") << "{\"name\":" << JsonString(t.slot.name) << ",\"key\":" << JsonString(h.key_expr)
          << ",\"for\":" << JsonString(h.for_expr) << ",\"type\":" << JsonString(KeyType(h))
          << ",\"length\":" << h.key_length << ",\"unique\":" << TrueFalse(h.unique)
          << ",\"descending\":" << TrueFalse(h.descending) << ",\"keys\":" << t.keys << ",\"height\":" << t.height;
      if (!t.error.empty()) out << ",\"damaged\":" << JsonString(t.error);
      out << "}";
    }
    out << "]}";
  }
  out << "}\n";
}

namespace {

// The production index's findings: the table opened shared, its index
// walked and compared with the records. Nothing when there is no index.
std::vector<CheckFinding> CheckProductionIndex(const std::string& path) {
  std::vector<CheckFinding> findings;
  if (!CurrentEnv()->Exists(IndexFileName(path, ""))) return findings;
  AreaConfig().MultiUser = true;
  try {
    USE(path);
    if (SetIndexTo("")) findings = CheckIndex();
  } catch (const EOrvelError& e) {
    AddFinding(findings, FindingKind::kUnreadable, 0, std::string("index: ") + e.what());
  }
  CloseArea();
  return findings;
}

}  // namespace

std::vector<CheckFinding> Findings(const std::string& path, uint32_t* unreachable) {
  std::vector<CheckFinding> findings = CheckTableAndMemo(path, unreachable);
  if (findings.empty()) findings = CheckProductionIndex(path);
  return findings;
}

// Unreachable memo blocks are lost space, not a fault: shown, not counted.
int Check(const std::string& path) {
  uint32_t unreachable = 0;
  const std::vector<CheckFinding> findings = Findings(path, &unreachable);
  std::cout << FindingLines(findings);
  if (unreachable != 0) std::cout << "unreachable memo blocks: " << unreachable << "\n";
  return findings.empty() ? 0 : 1;
}

}  // namespace ov::cli
