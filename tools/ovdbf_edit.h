// The tool's commands that write tables: create, index, reindex, pack and
// restructure. Each writes all or nothing: a new table is built beside the
// old one and put in its place at the end (the old set kept as "~BF",
// "~BT", "~DX" backups); an index is built into a scratch file that
// replaces the old one whole. Failures throw Refused.
#pragma once

#include <string>
#include <string_view>

#include "tools/ovdbf_rebuild.h"

namespace ov::cli {

inline constexpr std::string_view kCreateHelp =
    "create --field SPEC... [--level 3|4|7] FILE\n"
    "  A new empty table (refused when FILE exists); a memo file comes with an M field.\n"
    "  --field SPEC  \"name,type,length,decimals\" (C, N, F, D, L, M; D, L, M need no length)\n"
    "  --level       3, 4 (default) or 7\n";
inline constexpr std::string_view kIndexHelp =
    "index --tag NAME --key EXPR [--for EXPR] [--unique] [--descending] [--quiet] FILE\n"
    "  Adds a tag to the production index, which is made when missing.\n";
inline constexpr std::string_view kReindexHelp =
    "reindex [--quiet] FILE...\n  Rebuilds every tag of the production index.\n";
inline constexpr std::string_view kPackHelp =
    "pack [--quiet] FILE...\n"
    "  Rewrites the table without its deleted records and its memo file without dead space,\n"
    "  rebuilds the production index; the old files stay as FILE.~BF, .~BT, .~DX.\n";
inline constexpr std::string_view kRestructureHelp =
    "restructure [--set SPEC] [--add SPEC] [--drop FIELD] [--rename OLD=NEW] [--quiet] FILE\n"
    "  A new table of the changed structure, every record (deleted ones too) and memo copied,\n"
    "  values converted where a type changes; the production index rebuilt; the old files\n"
    "  stay as FILE.~BF, .~BT, .~DX. Each option may be repeated; FIELD names are the\n"
    "  current ones.\n"
    "  --set SPEC         a field's new type, length and decimals (\"name,C,40,0\")\n"
    "  --add SPEC         a new field at the end\n"
    "  --drop FIELD       a field removed\n"
    "  --rename OLD=NEW   a field renamed, its values kept\n"
    "  A tag whose key or condition no longer compiles is left out, with a message.\n";

int Create(const std::string& file, const OptionValues& options);
int AddTag(const std::string& file, const OptionValues& options);
int ReindexTable(const std::string& file, const OptionValues& options);
int Pack(const std::string& file, const OptionValues& options);
int Restructure(const std::string& file, const OptionValues& options);

}  // namespace ov::cli
