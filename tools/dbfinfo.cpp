// dbfinfo: prints the header and field list of a table file.
//
//   dbfinfo FILE                 describe FILE (opened read-only, shared)
//                                and the tags of its production index
//   dbfinfo FILE --check         check FILE, its memo file and (when they
//                                are sound) its production index: one line
//                                per finding, exit status 1 when there are any
//   dbfinfo FILE --check --repair
//                                first mend what needs no guessing (one
//                                "repaired: " line per change), then check;
//                                exit status 0 only when nothing is left
//   dbfinfo --create-demo FILE   create the demo table FILE if missing, then
//                                describe it
//
// A file the engine refuses prints the engine's error text on stderr and
// ends with the error code (clamped to 1..255) as exit status.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dbf/dbf_check.h"
#include "engine/dbf/ovdbflow.h"
#include "engine/engine.h"
#include "engine/index/index_check.h"
#include "engine/index/mdx_walk.h"
#include "engine/index/ovndx.h"
#include "engine/index/umakemdx.h"
#include "engine/memo/memo_area.h"
#include "engine/memo/memo_check.h"
#include "engine/support/codepage.h"
#include "engine/support/ovcommon.h"

namespace ov {
namespace {

const std::array<FieldDef, 8> kDemoFields = {{
    {"title", 'C', 20, 0},
    {"year", 'N', 4, 0},
    {"color", 'L', 1, 0},
    {"runtime", 'N', 3, 0},
    {"stars", 'C', 50, 0},
    {"director", 'C', 20, 0},
    {"plot", 'M', 10, 0},
    {"premiere", 'D', 10, 0},
}};

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

void PrintInfo(const DbfFile& dbf) {
  std::cout << "version: " << HexByte(dbf.version()) << "\n"
            << "layout: " << LayoutName(dbf.layout) << "\n"
            << "last update: " << FormatDate(dbf.last_update) << "\n"
            << "records: " << dbf.record_count << "\n"
            << "header length: " << dbf.header_length << "\n"
            << "record length: " << dbf.record_length << "\n"
            << "fields: " << dbf.fields.size() << "\n";
  for (const FieldEntry& f : dbf.fields) {
    std::cout << LowerName(f.name) << ", " << f.type << ", " << static_cast<int>(f.length) << ", "
              << static_cast<int>(f.decimals) << "\n";
  }
}

// The production index beside the table, one line per tag.
void PrintIndex(const std::string& table_path) {
  const std::string mdx = ResolveName(ForceExt(table_path, "MDX"));
  if (!FileExistsResolved(mdx)) return;
  std::vector<TagSummary> tags;
  std::string error;
  std::cout << "index: " << BareName(mdx) << "\n";
  if (!ReadIndexSummary(mdx, tags, error)) {
    std::cout << "  unreadable: " << error << "\n";
    return;
  }
  auto yes_no = [](bool b) { return b ? "yes" : "no"; };
  for (const TagSummary& t : tags) {
    const mdx::TagHeader& h = t.header;
    std::cout << "tag " << t.slot.name << ": key " << h.key_expr << "; for " << (h.for_expr.empty() ? "-" : h.for_expr)
              << "; type " << (h.key_type != 0 ? std::string(1, h.key_type) : "?") << "; length " << h.key_length
              << "; unique " << yes_no(h.unique) << "; descending " << yes_no(h.descending) << "; keys " << t.keys
              << "; height " << t.height;
    if (!t.error.empty()) std::cout << "; damaged: " << t.error;
    std::cout << "\n";
  }
}

// Prints the pending report the way the error handler would show it and
// answers the exit status for it.
int ReportFailure() {
  const uint16_t code = Errors().DbfError;
  std::string text = ErrorText();  // table text CR LF context
  const size_t eol = text.find("\r\n");
  const std::string context = eol == std::string::npos ? std::string() : text.substr(eol + 2);
  std::cout.flush();
  std::cerr << ErrorDescription(code) << "\r\n" << context << "\n";
  return std::clamp<int>(code, 1, 255);
}

int Describe(const std::string& path) {
  QuietErrors quiet;
  DbfFile dbf;
  dbf.path = path;
  dbf.open_mode = fmode::kRead | fmode::kDenyNone;
  Errors().DbfError = 0;
  OpenDbf(dbf);
  if (Errors().DbfError != 0) return ReportFailure();
  PrintInfo(dbf);
  PrintIndex(dbf.path);
  CloseDbf(dbf);
  return Errors().DbfError != 0 ? ReportFailure() : 0;
}

int CreateDemo(const std::string& path) {
  if (!FileExistsResolved(DefaultExt(path, "DBF"))) {
    QuietErrors quiet;
    Errors().DbfError = 0;
    DbfFile dbf;
    CreateDbf(dbf, path, kDemoFields);
    if (Errors().DbfError != 0) return ReportFailure();
  }
  return Describe(path);
}

// Unreachable memo blocks are lost space, not a fault: shown, not counted.
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

int Check(const std::string& path) {
  uint32_t unreachable = 0;
  std::vector<CheckFinding> findings = CheckTableAndMemo(path, &unreachable);
  if (findings.empty()) findings = CheckProductionIndex(path);
  std::cout << FindingLines(findings);
  if (unreachable != 0) std::cout << "unreachable memo blocks: " << unreachable << "\n";
  return findings.empty() ? 0 : 1;
}

// The memo side of a repair: blocks a killed writer left unreachable go
// back to the free chain.
std::vector<std::string> RepairMemo(const std::string& table_path) { return ReturnUnreachableMemoBlocks(table_path); }

int Repair(const std::string& path) {
  std::vector<std::string> changes = RepairTable(path);
  for (std::string& line : RepairMemo(path)) changes.push_back(std::move(line));
  for (const std::string& line : changes) std::cout << "repaired: " << line << "\n";
  return Check(path);
}

int Usage() {
  std::cerr << "usage: dbfinfo FILE [--check [--repair]]\n       dbfinfo --create-demo FILE\n";
  return 1;
}

int Run(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) != "--create-demo") return Describe(argv[1]);
  if (argc == 3 && std::string_view(argv[1]) == "--create-demo") return CreateDemo(argv[2]);
  if (argc == 3 && std::string_view(argv[2]) == "--check") return Check(argv[1]);
  if (argc == 4 && std::string_view(argv[2]) == "--check" && std::string_view(argv[3]) == "--repair") {
    return Repair(argv[1]);
  }
  return Usage();
}

}  // namespace
}  // namespace ov

int main(int argc, char** argv) {
  ov::StartEngine();
  int status = 1;
  try {
    status = ov::Run(argc, argv);
  } catch (const ov::EOrvelError& e) {
    // Index-style failures unwind even when reports are quiet.
    std::cerr << e.what() << "\n";
  }
  ov::StopEngine();
  return status;
}
