#include "engine/expr/scanner.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "engine/dbf/dbf4.h"
#include "engine/expr/keywords.h"
#include "engine/support/ascii.h"
#include "engine/support/ovutils.h"

namespace ov {

namespace {

// Aliases are searched in the caller areas below the last one.
constexpr int kAliasAreas = 32;

bool IsLetter(char c) { return IsAsciiLetter(c); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameStart(char c) { return IsLetter(c) || c == '.' || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The character `ahead` places past the scan position, upper-cased; NUL
// past the end of the input.
char Look(size_t ahead = 0) {
  const Compilation& c = Compiling();
  const size_t at = c.pos + ahead;
  return at < c.end ? UpperChar(c.text[at]) : '\0';
}

void SkipBlanks() {
  while (IsBlank(Look())) ++Compiling().pos;
}

void AddBuffer(uint32_t bytes) { Compiling().buffer_size += bytes; }

std::string ScanWord() {
  std::string word;
  while (IsNameChar(Look())) {
    word += Look();
    ++Compiling().pos;
  }
  return word;
}

int ScanNumber(ExprValue& value) {
  Compilation& c = Compiling();
  const size_t start = c.pos;
  bool point = false, exponent = false;
  for (char ch = Look(); ch != '\0'; ch = Look()) {
    if (ch == '.' && !point) {
      point = true;
    } else if (ch == 'E' && !exponent) {
      exponent = true;
    } else if (!IsDigit(ch)) {
      break;
    }
    ++c.pos;
  }
  // strtod stops at a trailing "E" or ".", as the standard conversion does.
  const std::string digits = c.text.substr(start, c.pos - start);
  value.type = kTypeN;
  value.number = std::strtod(digits.c_str(), nullptr);
  c.last_length = 0;
  c.decimals = 2;
  return tok::kNumberLit;
}

// Appends to the literal store without ever growing it past its reserve,
// so the pointers of earlier literals stay valid. A full store keeps its
// last byte as a terminator, which later literals share.
const char* StoreLiteral(const std::string& chars) {
  std::vector<char>& store = Compiling().expr->literals;
  if (store.size() >= kLiteralLimit) return &store.back();
  const size_t start = store.size();
  for (char ch : chars) {
    if (store.size() + 1 >= kLiteralLimit) break;
    store.push_back(ch);
  }
  store.push_back('\0');
  return &store[start];
}

int ScanString(ExprValue& value) {
  Compilation& c = Compiling();
  const char quote = c.text[c.pos++];
  const size_t start = c.pos;
  while (c.pos < c.end && c.text[c.pos] != quote) ++c.pos;
  if (c.pos >= c.end) return tok::kEot;  // unterminated: no rule accepts it
  const std::string chars = c.text.substr(start, c.pos - start);
  ++c.pos;
  AddBuffer(static_cast<uint32_t>(chars.size()) + 1);
  value.type = kTypeC;
  value.text = StoreLiteral(chars);
  return tok::kStringLit;
}

WorkArea* AreaWithAlias(const std::string& alias) {
  auto& slots = Areas().slots;
  for (int i = 1; i <= kAliasAreas; ++i) {
    WorkArea* area = slots[i].get();
    if (area != nullptr && area->table.is_open() && area->alias == alias) return area;
  }
  return nullptr;
}

// Token of a field type (the plain form), 0 for types no rule reads.
int32_t FieldToken(char type) {
  switch (type) {
    case 'C': return tok::kFieldC;
    case 'N':
    case 'F': return tok::kFieldN;
    case 'L': return tok::kFieldL;
    case 'D': return tok::kFieldD;
    case 'M': return tok::kFieldM;
    default: return 0;
  }
}

int32_t TypeOfFieldToken(int32_t token) { return token - tok::kFieldC + kTypeC; }

void CountField(const FieldEntry& f) {
  Compilation& c = Compiling();
  if (f.type == 'C') AddBuffer(f.length + 1u);
  c.last_length = f.length;
  if (f.type == 'N' || f.type == 'F') c.decimals = c.decimals == kDecimalsUnset ? f.decimals : 2;
}

// The field token for `name` in `area`, 0 when it is no field there.
int ScanField(WorkArea* area, const std::string& name, bool aliased, ExprValue& value) {
  if (area == nullptr) return 0;
  const auto& fields = area->table.fields;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].name != name) continue;
    const int32_t token = FieldToken(fields[i].type);
    if (token == 0) return 0;
    CountField(fields[i]);
    value.token = aliased ? token + (tok::kAliasFieldC - tok::kFieldC) : token;
    value.type = TypeOfFieldToken(token);
    value.field = static_cast<int32_t>(i + 1);
    value.area = aliased ? area->number : 0;
    return value.token;
  }
  return 0;
}

// "->" and a second name after the first; the scan position moves past
// them only when both are there.
bool ScanAliasedName(std::string& field) {
  Compilation& c = Compiling();
  const size_t saved = c.pos;
  SkipBlanks();
  if (Look() == '-' && Look(1) == '>') {
    c.pos += 2;
    SkipBlanks();
    if (IsNameStart(Look())) {
      field = ScanWord();
      return true;
    }
  }
  c.pos = saved;
  return false;
}

bool ParenthesisFollows() {
  size_t ahead = 0;
  while (IsBlank(Look(ahead))) ++ahead;
  return Look(ahead) == '(';
}

int ScanName(ExprValue& value) {
  std::string name = ScanWord();
  std::string field;
  const bool aliased = ScanAliasedName(field);
  if (!ParenthesisFollows()) {
    WorkArea* area = aliased ? AreaWithAlias(name) : CurrentArea();
    const int token = ScanField(area, aliased ? field : name, aliased, value);
    if (token != 0) return token;
  }
  if (aliased) name += "." + field;
  const Keyword& k = LookupKeyword(name);
  Compilation& c = Compiling();
  AddBuffer(k.result_space);
  c.last_length = 0;
  c.decimals = 2;
  if (k.token == tok::kTrue || k.token == tok::kFalse) value.type = kTypeL;
  return k.token;
}

// Operators of one or two characters; anything else stands for itself.
int ScanOperator() {
  Compilation& c = Compiling();
  const char ch = Look();
  const char next = Look(1);
  int token = static_cast<unsigned char>(ch);
  size_t width = 1;
  if (ch == '=' && next == '=') {
    token = tok::kExactEq, width = 2;
  } else if (ch == '<' && next == '>') {
    token = tok::kNotEqual, width = 2;
  } else if (ch == '<' && next == '=') {
    token = tok::kLessEq, width = 2;
  } else if (ch == '>' && next == '=') {
    token = tok::kGreaterEq, width = 2;
  } else if (ch == '*' && next == '*') {
    token = '^', width = 2;
  } else if (ch == '#') {
    token = tok::kNotEqual;
  } else if (ch == '$') {
    token = tok::kContains;
  }
  c.pos += width;
  return token;
}

}  // namespace

void StartScan(const std::string& text, CompiledExpr& expr) {
  Compilation& c = Compiling();
  c = Compilation{};
  c.text = text;
  c.expr = &expr;
  expr.literals.reserve(kLiteralLimit + 1);
  const size_t input = std::min(text.find('\0'), text.size());
  c.end = std::min(input, kScanLimit);
  for (size_t i = c.end; i < input; ++i) {
    if (!IsBlank(text[i])) c.overlong = true;
  }
}

int NextToken(ExprValue& value) {
  value = ExprValue{};
  SkipBlanks();
  Compilation& c = Compiling();
  if (c.pos >= c.end) return c.overlong ? tok::kEot : 0;
  const char ch = Look();
  if (IsDigit(ch)) return ScanNumber(value);
  if (ch == '\'' || ch == '"') return ScanString(value);
  if (IsNameStart(ch)) return ScanName(value);
  return ScanOperator();
}

}  // namespace ov
