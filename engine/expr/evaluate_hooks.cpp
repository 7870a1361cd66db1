// The expression slots of the work-area layer: FOR and WHILE conditions
// given as expression text.
#include <memory>
#include <string>

#include "engine/dbf/dbf4.h"
#include "engine/expr/evaluate.h"
#include "engine/expr/ovparser.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

void Release(void* p) {
  CompiledExpr* expr = static_cast<CompiledExpr*>(p);
  FreeExpr(expr);
}

// A condition must be logical; anything else is refused with 362 before
// it can reach navigation.
std::shared_ptr<void> CompileCondition(const std::string& text) {
  CompiledExpr* expr = AssignExpr(text);
  if (expr == nullptr) return nullptr;
  if (expr->result_type != 'L') {
    FreeExpr(expr);
    ReportError(362, "Condition not of type L [Evaluate/Condition(" + text + ")]");
    return nullptr;
  }
  return std::shared_ptr<void>(expr, Release);
}

bool EvaluateLogical(const std::shared_ptr<void>& p) {
  CompiledExpr* expr = static_cast<CompiledExpr*>(p.get());
  if (expr == nullptr || expr->result_type != 'L') return false;
  const void* result = Evaluate(expr);
  return result != nullptr && *static_cast<const int32_t*>(result) != 0;
}

}  // namespace

void InstallExpressionHooks() {
  SetCurrentExpr(nullptr);
  ExprHooks& hooks = Areas().expr;
  hooks.compile = CompileCondition;
  hooks.evaluate_logical = EvaluateLogical;
}

}  // namespace ov
