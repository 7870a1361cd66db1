// Numeric opcodes: arithmetic, ABS, INT, ROUND, MOD, MIN and MAX.
#include <cmath>

#include "engine/expr/evaluate_internal.h"

namespace ov::eval_detail {

namespace {

using Wide = long double;  // arithmetic runs in extended precision

// Operands in source order: the right one is on top.
struct Pair {
  double a;
  double b;
};

Pair PopPair(Machine& m) {
  const double b = m.PopNumber();
  const double a = m.PopNumber();
  return {a, b};
}

void Add(Machine& m, const CodeItem&) {
  const Pair p = PopPair(m);
  m.PushNumber(static_cast<double>(Wide{p.a} + Wide{p.b}));
}

// N + D, D + N, D - N: a date moved by days.
void AddDays(Machine& m, const CodeItem&) {
  const Pair p = PopPair(m);
  m.PushNumber(static_cast<double>(Wide{p.a} + Wide{p.b}), kTypeD);
}

void SubtractDays(Machine& m, const CodeItem&) {
  const Pair p = PopPair(m);
  m.PushNumber(static_cast<double>(Wide{p.a} - Wide{p.b}), kTypeD);
}

// N - N, and D - D (days between).
void Subtract(Machine& m, const CodeItem&) {
  const Pair p = PopPair(m);
  m.PushNumber(static_cast<double>(Wide{p.a} - Wide{p.b}));
}

void Multiply(Machine& m, const CodeItem&) {
  const Pair p = PopPair(m);
  m.PushNumber(static_cast<double>(Wide{p.a} * Wide{p.b}));
}

void Divide(Machine& m, const CodeItem&) {
  const Pair p = PopPair(m);
  if (m.failed()) return;
  if (p.b == 0.0) {
    ReportDivideByZero();
    m.PushNumber(kDivideByZeroResult);
    return;
  }
  m.PushNumber(static_cast<double>(Wide{p.a} / Wide{p.b}));
}

// e^(b ln a); for a left operand that is not positive the logarithm has
// no value, so the plain power answers (0^2 = 0, (-2)^2 = 4, (-2)^0.5 NaN).
void Power(Machine& m, const CodeItem&) {
  const Pair p = PopPair(m);
  const double r = p.a > 0 ? static_cast<double>(std::exp(Wide{p.b} * std::log(Wide{p.a}))) : std::pow(p.a, p.b);
  m.PushNumber(r);
}

void Negate(Machine& m, const CodeItem&) { m.PushNumber(-m.PopNumber()); }
void Absolute(Machine& m, const CodeItem&) { m.PushNumber(std::fabs(m.PopNumber())); }
void Integer(Machine& m, const CodeItem&) { m.PushNumber(std::trunc(m.PopNumber())); }

void Round(Machine& m, const CodeItem&) {
  const Pair p = PopPair(m);
  m.PushNumber(CutDecimals(p.a, p.b));
}

// Integer remainder with the sign of the dividend; a divisor whose integer
// part is 0 is a division by zero, as for "/".
void Modulo(Machine& m, const CodeItem&) {
  const Pair p = PopPair(m);
  if (m.failed()) return;
  const int64_t a = TruncToInt(p.a), b = TruncToInt(p.b);
  if (b == 0) {
    ReportDivideByZero();
    m.PushNumber(kDivideByZeroResult);
    return;
  }
  m.PushNumber(static_cast<double>(a % b));
}

// MIN and MAX keep the operands' type (N or D).
void Extreme(Machine& m, bool larger) {
  if (m.failed()) return;
  const double b = m.PopNumber();
  const int32_t type = m.failed() ? kTypeN : m.TopType();
  const double a = m.PopNumber();
  m.PushNumber((larger ? a > b : a < b) ? a : b, type);
}

void Max(Machine& m, const CodeItem&) { Extreme(m, true); }
void Min(Machine& m, const CodeItem&) { Extreme(m, false); }

}  // namespace

void AddNumberOps(OpTable& table) {
  table[op::kAddNN] = Add;
  table[op::kAddND] = AddDays;
  table[op::kAddDN] = AddDays;
  table[op::kSubNN] = Subtract;
  table[op::kSubDN] = SubtractDays;
  table[op::kSubDD] = Subtract;
  table[op::kMul] = Multiply;
  table[op::kDiv] = Divide;
  table[op::kPow] = Power;
  table[op::kNeg] = Negate;
  table[tok::kAbs] = Absolute;
  table[tok::kInt] = Integer;
  table[tok::kRound] = Round;
  table[tok::kMod] = Modulo;
  table[tok::kMax] = Max;
  table[tok::kMin] = Min;
}

}  // namespace ov::eval_detail
