// Sequential search on the current work area and direct field access.
//
// `Locate` scans the table in record-number order for the first record
// whose field matches the search text; `Continue` resumes after the last
// hit. The scan ignores the index order, hide-deleted, filter and FOR
// condition; `LocateValue` and `LocateFields` (the dataset's forms) skip
// hits that are not visible. Without a hit the area ends on the phantom
// record with at-end set and the active search is cleared.
//
// Matching of a non-memo field's stored text against the search text:
//   default    prefix: the field text cut to the search text's length
//   EXACT      the whole field: equal to the search text once trailing
//              blanks are set aside on both sides
//   CONTAINED  the field text contains the search text
//   NOCASE     both sides upper-cased first
// A memo field is searched line by line for the search text.
//
// `Peek` and `Poke` read and write a field's bytes as stored, bypassing
// the typed record, character-set conversion, indexes and the header.
// `Peek` may serve reads from one process-wide block of raw records (the
// Peek cache, sized by `PeekCacheSize`; 0 = no cache). Edits through
// `Replace`, `DeleteRec`, `RecallRec` and `Poke` keep that block current;
// other processes' writes are not seen while a record stays cached.
//
// Single-threaded, process-wide state.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "engine/dbf/dbf4.h"

namespace ov {

// The Peek cache: consecutive raw records of one table, as stored.
struct PeekCache {
  std::string alias;  // empty = no cache
  std::string path;
  int32_t first = 0;  // record number of the first cached record
  int32_t count = 0;
  uint16_t record_length = 0;
  std::vector<char> bytes;
};

// The engine-wide search state (one per process, not per area).
struct SearchState {
  std::string text;  // the search text
  int field = 0;     // field of the active search; 0 = none
  bool case_sensitive = true;
  bool exact = false;
  bool contained = false;
  uint16_t PeekCacheSize = 0;  // wanted cache size in bytes; 0 = no cache
  PeekCache cache;
};

// The search state of the work areas; start-up gives a fresh one.
SearchState& Search();
// Drops the Peek cache when it belongs to the alias (closing its area).
void DropPeekCacheFor(const std::string& alias);
// Copies record n of the area from the file into the Peek cache when the
// cache holds it (after an edit); a failed read drops the cache.
void RefreshPeekCacheRecord(const WorkArea& area, int32_t n);

// A value to search for: nothing, text, a number (a Julian day number for
// date fields) or a logical.
using SearchValue = std::variant<std::monostate, std::string, double, bool>;

// Parses "name [NOCASE] [EXACT] [CONTAINED]", sets the switches and
// answers the field number; 0 after a report.
int LocateField(const std::string& argument);
// Scans from record `start` (1 = a new search with Search().text).
void Locate(int32_t start, int field);
// Resumes the active search after the current record.
void Continue();
// Locates the first visible record whose field holds `value`.
bool LocateValue(const std::string& field_name, const SearchValue& value, bool nocase, bool exact);
// Names separated by ";", paired with `values` in order (one value per
// name); the first visible record where every field matches is the hit.
// Without `move`, or when nothing is found, the area returns to the record
// it stood on.
bool LocateFields(const std::string& names, const std::vector<SearchValue>& values, bool nocase, bool exact, bool move);

// The stored bytes of field `field` (0 = the deletion flag) of record n;
// "" when either is out of range.
std::string Peek(int field, int32_t n);
// Writes stored text into field `field` of record n (the flag for 0).
void Poke(const std::string& text, int field, int32_t n);

}  // namespace ov
