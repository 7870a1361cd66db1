// Internal to the evaluator: the machine that runs one evaluation and the
// table of opcode handlers the evaluate*.cpp files fill.
//
// The machine works on the expression's own storage. Pushing a node
// reuses the next stack node and grows the stack only past its deepest
// use so far; a string push copies the text with its NUL to the pool top;
// popping a string sets the pool top back to the string. Once an error
// stops the evaluation (`failed`), pushes do nothing and pops answer
// neutral values, so handlers need no checks of their own. A string node
// keeps its length in the otherwise unused argument-count slot.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/expr/expr_types.h"
#include "engine/expr/snb.h"

namespace ov::eval_detail {

class Machine {
 public:
  explicit Machine(CompiledExpr& expr);
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Runs the code to its end item and answers the result pointer.
  const void* Run();

  void PushNumber(double value, int32_t type = kTypeN);
  void PushLogical(bool value) { PushSlot(value ? 1 : 0); }
  void PushSlot(int32_t value);
  // Copies text (cut at kMaxExprText) into the pool.
  void PushText(const char* text, size_t length);
  void PushText(std::string_view text) { PushText(text.data(), text.size()); }
  // The string scratch area (kExprScratch bytes) and a push from it.
  static char* Scratch() { return scratch_; }
  void PushScratch(size_t length) { PushText(Scratch(), length); }
  // For text written straight into the pool: the free bytes and the push
  // of `length` bytes already at the top (room for the NUL included).
  char* PoolTop() { return top_; }
  size_t PoolRoom() const { return static_cast<size_t>(end_ - top_); }
  void PushPooled(size_t length);
  // The empty text, kept outside the pool (for a pool with no room).
  void PushEmpty();

  double PopNumber();          // N or D
  bool PopLogical();           // L
  int32_t PopSlot();           // the 32-bit slot of an L node (field and area numbers)
  std::string_view PopText();  // C or M
  // Type code of the top node; 0 when the stack is empty.
  int32_t TopType() const { return depth_ > 0 ? e_.stack[depth_ - 1].type : 0; }

  bool failed() const { return failed_; }
  // Stops the evaluation and reports.
  void Fail(uint16_t code, const char* context);

 private:
  CodeItem* NewNode(int32_t type);
  CodeItem* PopNode(bool (*accept)(int32_t type));
  const void* Finish();
  void SetNeutral(CodeItem& bottom, char type);

  // The string scratch area, process-wide.
  inline static char scratch_[kExprScratch] = {};

  CompiledExpr& e_;
  size_t depth_ = 0;
  char* begin_ = nullptr;
  char* end_ = nullptr;
  char* top_ = nullptr;
  bool failed_ = false;
};

using OpHandler = void (*)(Machine& m, const CodeItem& item);
inline constexpr int32_t kOpcodeLimit = 384;
using OpTable = std::array<OpHandler, kOpcodeLimit>;

// Each part of the evaluator enters its opcodes.
void AddFieldOps(OpTable& table);
void AddNumberOps(OpTable& table);
void AddStringOps(OpTable& table);
void AddDateOps(OpTable& table);
void AddCompareOps(OpTable& table);

// The text of error 358 and its report ("/" and MOD); 1e250 stands in.
inline constexpr double kDivideByZeroResult = 1e250;
void ReportDivideByZero();

}  // namespace ov::eval_detail
