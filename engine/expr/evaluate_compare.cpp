// Comparisons and the logical operators.
//
// Strings: "=" is true when the left string begins with the right one (an
// empty right string gives false), "==" and "<>" compare whole strings,
// "$" looks for the left string inside the right one. The orderings
// compare byte by byte by character code, a proper prefix being smaller;
// case and trailing blanks count.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/expr/evaluate_internal.h"

namespace ov::eval_detail {

namespace {

enum class Rel { kEq, kNe, kLt, kGt, kLe, kGe };

template <typename T>
bool Holds(Rel r, const T& a, const T& b) {
  switch (r) {
    case Rel::kEq: return a == b;
    case Rel::kNe: return a != b;
    case Rel::kLt: return a < b;
    case Rel::kGt: return a > b;
    case Rel::kLe: return a <= b;
    default: return a >= b;
  }
}

// Byte order by unsigned character code.
int CompareBytes(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  const int c = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

template <Rel R>
void CompareNumbers(Machine& m, const CodeItem&) {
  const double b = m.PopNumber();
  const double a = m.PopNumber();
  m.PushLogical(Holds(R, a, b));
}

template <Rel R>
void CompareTexts(Machine& m, const CodeItem&) {
  const std::string_view b = m.PopText();
  const std::string_view a = m.PopText();
  m.PushLogical(Holds(R, CompareBytes(a, b), 0));
}

template <Rel R>
void CompareLogicals(Machine& m, const CodeItem&) {
  const bool b = m.PopLogical();
  const bool a = m.PopLogical();
  m.PushLogical(Holds(R, a, b));
}

void BeginsWith(Machine& m, const CodeItem&) {
  const std::string_view b = m.PopText();
  const std::string_view a = m.PopText();
  m.PushLogical(!b.empty() && a.substr(0, b.size()) == b);
}

void Contained(Machine& m, const CodeItem&) {
  const std::string_view b = m.PopText();
  const std::string_view a = m.PopText();
  m.PushLogical(!a.empty() && b.find(a) != std::string_view::npos);
}

void Or(Machine& m, const CodeItem&) {
  const bool b = m.PopLogical();
  const bool a = m.PopLogical();
  m.PushLogical(a || b);
}

void And(Machine& m, const CodeItem&) {
  const bool b = m.PopLogical();
  const bool a = m.PopLogical();
  m.PushLogical(a && b);
}

void Not(Machine& m, const CodeItem&) { m.PushLogical(!m.PopLogical()); }

}  // namespace

void AddCompareOps(OpTable& table) {
  table[op::kEqN] = CompareNumbers<Rel::kEq>;
  table[op::kEqD] = CompareNumbers<Rel::kEq>;
  table[op::kEqC] = BeginsWith;
  table[op::kEqL] = CompareLogicals<Rel::kEq>;
  table[op::kExactEqC] = CompareTexts<Rel::kEq>;
  table[op::kContainsC] = Contained;
  table[op::kGtN] = CompareNumbers<Rel::kGt>;
  table[op::kGtD] = CompareNumbers<Rel::kGt>;
  table[op::kGtC] = CompareTexts<Rel::kGt>;
  table[op::kLtN] = CompareNumbers<Rel::kLt>;
  table[op::kLtD] = CompareNumbers<Rel::kLt>;
  table[op::kLtC] = CompareTexts<Rel::kLt>;
  table[op::kNeN] = CompareNumbers<Rel::kNe>;
  table[op::kNeD] = CompareNumbers<Rel::kNe>;
  table[op::kNeC] = CompareTexts<Rel::kNe>;
  table[op::kNeL] = CompareLogicals<Rel::kNe>;
  table[op::kLeN] = CompareNumbers<Rel::kLe>;
  table[op::kLeD] = CompareNumbers<Rel::kLe>;
  table[op::kLeC] = CompareTexts<Rel::kLe>;
  table[op::kGeN] = CompareNumbers<Rel::kGe>;
  table[op::kGeD] = CompareNumbers<Rel::kGe>;
  table[op::kGeC] = CompareTexts<Rel::kGe>;
  table[op::kOr] = Or;
  table[op::kAnd] = And;
  table[op::kNot] = Not;
}

}  // namespace ov::eval_detail
