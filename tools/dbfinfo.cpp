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
#include <iostream>
#include <string>
#include <string_view>

#include "engine/dbf/ovdbflow.h"
#include "engine/engine.h"
#include "engine/support/ovcommon.h"
#include "tools/ovdbf_info.h"
#include "tools/ovdbf_repair.h"

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
  cli::PrintInfo(dbf, std::cout);
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

int Usage() {
  std::cerr << "usage: dbfinfo FILE [--check [--repair]]\n       dbfinfo --create-demo FILE\n";
  return 1;
}

int Run(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) != "--create-demo") return Describe(argv[1]);
  if (argc == 3 && std::string_view(argv[1]) == "--create-demo") return CreateDemo(argv[2]);
  if (argc == 3 && std::string_view(argv[2]) == "--check") return cli::Check(argv[1]);
  if (argc == 4 && std::string_view(argv[2]) == "--check" && std::string_view(argv[3]) == "--repair") {
    return cli::Repair(argv[1]);
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
