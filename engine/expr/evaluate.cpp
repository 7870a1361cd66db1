// The evaluation machine: stack nodes, the working pool, the engine loop
// and the entry points.
#include "engine/expr/evaluate.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "engine/expr/compile_state.h"
#include "engine/expr/evaluate_internal.h"
#include "engine/expr/ovparser.h"
#include "engine/support/ovcommon.h"
#include "engine/support/timedate.h"

namespace ov {

namespace {

const char* const kPushTypeError = "Unknown data type (none of \"C\",\"N\",\"F\",\"L\",\"D\"or\"M\") [PARSER/PushWD]";
const char* const kPopTypeError = "Unknown data type (none of \"C\",\"N\",\"F\",\"L\",\"D\"or\"M\") [PARSER/PopWD]";

bool IsText(int32_t t) { return t == kTypeC || t == kTypeM; }
bool IsNumber(int32_t t) { return t == kTypeN || t == kTypeD; }
bool IsLogical(int32_t t) { return t == kTypeL; }

// Neutral results when an evaluation stopped before its end (or had no
// stack node to leave its value in).
const double kZero = 0.0;
const double kEmptyDate = kNoDate;
const int32_t kFalse = 0;

}  // namespace

namespace eval_detail {

Machine::Machine(CompiledExpr& expr) : e_(expr) {
  begin_ = expr.buffer.get();
  end_ = begin_ != nullptr ? begin_ + expr.buffer_size : nullptr;
  top_ = begin_;
  if (e_.stack.empty()) {
    try {
      e_.stack.emplace_back();
    } catch (const std::bad_alloc&) {
      Fail(err::kNoMemory, " [PARSER/WStackCheck]");
    }
  }
}

void Machine::Fail(uint16_t code, const char* context) {
  failed_ = true;
  ReportError(code, context);
}

CodeItem* Machine::NewNode(int32_t type) {
  if (failed_) return nullptr;
  if (depth_ == e_.stack.size()) {
    try {
      e_.stack.emplace_back();
    } catch (const std::bad_alloc&) {
      Fail(err::kNoMemory, " [PARSER/WStackCheck]");
      return nullptr;
    }
  }
  CodeItem& node = e_.stack[depth_++];
  node.type = type;
  return &node;
}

void Machine::PushNumber(double value, int32_t type) {
  if (CodeItem* n = NewNode(type)) n->value.num = value;
}

void Machine::PushSlot(int32_t value) {
  if (CodeItem* n = NewNode(kTypeL)) n->value.logical = value;
}

void Machine::PushText(const char* text, size_t length) {
  if (failed_) return;
  if (length > kMaxExprText) length = kMaxExprText;
  // A NUL ends a string wherever it stands (a field byte, CHR(0)).
  if (const void* nul = length > 0 ? std::memchr(text, '\0', length) : nullptr) {
    length = static_cast<size_t>(static_cast<const char*>(nul) - text);
  }
  if (PoolRoom() < length + 1) {
    Fail(err::kExprPoolOverflow, "Working pool overflow [PARSER/Allocate]");
    return;
  }
  if (CodeItem* n = NewNode(kTypeC)) {
    if (length > 0) std::memmove(top_, text, length);
    top_[length] = '\0';
    n->argc = static_cast<int32_t>(length);
    n->value.str = top_;
    top_ += length + 1;
  }
}

void Machine::PushPooled(size_t length) {
  if (failed_) return;
  if (PoolRoom() < length + 1) {
    Fail(err::kExprPoolOverflow, "Working pool overflow [PARSER/Allocate]");
    return;
  }
  if (CodeItem* n = NewNode(kTypeC)) {
    top_[length] = '\0';
    n->argc = static_cast<int32_t>(strnlen(top_, length));
    n->value.str = top_;
    top_ += length + 1;
  }
}

void Machine::PushEmpty() {
  if (CodeItem* n = NewNode(kTypeC)) {
    n->argc = 0;
    n->value.str = "";
  }
}

CodeItem* Machine::PopNode(bool (*accept)(int32_t type)) {
  if (failed_) return nullptr;
  if (depth_ == 0 || !accept(e_.stack[depth_ - 1].type)) {
    Fail(err::kExprStackType, kPopTypeError);
    return nullptr;
  }
  return &e_.stack[--depth_];
}

double Machine::PopNumber() {
  const CodeItem* n = PopNode(IsNumber);
  return n != nullptr ? n->value.num : 0.0;
}

bool Machine::PopLogical() {
  const CodeItem* n = PopNode(IsLogical);
  return n != nullptr && n->value.logical != 0;
}

int32_t Machine::PopSlot() {
  const CodeItem* n = PopNode(IsLogical);
  return n != nullptr ? n->value.logical : 0;
}

std::string_view Machine::PopText() {
  const CodeItem* n = PopNode(IsText);
  if (n == nullptr || n->value.str == nullptr) return std::string_view("");
  const char* s = n->value.str;
  // Strings outside the pool (literals never copied, the empty text) leave
  // the pool top alone.
  const auto at = reinterpret_cast<uintptr_t>(s);
  if (begin_ != nullptr && at >= reinterpret_cast<uintptr_t>(begin_) && at < reinterpret_cast<uintptr_t>(end_)) {
    top_ = const_cast<char*>(s);
  }
  return std::string_view(s, static_cast<size_t>(n->argc));
}

const void* Machine::Finish() {
  e_.pool_top = top_;
  const char type = e_.result_type;
  const bool text = type == 'C' || type == 'M';
  if (e_.stack.empty()) {
    if (text) return "";
    return type == 'L' ? static_cast<const void*>(&kFalse) : type == 'D' ? &kEmptyDate : &kZero;
  }
  CodeItem& bottom = e_.stack[0];
  const bool ok = !failed_ && depth_ >= 1 &&
                  (text          ? IsText(bottom.type)
                   : type == 'L' ? IsLogical(bottom.type)
                                 : IsNumber(bottom.type));
  if (!ok) SetNeutral(bottom, type);
  return text ? static_cast<const void*>(bottom.value.str) : &bottom.value;
}

// The empty text (at the pool start when there is a pool), 0, false or
// the empty date in the bottom node.
void Machine::SetNeutral(CodeItem& bottom, char type) {
  switch (type) {
    case 'C':
    case 'M':
      bottom.type = kTypeC;
      bottom.value.str = "";
      if (begin_ != end_) {
        *begin_ = '\0';
        bottom.value.str = begin_;
      }
      break;
    case 'L':
      bottom.type = kTypeL;
      bottom.value.logical = 0;
      break;
    default:
      bottom.type = type == 'D' ? kTypeD : kTypeN;
      bottom.value.num = type == 'D' ? kNoDate : 0.0;
      break;
  }
}

namespace {

void PushConstant(Machine& m, const CodeItem& item) {
  switch (item.type) {
    case kTypeC:
    case kTypeM: m.PushText(std::string_view(item.value.str != nullptr ? item.value.str : "")); break;
    case kTypeN:
    case kTypeD: m.PushNumber(item.value.num, item.type); break;
    case kTypeL: m.PushSlot(item.value.logical); break;
    default: m.Fail(err::kExprStackType, kPushTypeError); break;
  }
}

OpTable BuildTable() {
  OpTable table{};
  table[op::kPush] = PushConstant;
  AddFieldOps(table);
  AddNumberOps(table);
  AddStringOps(table);
  AddDateOps(table);
  AddCompareOps(table);
  return table;
}

}  // namespace

const void* Machine::Run() {
  static const OpTable table = BuildTable();
  for (const CodeItem& item : e_.code) {
    if (failed_ || item.opcode == op::kEnd) break;
    // Opcodes outside the table, and unassigned ones, are skipped.
    if (item.opcode < 0 || item.opcode >= kOpcodeLimit) continue;
    if (const OpHandler handler = table[static_cast<size_t>(item.opcode)]) handler(*this, item);
  }
  return Finish();
}

void ReportDivideByZero() {
  ReportError(err::kExprDivideByZero, "Error during evaluation: Divide by 0 [Evaluate/Engine]");
}

}  // namespace eval_detail

const void* Evaluate(CompiledExpr* expr) {
  if (expr == nullptr) return nullptr;
  ExprEngine().current = expr;
  eval_detail::Machine machine(*expr);
  expr->result = machine.Run();
  return expr->result;
}

const void* EvaluateCurrent() {
  CompiledExpr* current = ExprEngine().current;
  if (current == nullptr || !IsLiveExpr(current)) return nullptr;
  return Evaluate(current);
}

void SetCurrentExpr(CompiledExpr* expr) { ExprEngine().current = expr; }

}  // namespace ov
