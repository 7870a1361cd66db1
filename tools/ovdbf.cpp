// ovdbf: the engine's table tools from the command line.
//
//   ovdbf COMMAND [OPTIONS] FILE...     ovdbf --help, ovdbf COMMAND --help
//
// Data goes to stdout, messages to stderr (one line: the file and what is
// wrong). Exit status: 0 success, 1 findings (a check found faults, the
// engine refused a table), 2 usage errors (unknown command or option, a
// missing file, a tag that does not exist, a condition that does not
// compile).
#include <algorithm>
#include <iostream>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/ovdbflow.h"
#include "engine/engine.h"
#include "engine/support/ovcommon.h"
#include "engine/support/platform.h"
#include "tools/ovdbf_dump.h"
#include "tools/ovdbf_edit.h"
#include "tools/ovdbf_import.h"
#include "tools/ovdbf_info.h"
#include "tools/ovdbf_repair.h"

namespace ov::cli {
namespace {

constexpr int kFindings = 1;
constexpr int kUsage = 2;

struct Args {
  std::map<std::string, std::string> options;  // "--name" -> value ("" for flags)
  OptionValues all;                            // "--name" -> every value given, in order
  std::vector<std::string> files;
};

struct Command {
  std::string_view name;
  std::string_view help;
  std::vector<std::string_view> flags;
  std::vector<std::string_view> valued;
  int (*run)(const std::string& file, const Args& args);
};

// The engine's report as one line.
std::string OneLine(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, ": ");
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

int Fail(const std::string& file, const std::string& problem, int status) {
  std::cout.flush();
  std::cerr << "ovdbf: " << file << ": " << OneLine(problem) << "\n";
  return status;
}

int Info(const std::string& file, const Args& args) {
  DbfFile dbf;
  dbf.path = file;
  dbf.open_mode = fmode::kRead | fmode::kDenyNone;
  OpenDbf(dbf);
  if (args.options.contains("--json")) {
    PrintInfoJson(dbf, std::cout);
  } else {
    PrintInfo(dbf, std::cout);
  }
  CloseDbf(dbf);
  return 0;
}

int CheckFile(const std::string& file, const Args&) { return Check(file); }
int RepairFile(const std::string& file, const Args&) { return Repair(file); }

int DumpFile(const std::string& file, const Args& args) {
  DumpOptions options;
  const auto option = [&](const char* name) {
    const auto it = args.options.find(name);
    return it == args.options.end() ? std::string() : it->second;
  };
  const std::string format = option("--format");
  if (format == "jsonl") {
    options.format = DumpFormat::kJsonLines;
  } else if (format == "sql" || format == "copy") {
    options.format = format == "sql" ? DumpFormat::kSql : DumpFormat::kCopy;
  } else if (!format.empty() && format != "csv") {
    return Fail(file, "unknown format " + format + " (csv, jsonl, sql or copy)", kUsage);
  }
  options.table = option("--table");
  options.deleted = args.options.contains("--deleted");
  options.for_expr = option("--for");
  options.order_tag = option("--order");
  options.quiet = args.options.contains("--quiet");
  try {
    Dump(file, options, std::cout);
  } catch (const DumpRefused& refused) {
    return Fail(file, refused.message, kUsage);
  }
  std::cout.flush();
  return 0;
}

template <int (*Edit)(const std::string&, const OptionValues&)>
int EditFile(const std::string& file, const Args& args) {
  return Edit(file, args.all);
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info",
       "info [--json] FILE...\n"
       "  Version, layout, last update, counts, fields, memo file (kind, block size), production index tags.\n",
       {"--json"}, {}, Info},
      {"check", "check FILE...\n  Checks table, memo file and production index; one line per finding.\n", {}, {},
       CheckFile},
      {"repair",
       "repair FILE...\n"
       "  Mends what needs no guessing (one \"repaired: \" line per change), then checks. All or nothing:\n"
       "  the repairs run on copies beside the files; only when every step succeeded do the copies\n"
       "  take the files' places. The former files are kept as NAME.~BF (table), NAME.~BT (memo\n"
       "  file) and NAME.~DX (index); nothing is written when nothing needs mending.\n",
       {}, {}, RepairFile},
      {"dump",
       "dump [--format csv|jsonl|sql|copy] [--table NAME] [--deleted] [--for EXPR] [--order TAG] [--quiet] FILE\n"
       "  Records in UTF-8: CSV with a header line (default), JSON Lines, SQL (CREATE TABLE and\n"
       "  INSERTs in one transaction, for PostgreSQL or SQLite) or a PostgreSQL COPY block after\n"
       "  its CREATE TABLE; memos as text. Blank numbers, dates and logicals are null.\n"
       "  --table NAME the SQL table's name (default: the file's name in lower case)\n"
       "  --deleted   include deleted records, with a first column \"_deleted\"\n"
       "  --for EXPR  only the records for which the expression is true\n"
       "  --order TAG in the order of a tag of the production index\n"
       "  --quiet     no progress bar on a terminal\n",
       {"--deleted", "--quiet"}, {"--format", "--table", "--for", "--order"}, DumpFile},
      {"create", kCreateHelp, {}, {"--field", "--level"}, EditFile<Create>},
      {"index", kIndexHelp, {"--unique", "--descending", "--quiet"}, {"--tag", "--key", "--for"}, EditFile<AddTag>},
      {"reindex", kReindexHelp, {"--quiet"}, {}, EditFile<ReindexTable>},
      {"pack", kPackHelp, {"--quiet"}, {}, EditFile<Pack>},
      {"restructure", kRestructureHelp, {"--quiet"}, {"--set", "--add", "--drop", "--rename"}, EditFile<Restructure>},
      {"import", kImportHelp, {"--quiet"}, {"--into", "--field"}, EditFile<Import>},
  };
  return commands;
}

