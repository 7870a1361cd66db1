// Text for the command-line tool's output: a table's bytes in its code
// page to UTF-8 and back, and the quoting of CSV and JSON.
#pragma once

#include <string>
#include <string_view>

#include "engine/dbf/ovdbflow.h"

namespace ov::cli {

enum class CodePage { kOem437, kAnsi1252 };

// The code page a table's text is in: the language byte or the level-7
// driver name when they name the Windows page, code page 437 otherwise
// (the page this engine writes by default).
CodePage TableCodePage(const DbfFile& dbf);

std::string ToUtf8(std::string_view bytes, CodePage page);
// UTF-8 text to the page's bytes; characters the page lacks become "?".
std::string FromUtf8(std::string_view text, CodePage page);

// One CSV field (RFC 4180): quoted when it holds a comma, quote or line break.
std::string CsvField(std::string_view text);
// A JSON string literal, quotes included.
std::string JsonString(std::string_view text);

// Appending forms, for output built record by record in one buffer.
void AppendToUtf8(std::string& out, std::string_view bytes, CodePage page);
// `bytes` as UTF-8: themselves when they are ASCII, else their conversion
// in `scratch`.
std::string_view AsUtf8(std::string_view bytes, CodePage page, std::string& scratch);
void AppendCsvField(std::string& out, std::string_view text);
void AppendJsonString(std::string& out, std::string_view text);
// A SQL string literal ('it''s') or a quoted identifier ("a""b"). A line
// break CR LF becomes CR '||' LF, so no line of the script ends in CR.
void AppendSqlQuoted(std::string& out, std::string_view text, char quote);
// A value of the COPY text format: backslash, tab, line feed and carriage
// return as backslash escapes.
void AppendCopyText(std::string& out, std::string_view text);

}  // namespace ov::cli
