// What the command-line tools say about a table: its description (as text
// or JSON) and the integrity check of table, memo file and production
// index.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "engine/dbf/dbf_check.h"
#include "engine/dbf/ovdbflow.h"

namespace ov::cli {

// Describes an open table and the tags of its production index.
void PrintInfo(const DbfFile& dbf, std::ostream& out);
void PrintInfoJson(const DbfFile& dbf, std::ostream& out);

// The findings of table, memo file and production index; `unreachable`
// (may be null) receives the memo blocks nothing holds, which are lost
// space rather than a fault.
std::vector<CheckFinding> Findings(const std::string& path, uint32_t* unreachable);
// One line per finding on stdout; answers 1 when there are any, else 0.
int Check(const std::string& path);

}  // namespace ov::cli
