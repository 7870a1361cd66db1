// The expression compiler: dBASE expression text to postfix code.
//
// `AssignExpr` scans and parses the text against the current work area
// (field names of that area, aliased fields of areas 1..32), checks the
// operand types as it reduces, and emits a `CompiledExpr` (expr_types.h)
// with its result type, length, decimals and result buffer. Every
// compiled expression is kept in a process-wide registry until `FreeExpr`.
//
// Code layout (see expr_types.h): constants are opcode-0 items; a field
// read is the field number (1-based, in the field list of its area) and,
// for an aliased field, the work-area number, both as L-typed constants,
// then the field opcode (321..330) with argument count 1 or 2. String
// constants point into `literals`, which never moves. The result buffer
// is allocated with `buffer_size` bytes (none when it is 0); `result`
// points at its start for C and M results and is left to the evaluator
// for N, D and L results.
//
// Failures are reported through ReportError: 351 for syntax and type
// errors ("Error in expression : " + reason + a window of the source),
// 217 for memory. With ImmediateErrors on the report raises or halts at
// once; the compiler state is clean before it reports.
//
// Single-threaded, process-wide state; not re-entrant.
#pragma once

#include <cstdint>
#include <string>

#include "engine/expr/expr_types.h"

namespace ov {

// Compiles `text` and makes the result the evaluator's current
// expression; nullptr on failure (already reported). The result is the
// caller's until FreeExpr.
CompiledExpr* AssignExpr(const std::string& text);

// Releases an expression made by AssignExpr and clears the reference; a
// null reference or one not made here is ignored.
void FreeExpr(CompiledExpr*& expr);

// Whether `expr` is a live compiled expression of the registry.
bool IsLiveExpr(const CompiledExpr* expr);

// Trims trailing blanks and control characters from `text` (stored back)
// and tries it (without touching the current expression) as an index key (`is_key`) or a condition. Answers 0, the
// compile error, 359 (empty), 360 (key over 220 characters), 361 (key of
// type M or L) or 362 (condition not logical). DbfError is clear after.
int CheckExpression(std::string& text, bool is_key);

// Result buffer size given to memo-typed expressions; initially 0.
uint16_t& MemoWidth();

}  // namespace ov
