// Bulk copy into the current work area: AppendFrom.
//
// Every visible record of another table is appended to the table of the
// current area. Fields are matched by name; values are converted between
// types on the typed records of both areas:
//
//   destination  source       result
//   C            C            the text, cut to the destination length
//   C            N/F          the number at the destination length with the
//                             source's decimals; too long: all "*"
//   C            L            "T" or "F"
//   C            D            the date text, without its century digits when
//                             it does not fit otherwise, then cut
//   N/F          C            the text read as a number
//   N/F          N/F          the value, rounded into an integer form
//   L            L            copied (false from anything else)
//   D            D            copied
//   D            C            the text when it is a valid date, else empty
//   M            C            a new memo holding the text
//   M            M            a copy of the source memo
//   other pairs               the destination field stays blank
//
// Tables of identical structure are copied typed record for typed record;
// their memos travel through the memo store's copy slot.
//
// Single-threaded, process-wide state.
#pragma once

#include <functional>
#include <string>

namespace ov {

// Appends the records of `source` to the current area. `source` is a table
// file (default extension "DBF"), opened for the command in the engine's
// area 35 unless some area 1..33 holds it already; then that area is read
// from its current record when `progress` is given or it has a WHILE
// condition, and `progress` is asked before every record (false stops).
// Afterwards the destination is the current area again; DbfError holds the
// code that stopped the copy (0 when all went through).
void AppendFrom(const std::string& source, std::function<bool()> progress = nullptr);

}  // namespace ov
