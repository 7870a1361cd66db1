// The tool's import command: CSV records (RFC 4180, UTF-8, a header line
// naming the fields) appended to an existing table, or to a new one made
// from --field specs. Every value is checked against its field before
// anything is written; the table is then replaced whole (the old files kept
// as backups), or left as it was on any error.
#pragma once

#include <string>
#include <string_view>

#include "tools/ovdbf_rebuild.h"

namespace ov::cli {

inline constexpr std::string_view kImportHelp =
    "import --into TABLE [--field SPEC...] [--quiet] FILE.csv\n"
    "  Appends the CSV records to TABLE, columns matched to fields by name; --field specs\n"
    "  (as for create) make TABLE when it does not exist. Values: N and F numbers that fit\n"
    "  the field's length and decimals, D as YYYY-MM-DD or YYYYMMDD, L as T, F, Y, N, true\n"
    "  or false, text in the table's code page; empty means blank. A column \"_deleted\"\n"
    "  (true or false) marks records deleted. An error names the CSV line and writes nothing.\n";

int Import(const std::string& csv, const OptionValues& options);

}  // namespace ov::cli
