// The records of a table as CSV (RFC 4180, header line), JSON Lines, SQL
// (CREATE TABLE and INSERTs that PostgreSQL and SQLite both run) or a
// PostgreSQL COPY block, in UTF-8, read through a shared work area.
#pragma once

#include <ostream>
#include <string>

namespace ov::cli {

enum class DumpFormat { kCsv, kJsonLines, kSql, kCopy };

struct DumpOptions {
  DumpFormat format = DumpFormat::kCsv;
  bool deleted = false;   // include deleted records, with a marker column
  std::string for_expr;   // UTF-8; empty: every record
  std::string order_tag;  // empty: natural order
  bool quiet = false;     // no progress bar even on a terminal
  std::string table;      // SQL and COPY: the table's name; empty: the file's stem in lower case
};

// A request the table cannot serve (no such tag, a condition that does not
// compile): a usage error rather than a fault of the file.
struct DumpRefused {
  std::string message;
};

// Writes the records of `path` to `out`. Throws DumpRefused, or the
// engine's error for a file it cannot read.
void Dump(const std::string& path, const DumpOptions& options, std::ostream& out);

}  // namespace ov::cli
