// The expression scanner: characters of the active compilation's text to
// tokens of the grammar, with field lookup and compile-time accounting.
//
// Outside quoted strings the text is read in upper case. A name is a
// field of the current work area (or, written "alias->name", of the
// caller area 1..32 with that alias) unless "(" follows it; otherwise it
// is looked up in the keyword table, and an unknown name yields the
// "$EOT$" token, which no rule accepts. Each token adjusts the buffer
// size, last field length and decimals accumulators of the compilation.
//
// Single-threaded, process-wide state (the active compilation).
#pragma once

#include "engine/expr/compile_state.h"

namespace ov {

// Prepares the active compilation for scanning `text` into `expr`.
void StartScan(const std::string& text, CompiledExpr& expr);

// The next token and its value; 0 at the end of the input.
int NextToken(ExprValue& value);

}  // namespace ov
