#include <memory>
#include <new>
#include <string>

#include "engine/expr/compile_state.h"
#include "engine/expr/evaluate.h"
#include "engine/expr/ovparser.h"
#include "engine/expr/scanner.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

constexpr uint16_t kExprError = err::kExprSyntax;
constexpr uint16_t kNoMemory = 217;
constexpr size_t kWindowWidth = 50;
constexpr size_t kMaxKeyLength = 220;

}  // namespace

ExprState& ExprEngine() {
  std::shared_ptr<ExprState>& s = Engine().expr;
  if (!s) s = std::make_shared<ExprState>();
  return *s;
}

Compilation& Compiling() { return ExprEngine().compiling; }

void FailCompile(const std::string& reason) {
  Compilation& c = Compiling();
  if (!c.reason.empty()) return;
  c.reason = reason;
  c.error_pos = c.pos;
}

namespace {

ExprState::Registry& Compiled() { return ExprEngine().compiled; }

// "[" + text up to the scan position (its last 50 characters, after
// "...", when it is further in), then "...]" when text follows, else "]".
std::string SourceWindow(const std::string& text, size_t pos) {
  std::string window =
      pos > kWindowWidth ? "[..." + text.substr(pos - kWindowWidth, kWindowWidth) : "[" + text.substr(0, pos);
  return window + (pos < text.size() ? "...]" : "]");
}

std::string ExpressionErrorText(const Compilation& c) {
  return "Error in expression : " + c.reason + "\r\n" + SourceWindow(c.text, c.error_pos) + "\r\n [AssignExpr]";
}

// Clears the active compilation when AssignExpr leaves, however it leaves,
// so no pointer into a released expression survives.
class CompilationScope {
 public:
  CompilationScope() = default;
  ~CompilationScope() { Compiling() = Compilation{}; }
  CompilationScope(const CompilationScope&) = delete;
  CompilationScope& operator=(const CompilationScope&) = delete;
};

uint16_t ResultLength(const CompiledExpr& e, const Compilation& c) {
  switch (e.result_type) {
    case 'C': return c.buffer_size == c.last_length + 1u ? c.last_length : 0;
    case 'D': return 8;
    case 'L': return 1;
    case 'M': return e.buffer_size;
    default: break;
  }
  return c.last_length >= e.decimals + 2 ? c.last_length : static_cast<uint16_t>(e.decimals + 11);
}

void SetResultShape(CompiledExpr& e, const Compilation& c) {
  e.result_type = c.final_type;
  e.decimals = 0;
  if (e.result_type == 'N') e.decimals = c.decimals < kDecimalsUnset ? c.decimals : 2;
  e.result_length = ResultLength(e, c);
}

// Parses the text into `e`; "" on success, else the error's context.
// Nothing is reported here, so the caller can release `e` first.
std::string Compile(const std::string& text, CompiledExpr& e, uint16_t& code) {
  CompilationScope scope;
  int result = 0;
  try {
    StartScan(text, e);
    result = RunParser();
  } catch (const std::bad_alloc&) {
    code = kNoMemory;
    return " [PARSER/SStackCheck]";
  }
  Compilation& c = Compiling();
  if (result == 2) c.reason = "Parser_stack_overflow";
  if (result != 0 && c.reason.empty()) FailCompile("Syntax error");
  if (result != 0) {
    code = kExprError;
    return ExpressionErrorText(c);
  }
  const uint32_t size = c.final_type == 'M' ? ExprEngine().memo_width : c.buffer_size;
  e.buffer_size = static_cast<uint16_t>(size > 0xFFFF ? 0xFFFF : size);
  SetResultShape(e, c);
  return "";
}

bool AllocateBuffer(CompiledExpr& e) {
  if (e.buffer_size == 0) return true;
  try {
    e.buffer = std::make_unique<char[]>(e.buffer_size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  e.pool_top = e.buffer.get();
  if (e.result_type == 'C' || e.result_type == 'M') e.result = e.buffer.get();
  return true;
}

// AssignExpr without making the result current.
CompiledExpr* CompileExpr(const std::string& text) {
  uint16_t& error = Errors().DbfError;
  if (error >= 350 && error <= 363) error = 0;
  std::unique_ptr<CompiledExpr> e;
  try {
    e = std::make_unique<CompiledExpr>();
    e->source = text;
  } catch (const std::bad_alloc&) {
    ReportError(kNoMemory, " [AssignExpr]");
    return nullptr;
  }
  uint16_t code = 0;
  const std::string failure = Compile(text, *e, code);
  if (!failure.empty()) {
    e.reset();
    ReportError(code, failure);
    return nullptr;
  }
  CompiledExpr* raw = e.get();
  bool kept = AllocateBuffer(*e);
  if (kept) {
    try {
      Compiled().emplace(raw, std::move(e));
    } catch (const std::bad_alloc&) {
      kept = false;
    }
  }
  if (!kept) {
    e.reset();
    ReportError(kNoMemory, " [AssignExpr]");
    return nullptr;
  }
  return raw;
}

}  // namespace

CompiledExpr* AssignExpr(const std::string& text) {
  CompiledExpr* e = CompileExpr(text);
  if (e != nullptr) SetCurrentExpr(e);
  return e;
}

void FreeExpr(CompiledExpr*& expr) {
  if (expr == nullptr) return;
  auto it = Compiled().find(expr);
  if (it == Compiled().end()) return;
  Compiled().erase(it);
  expr = nullptr;
}

bool IsLiveExpr(const CompiledExpr* expr) { return expr != nullptr && Compiled().count(expr) != 0; }

uint16_t& MemoWidth() { return ExprEngine().memo_width; }

namespace {

// Holds the memo width at 0 for a trial compilation.
class ZeroMemoWidth {
 public:
  ZeroMemoWidth() : saved_(MemoWidth()) { MemoWidth() = 0; }
  ~ZeroMemoWidth() { MemoWidth() = saved_; }
  ZeroMemoWidth(const ZeroMemoWidth&) = delete;
  ZeroMemoWidth& operator=(const ZeroMemoWidth&) = delete;

 private:
  uint16_t saved_;
};

int CheckCompiled(const std::string& text, bool is_key) {
  QuietErrors quiet;
  ZeroMemoWidth zero;
  CompiledExpr* e = CompileExpr(text);
  if (e == nullptr) return Errors().DbfError;
  const char type = e->result_type;
  FreeExpr(e);
  if (is_key) return type == 'M' || type == 'L' ? err::kExprBadKeyType : 0;
  return type == 'L' ? 0 : err::kExprNotLogical;
}

}  // namespace

int CheckExpression(std::string& text, bool is_key) {
  text = TrimRightText(text);
  if (text.empty()) return err::kExprEmpty;
  if (is_key && text.size() > kMaxKeyLength) return err::kExprKeyTooLong;
  const int code = CheckCompiled(text, is_key);
  Errors().DbfError = 0;
  return code;
}

}  // namespace ov
