// The semantic actions of the grammar, keyed by rule number: type checks
// of operators and functions, and emission of the postfix code.
#include <string>

#include "engine/expr/compile_state.h"

namespace ov {

namespace {

constexpr int32_t C = kTypeC, N = kTypeN, L = kTypeL, D = kTypeD;
// Opcode of unary "+", which emits nothing.
constexpr int32_t kNoCode = -2;

// One accepted operand combination of a rule. Operators take their
// operands from symbols 1 and 3 (prefix operators from symbol 2),
// functions theirs from symbols 3, 5, 7 and 9.
struct Signature {
  int rule;
  const char* name;  // for the type-mismatch message
  bool function;
  int32_t opcode;
  int argc;
  int32_t args[4];
  int32_t result;
};

constexpr Signature kSignatures[] = {
    {4, "+", false, op::kAddNN, 2, {N, N}, N},
    {4, "+", false, op::kAddND, 2, {N, D}, D},
    {4, "+", false, op::kAddDN, 2, {D, N}, D},
    {4, "+", false, op::kAddCC, 2, {C, C}, C},
    {5, "-", false, op::kSubNN, 2, {N, N}, N},
    {5, "-", false, op::kSubDN, 2, {D, N}, D},
    {5, "-", false, op::kSubDD, 2, {D, D}, N},
    {5, "-", false, op::kSubCC, 2, {C, C}, C},
    {6, "*", false, op::kMul, 2, {N, N}, N},
    {7, "/", false, op::kDiv, 2, {N, N}, N},
    {8, "=", false, op::kEqN, 2, {N, N}, L},
    {8, "=", false, op::kEqD, 2, {D, D}, L},
    {8, "=", false, op::kEqC, 2, {C, C}, L},
    {8, "=", false, op::kEqL, 2, {L, L}, L},
    {9, "$", false, op::kContainsC, 2, {C, C}, L},
    {10, "==", false, op::kExactEqC, 2, {C, C}, L},
    {11, ">", false, op::kGtN, 2, {N, N}, L},
    {11, ">", false, op::kGtD, 2, {D, D}, L},
    {11, ">", false, op::kGtC, 2, {C, C}, L},
    {12, "<", false, op::kLtN, 2, {N, N}, L},
    {12, "<", false, op::kLtD, 2, {D, D}, L},
    {12, "<", false, op::kLtC, 2, {C, C}, L},
    {13, "<>", false, op::kNeN, 2, {N, N}, L},
    {13, "<>", false, op::kNeD, 2, {D, D}, L},
    {13, "<>", false, op::kNeC, 2, {C, C}, L},
    {13, "<>", false, op::kNeL, 2, {L, L}, L},
    {14, "<=", false, op::kLeN, 2, {N, N}, L},
    {14, "<=", false, op::kLeD, 2, {D, D}, L},
    {14, "<=", false, op::kLeC, 2, {C, C}, L},
    {15, ">=", false, op::kGeN, 2, {N, N}, L},
    {15, ">=", false, op::kGeD, 2, {D, D}, L},
    {15, ">=", false, op::kGeC, 2, {C, C}, L},
    {16, ".OR.", false, op::kOr, 2, {L, L}, L},
    {17, ".AND.", false, op::kAnd, 2, {L, L}, L},
    {102, "** or ^", false, op::kPow, 2, {N, N}, N},
    {99, ".NOT.", false, op::kNot, 1, {L}, L},
    {100, "Unary +", false, kNoCode, 1, {N}, N},
    {101, "Unary -", false, op::kNeg, 1, {N}, N},
    {20, "YEAR", true, tok::kYear, 1, {D}, N},
    {21, "MONTH", true, tok::kMonth, 1, {D}, N},
    {22, "DOW", true, tok::kDow, 1, {D}, N},
    {23, "DAY", true, tok::kDay, 1, {D}, N},
    {24, "AT", true, tok::kAt, 2, {C, C}, N},
    {25, "ROUND", true, tok::kRound, 2, {N, N}, N},
    {26, "MOD", true, tok::kMod, 2, {N, N}, N},
    {27, "MIN", true, tok::kMin, 2, {N, N}, N},
    {27, "MIN", true, tok::kMin, 2, {D, D}, D},
    {28, "MAX", true, tok::kMax, 2, {N, N}, N},
    {28, "MAX", true, tok::kMax, 2, {D, D}, D},
    {44, "INT", true, tok::kInt, 1, {N}, N},
    {46, "ABS", true, tok::kAbs, 1, {N}, N},
    {47, "VAL", true, tok::kVal, 1, {C}, N},
    {48, "LEN", true, tok::kLen, 1, {C}, N},
    {49, "ASC", true, tok::kAsc, 1, {C}, N},
    {51, "RECNO", true, tok::kRecno, 0, {}, N},
    {56, "CTOD", true, tok::kCtod, 1, {C}, D},
    {57, "DATE", true, tok::kDate, 0, {}, D},
    {60, "STUFF", true, tok::kStuff, 4, {C, N, N, C}, C},
    {61, "IIF", true, tok::kIif, 3, {L, C, C}, C},
    {62, "STR", true, tok::kStr, 3, {N, N, N}, C},
    {63, "STR", true, tok::kStr, 2, {N, N}, C},
    {64, "STR", true, tok::kStr, 1, {N}, C},
    {65, "SUBSTR", true, tok::kSubstr, 3, {C, N, N}, C},
    {66, "RIGHT", true, tok::kRight, 2, {C, N}, C},
    {67, "REPLICATE", true, tok::kReplicate, 2, {C, N}, C},
    {68, "LEFT", true, tok::kLeft, 2, {C, N}, C},
    {69, "DTOS", true, tok::kDtos, 1, {D}, C},
    {70, "DTOC", true, tok::kDtoc, 1, {D}, C},
    {71, "CMONTH", true, tok::kCmonth, 1, {D}, C},
    {72, "CDOW", true, tok::kCdow, 1, {D}, C},
    {73, "UPPER", true, tok::kUpper, 1, {C}, C},
    {74, "SOUNDEX", true, tok::kSoundex, 1, {C}, C},
    {76, "TRIM", true, tok::kTrim, 1, {C}, C},
    {77, "RTRIM", true, tok::kRtrim, 1, {C}, C},
    {78, "LTRIM", true, tok::kLtrim, 1, {C}, C},
    {79, "LOWER", true, tok::kLower, 1, {C}, C},
    {81, "SPACE", true, tok::kSpace, 1, {N}, C},
    {83, "CHR", true, tok::kChr, 1, {N}, C},
    {91, "DELETED", true, tok::kDeleted, 0, {}, L},
};

void Emit(const CodeItem& item) { Compiling().expr->code.push_back(item); }

void EmitOp(int32_t opcode, int argc) {
  CodeItem item;
  item.opcode = opcode;
  item.argc = argc;
  Emit(item);
}

void EmitLogical(int32_t n) {
  CodeItem item;
  item.type = kTypeL;
  item.value.logical = n;
  Emit(item);
}

// Data type codes of the operands of a signature's rule, in order.
void OperandTypes(const Signature& s, const ExprValue* rhs, int32_t* types) {
  for (int i = 0; i < s.argc; ++i) {
    const int symbol = s.function ? 2 + 2 * i : (s.argc == 1 ? 1 : 2 * i);
    types[i] = rhs[symbol].type;
  }
}

bool Matches(const Signature& s, const ExprValue* rhs) {
  int32_t types[4] = {};
  OperandTypes(s, rhs, types);
  for (int i = 0; i < s.argc; ++i) {
    if (types[i] != s.args[i]) return false;
  }
  return true;
}

std::string MismatchText(const Signature& s) {
  return std::string(s.function ? "PARSER:Type mismatch in function \"" : "PARSER:Type mismatch in expression \"") +
         s.name + "\"";
}

// Operators and functions: the first signature of the rule whose operand
// types match emits its opcode; none matching is a type mismatch.
bool ReduceTyped(int rule, ExprValue& out, const ExprValue* rhs) {
  const Signature* first = nullptr;
  for (const Signature& s : kSignatures) {
    if (s.rule != rule) continue;
    if (first == nullptr) first = &s;
    if (!Matches(s, rhs)) continue;
    if (s.opcode != kNoCode) EmitOp(s.opcode, s.argc);
    out.type = s.result;
    return true;
  }
  if (first == nullptr) return true;  // a rule without an action
  FailCompile(MismatchText(*first));
  return false;
}

// Rules 18/19, 54/55, 58/59, 85/86, 92/93: the field number, the area
// number when aliased, then the field opcode.
void ReduceField(ExprValue& out, const ExprValue& field) {
  EmitLogical(field.field);
  const bool aliased = field.token >= tok::kAliasFieldC;
  if (aliased) EmitLogical(field.area);
  EmitOp(field.token, aliased ? 2 : 1);
  out.type = field.type;
}

void ReduceLiteral(int rule, ExprValue& out, const ExprValue& token) {
  CodeItem item;
  switch (rule) {
    case 94:
    case 95:
      item.type = kTypeL;
      item.value.logical = rule == 94 ? 1 : 0;
      break;
    case 96:
      item.type = kTypeC;
      item.value.str = token.text;
      break;
    default:
      item.type = kTypeN;
      item.value.num = token.number;
      break;
  }
  Emit(item);
  out.type = item.type;
}

char TypeLetter(int32_t type) {
  switch (type) {
    case kTypeN: return 'N';
    case kTypeL: return 'L';
    case kTypeD: return 'D';
    case kTypeM: return 'M';
    default: return 'C';
  }
}

bool IsFieldRule(int rule) {
  switch (rule) {
    case 18:
    case 19:
    case 54:
    case 55:
    case 58:
    case 59:
    case 85:
    case 86:
    case 92:
    case 93: return true;
    default: return false;
  }
}

}  // namespace

bool Reduce(int rule, ExprValue& out, std::initializer_list<ExprValue> rhs) {
  const ExprValue* v = rhs.begin();
  if (IsFieldRule(rule)) {
    ReduceField(out, v[0]);
    return true;
  }
  if (rule >= 94 && rule <= 97) {
    ReduceLiteral(rule, out, v[0]);
    return true;
  }
  if (rule == 98) {
    out = v[1];
    return true;
  }
  if (rule == 3) {
    EmitOp(op::kEnd, 0);
    Compiling().final_type = TypeLetter(v[0].type);
    return true;
  }
  return ReduceTyped(rule, out, v);
}

}  // namespace ov
