// Fuzz target: arbitrary text as a dBASE expression.
//
// A small table (every field type, one record, a memo) is opened once; each
// input is compiled against it and, when it compiles, evaluated twice. The
// engine must answer with its error numbers, never crash, hang or overrun
// an expression's working pool.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/engine.h"
#include "engine/expr/evaluate.h"
#include "engine/expr/ovparser.h"
#include "engine/support/ovcommon.h"

namespace ov {
namespace {

std::string TablePath() { return "/tmp/ov_fuzz_expr_" + std::to_string(getpid()) + ".dbf"; }

bool OpenTable() {
  StartEngine();
  SetImmediateErrors(false);
  DbfFile dbf;
  const std::vector<FieldDef> defs = {{"name", 'C', 20, 0}, {"city", 'C', 15, 0}, {"amount", 'N', 10, 2},
                                      {"qty", 'N', 5, 0},   {"birth", 'D', 8, 0}, {"paid", 'L', 1, 0},
                                      {"notes", 'M', 10, 0}};
  CreateDbf(dbf, TablePath(), defs);
  USE(TablePath() + " EXCLUSIVE");
  if (CurrentArea() == nullptr) return false;
  ClearRecord();
  SetFieldText(1, "Smith");
  SetFieldText(2, "Berlin");
  SetFieldNumber(3, 1234.5);
  SetFieldNumber(4, 42);
  SetFieldText(5, "02/29/00");
  SetFieldLogical(6, true);
  SetFieldNumber(7, Areas().memo.write_text(*CurrentArea(), "line one\r\nline two", 0));
  Append();
  return Errors().DbfError == 0;
}

}  // namespace
}  // namespace ov

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ov;
  static const bool ready = OpenTable();
  if (!ready || size > 300) return 0;
  Errors().DbfError = 0;
  CompiledExpr* e = AssignExpr(std::string(reinterpret_cast<const char*>(data), size));
  if (e != nullptr) {
    (void)Evaluate(e);
    (void)Evaluate(e);
    FreeExpr(e);
  }
  return 0;
}
