// Internals of the expression compiler shared by the scanner, the
// generated parser and the semantic actions.
//
// One `Compilation` is active while AssignExpr runs. The scanner reads
// its text and keeps the compile-time accounting in it; the semantic
// actions emit into the expression under construction. Neither reports:
// the first failure is kept as `reason` (with the scan position) and the
// parse is abandoned, so AssignExpr can release everything before it
// reports.
//
// Single-threaded, process-wide state; not re-entrant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <unordered_map>

#include "engine/expr/expr_types.h"

namespace ov {

// The semantic value of a grammar symbol. `type` is the data type code of
// the symbol; the other members carry what a token brings along.
struct ExprValue {
  int32_t type = 0;
  int32_t token = 0;           // field tokens: the field opcode (321..330)
  int32_t field = 0;           // field tokens: 1-based field number
  int32_t area = 0;            // aliased field tokens: work-area number
  double number = 0;           // number literal
  const char* text = nullptr;  // string literal, in the literal store
};

// Decimals accumulator value meaning "no numeric field seen yet".
inline constexpr uint8_t kDecimalsUnset = 19;
// The scanner reads at most this many characters of the text.
inline constexpr size_t kScanLimit = 255;
// The literal store holds at most this many bytes, terminators included.
inline constexpr size_t kLiteralLimit = 511;

struct Compilation {
  std::string text;       // the expression as given
  size_t pos = 0;         // scan position: characters of `text` consumed
  size_t end = 0;         // where scanning stops (limit, NUL or end of text)
  bool overlong = false;  // more than blanks follow the scan limit
  CompiledExpr* expr = nullptr;
  uint32_t buffer_size = 0;
  uint16_t last_length = 0;
  uint8_t decimals = kDecimalsUnset;
  char final_type = 0;  // set by the accepting rule
  std::string reason;   // first failure, "" while none
  size_t error_pos = 0;
};

// The expression engine's process-wide state, kept in the engine state:
// start-up and shutdown give a fresh one (compiled expressions not freed
// by then are released with it).
struct ExprState {
  using Registry = std::unordered_map<const CompiledExpr*, std::unique_ptr<CompiledExpr>>;
  Compilation compiling;            // the active compilation
  uint16_t memo_width = 0;          // width given to memo results
  CompiledExpr* current = nullptr;  // the expression EvaluateCurrent runs
  Registry compiled;                // every live compiled expression
};
ExprState& ExprEngine();

// The active compilation.
Compilation& Compiling();

// Records the first failure of the compilation at the scan position.
void FailCompile(const std::string& reason);

// Runs the semantic action of grammar rule `rule` (the numbering of the
// grammar file) on the values of the rule's right-hand side; `out` starts
// as the value of the first symbol. False after recording a failure.
bool Reduce(int rule, ExprValue& out, std::initializer_list<ExprValue> rhs);

// Runs the generated parser over the active compilation: 0 accepted,
// 1 failed, 2 parser stack overflow.
int RunParser();

}  // namespace ov
