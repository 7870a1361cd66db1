// Integrity check of a table file, for tests, fuzzers and tools.
//
// The check opens the file by name, read-only and shared, through the
// platform layer, so it works on any table: one open in a work area, one a
// crash left behind, one built by hand. It never changes the file, the
// engine's error state or its settings, and every loop is bounded by the
// file's size.
//
// A sound table has:
//   - a header the engine opens, whose record count matches the records
//     the file holds;
//   - after the last record nothing, or one 0x1A end-of-file byte;
//   - a deletion flag of " " or "*" on every record;
//   - field texts their type can hold: N/F a number, blanks or asterisks
//     (an overflow); D eight digits of a real date, or blanks; L one of
//     "TtFfYyNn? "; M a block number or blanks. Other types hold anything.
//
// Single-threaded, process-wide state (the engine's table settings decide
// which version bytes open).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/dbf/ovdbflow.h"

namespace ov {

enum class FindingKind : uint8_t {
  kUnreadable,     // the file cannot be opened or read as a table
  kRecordCount,    // header count against the records the file holds
  kPartialRecord,  // bytes of an incomplete record after the last one
  kEndOfFile,      // a 0x1A where a record is, or another byte after the last
  kFlag,           // a deletion flag other than " " and "*"
  kFieldText,      // a field text its type cannot hold
  kMemoOutside,    // a memo reference past the memo file's end or into its header
  kMemoMalformed,  // a memo without the block header or end its kind needs
  kMemoShared,     // two memos on one block
  kFreeChain,      // the free chain loops, descends, leaves the file or overlaps a memo
  kIndexTree,      // an index node out of order, shared, empty, out of the file or too deep
  kIndexKeys,      // an index entry without its record's key, or a record's key missing
  kTooMany,        // findings stopped being listed
};

// One fault. `where` is a record number for table findings, a block number
// for memo and index tree findings, 0 for the file as a whole.
struct CheckFinding {
  FindingKind what = FindingKind::kUnreadable;
  int64_t where = 0;
  std::string text;
};

// A table's file and what its header says, for the table and memo checks.
struct CheckedTable {
  DbfFile dbf;  // opened read-only; record_count as the header has it
  uint64_t file_size = 0;
  int64_t whole_records = 0;  // complete records the file holds
};

// Lists at most this many findings, then one kTooMany.
inline constexpr size_t kMaxFindings = 200;

// Opens `path` for checking; false with a kUnreadable finding added when the
// engine cannot open it.
bool OpenCheckedTable(const std::string& path, CheckedTable& table, std::vector<CheckFinding>& findings);

// Calls `visit` with each record the file holds, up to the header's count,
// in order, until it answers false. A failed read adds kUnreadable.
void ForEachRecord(CheckedTable& table, const std::function<bool(int64_t n, const char* record)>& visit,
                   std::vector<CheckFinding>& findings);

// Adds a finding unless kMaxFindings are listed already; false once full.
bool AddFinding(std::vector<CheckFinding>& findings, FindingKind what, int64_t where, std::string text);

// The findings of the table file `path` (default extension "DBF"); empty
// when it is sound.
std::vector<CheckFinding> CheckTable(const std::string& path);

// Mends what needs no guessing at the end of table `path`, under the same
// lock as the engine's own writers: the header count when the file holds
// whole records beyond it, and the end-of-file byte after the last record.
// A partial last record, or a count above the records there are, is left
// for the check to report. Answers one line per change; a failure adds a
// line with the engine's error text.
std::vector<std::string> RepairTable(const std::string& path);

// One line per finding ("record 3: ..."), for tools and test messages.
std::string FindingLine(const CheckFinding& finding);
std::string FindingLines(const std::vector<CheckFinding>& findings);

}  // namespace ov
