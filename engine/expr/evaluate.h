// The expression evaluator: runs the postfix code of a compiled expression
// against the current records of the work areas.
//
// Values live in the expression's own storage: the working stack is
// CompiledExpr::stack (nodes kept from one evaluation to the next, grown
// only when an evaluation goes deeper than any before) and string values
// live in the working pool, the result buffer used as a stack allocator.
// After the first evaluation nothing is allocated, except the lines of a
// memo field being read.
//
// Where the result is: for C and M the text at the start of the result
// buffer (NUL-terminated, at most 255 characters; longer string results
// are cut at 255); for N and D a double, for L a 32-bit Boolean, in the
// value slot of the bottom stack node. It stays valid until the next
// evaluation of the same expression or FreeExpr.
//
// Failures are reported with ReportError: 358 for a zero divisor ("/" and
// MOD; the evaluation goes on with 1e250), 354 when the pool is full, 356
// for a value of an unknown data type, 217 when the stack cannot grow.
// After 354, 356 or 217 the evaluation stops and the result is a neutral
// value of the result type (empty text, 0, false, the empty date).
//
// Single-threaded, process-wide state: the current expression and the
// string scratch area.
#pragma once

#include "engine/expr/expr_types.h"

namespace ov {

// Evaluates `expr` and makes it the current expression; nullptr for
// nullptr.
const void* Evaluate(CompiledExpr* expr);

// Evaluates the expression last made current (by Evaluate or
// SetCurrentExpr); nullptr when there is none or it has been freed.
const void* EvaluateCurrent();

// Makes `expr` the current expression without evaluating it (the
// compiler does so for each expression it makes).
void SetCurrentExpr(CompiledExpr* expr);

// Fills the expression slots of the work-area layer: compile (a condition
// must be of type L, else error 362) and evaluate_logical. The compiled
// condition is released through FreeExpr with its last owner.
void InstallExpressionHooks();

}  // namespace ov
