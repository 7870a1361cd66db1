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

void Release(CompiledExpr* expr) { FreeExpr(expr); }

// A condition must be logical; anything else is refused with 362 before
// it can reach navigation.
std::shared_ptr<CompiledExpr> CompileCondition(const std::string& text) {
  CompiledExpr* expr = AssignExpr(text);
  if (expr == nullptr) return nullptr;
  if (expr->result_type != 'L') {
    FreeExpr(expr);
    ReportError(err::kExprNotLogical, "Condition not of type L [Evaluate/Condition(" + text + ")]");
    return nullptr;
  }
  return std::shared_ptr<CompiledExpr>(expr, Release);
}

bool EvaluateLogical(const std::shared_ptr<CompiledExpr>& p) {
  CompiledExpr* expr = p.get();
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
