// Open indexes: one index file per work area, its tags, the active order,
// and navigation in that order (first, last, next, prior, Find).
//
// Each open tag keeps its own descent path, the nodes from the root to its
// current leaf entry with the position in each, so steps never re-read the
// tree from the top and tags never disturb each other. A move the index did
// not make (GO, a Find elsewhere, an order change) re-seeks the current
// record's key before the next step.
//
// Nodes are checked as they are read: a count that does not fit the block,
// a child pointer to block 0 or past the end of the file, or a descent
// deeper than kMaxDepth (a cycle) is reported (254 for block 0, else 222),
// never walked; a read error is reported with its own code. The navigation
// slots report through the engine's error state: a damaged tree is never a
// silent end of the order.
//
// In natural order (Set_Order_To(0)) the tags stay open and the slots fall
// back to record order.
//
// Every open tag is maintained on Append and Replace (ovndx_update.cpp),
// in natural order too.
//
// Single-threaded, process-wide state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ov {

// Descents deeper than this are taken for a cycle in a damaged file.
inline constexpr int kMaxDepth = 32;

// Fills the index slots of the work-area layer and the open-index side of
// the index engine. StartEngine calls it.
void IndexInit();

// Opens the index file `name` on the current area (empty: the table's own
// ".MDX"; no extension: ".MDX" added; no directory: the table's). Tag 1
// becomes the active order and the area moves to its first visible record.
bool SetIndexTo(const std::string& name);
// Closes every tag of the current area's index.
void CloseIndexes();

// Selects tag n (its number in the tag table) as the active order; 0 is
// natural order.
void Set_Order_To(int n);
// Selects the first tag whose name begins with `name` (cut to 10, upper
// case); an empty name selects natural order.
bool SetOrderToTag(const std::string& name);
// The active tag's number; 0 in natural order or without an index.
int CurrentOrder();
// The active tag's name; "" in natural order or without an index.
std::string CurrentTagName();

// Searches the active tag for `text`; on success the area stands on the
// first visible record whose key begins with it (FindExact: equals it),
// else past the end. Answers the found flag.
bool Find(const std::string& text);
bool FindExact(const std::string& text);
// The found flag of the last Find or step.
bool Found();

// Re-positions every tag of the current area on the current record;
// reports 212 when a record that belongs in a tag is not found in it.
void SyncIndex();

// The tag list of an index file, two lines per tag: name, ",T," or ",F,"
// (descending), "T," or "F," (unique) and the key; then the FOR expression
// (empty when none). Empty after a report.
std::vector<std::string> IndexTagList(const std::string& name);

}  // namespace ov
