// What the command-line tools say about a table: its description (as text
// or JSON), the integrity check of table, memo file and production index,
// and the repairs that need no guessing.
#pragma once

#include <ostream>
#include <string>

#include "engine/dbf/ovdbflow.h"

namespace ov::cli {

// Describes an open table and the tags of its production index.
void PrintInfo(const DbfFile& dbf, std::ostream& out);
void PrintInfoJson(const DbfFile& dbf, std::ostream& out);

// One line per finding on stdout; answers 1 when there are any, else 0.
int Check(const std::string& path);
// Mends what needs no guessing, one "repaired: " line per change, then
// checks; answers Check's status.
int Repair(const std::string& path);

}  // namespace ov::cli