void ProgramHelp(std::ostream& out) {
  out << "usage: ovdbf COMMAND [OPTIONS] FILE...\n"
         "exit status: 0 success, 1 findings, 2 usage errors\ncommands:\n";
  for (const Command& c : Commands()) out << "  " << c.help.substr(0, c.help.find('\n')) << "\n";
  out << "ovdbf COMMAND --help describes a command.\n";
}

int UsageError(const std::string& problem) {
  std::cerr << "ovdbf: " << problem << " (ovdbf --help)\n";
  return kUsage;
}

// Splits the arguments by the command's options; "" when they are sound,
// else what is wrong.
std::string ParseArgs(const Command& c, std::span<char*> argv, Args& args) {
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string arg = argv[i];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      args.files.push_back(arg);
    } else if (arg == "--help" || std::ranges::find(c.flags, arg) != c.flags.end()) {
      args.options[arg];
      args.all[arg].push_back("");
    } else if (std::ranges::find(c.valued, arg) != c.valued.end()) {
      if (i + 1 == argv.size()) return "option " + arg + " needs a value";
      args.all[arg].push_back(args.options[arg] = argv[++i]);
    } else {
      return "unknown option " + arg + " for " + std::string(c.name);
    }
  }
  if (args.options.contains("--help")) return "";
  if (args.files.empty()) return "no file given";
  if (c.name == "dump" && args.files.size() > 1) return "dump takes one file";
  return "";
}

int RunFile(const Command& c, const std::string& file, const Args& args) {
  const bool made = c.name == "create";
  if (!made && !FileExistsResolved(ResolveName(DefaultExt(file, "DBF")))) return Fail(file, "no such file", kUsage);
  try {
    return c.run(file, args);
  } catch (const Refused& r) {
    return Fail(r.subject.empty() ? file : r.subject, r.problem, r.status);
  } catch (const EOrvelError& e) {
    CloseAll();
    return Fail(file, e.what(), kFindings);
  }
}

int Run(std::span<char*> argv) {
  if (argv.empty()) return UsageError("no command");
  const std::string name = argv[0];
  if (name == "--help" || name == "-h") {
    ProgramHelp(std::cout);
    return 0;
  }
  const auto c = std::ranges::find(Commands(), name, &Command::name);
  if (c == Commands().end()) return UsageError("unknown command " + name);
  Args args;
  if (const std::string problem = ParseArgs(*c, argv.subspan(1), args); !problem.empty()) return UsageError(problem);
  if (args.options.contains("--help")) {
    std::cout << "usage: ovdbf " << c->help;
    return 0;
  }
  int status = 0;
  for (const std::string& file : args.files) status = std::max(status, RunFile(*c, file, args));
  return status;
}

}  // namespace
}  // namespace ov::cli

int main(int argc, char** argv) {
  ov::StartEngine();
  // Every report unwinds to the command, which names the file and the problem.
  ov::SetRaiseErrors(true);
  ov::SetImmediateErrors(true);
  int status = ov::cli::Run(std::span<char*>(argv + 1, static_cast<size_t>(argc - 1)));
  ov::StopEngine();
  return status;
}
