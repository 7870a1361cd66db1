// Random and damaged expression texts, compiled and evaluated against a
// real record with immediate errors off: nothing may crash, throw, or
// leave the working pool, and every failure must carry one of the
// expression engine's error numbers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/expr/evaluate.h"
#include "engine/expr/ovparser.h"
#include "engine/memo/memo_area.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

const std::set<uint16_t> kExpressionErrors{217, 351, 354, 356, 358, 359, 360, 361, 362};

// Well-typed expressions built from the grammar, to be damaged later.
class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}

  std::string Text() {
    const char types[] = "CNDL";
    std::string t = Expr(types[Pick(4)], 0);
    if (Pick(3) == 0) Mutate(t);
    if (Pick(25) == 0) t = Special();
    return t.size() > 255 ? t.substr(0, 255) : t;
  }
  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

 private:
  std::string Expr(char type, int depth) {
    const bool leaf = depth > 6 || Pick(3) == 0;
    switch (type) {
      case 'C': return leaf ? CharLeaf() : CharNode(depth + 1);
      case 'N': return leaf ? NumLeaf() : NumNode(depth + 1);
      case 'D': return leaf ? DateLeaf() : DateNode(depth + 1);
      default: return leaf ? LogicalLeaf() : LogicalNode(depth + 1);
    }
  }
  std::string C(int d) { return Expr('C', d); }
  std::string N(int d) { return Expr('N', d); }
  std::string D(int d) { return Expr('D', d); }
  std::string L(int d) { return Expr('L', d); }

  std::string CharLeaf() {
    switch (Pick(5)) {
      case 0: return "NAME";
      case 1: return "city";
      case 2: return "OTHER->CODE";
      case 3: return "'" + std::string(Pick(8) == 0 ? Pick(250) : Pick(12), static_cast<char>('a' + Pick(26))) + "'";
      default: return "\"x y\"";
    }
  }
  std::string NumLeaf() {
    static const char* const kNumbers[] = {"0",   "1",     "2.5",   "7",         "255",
                                           "300", "1E300", "0.001", "123456789", "3.14159"};
    switch (Pick(6)) {
      case 0: return "AMOUNT";
      case 1: return "QTY";
      case 2: return "RATE";
      case 3: return "OTHER->VALUE";
      default: return kNumbers[Pick(10)];
    }
  }
  std::string DateLeaf() {
    return Pick(2) == 0 ? "BIRTH" : "CTOD('" + std::string(Pick(2) ? "02/29/2024" : "  /  /  ") + "')";
  }
  std::string LogicalLeaf() {
    static const char* const kLeaves[] = {"PAID", ".T.", ".F.", "DELETED()"};
    return kLeaves[Pick(4)];
  }

  std::string CharNode(int d) {
    static const char* const kOne[] = {"UPPER", "LOWER", "TRIM", "LTRIM", "RTRIM", "SOUNDEX"};
    switch (Pick(12)) {
      case 0: return std::string(kOne[Pick(6)]) + "(" + C(d) + ")";
      case 1: return std::string(Pick(2) ? "LEFT(" : "RIGHT(") + C(d) + ", " + N(d) + ")";
      case 2: return "SUBSTR(" + C(d) + ", " + N(d) + ", " + N(d) + ")";
      case 3: return "STUFF(" + C(d) + ", " + N(d) + ", " + N(d) + ", " + C(d) + ")";
      case 4: return std::string(Pick(2) ? "REPLICATE(" + C(d) + ", " : "SPACE(") + N(d) + ")";
      case 5: {
        const size_t args = 1 + Pick(3);
        std::string s = "STR(" + N(d);
        for (size_t i = 1; i < args; ++i) s += ", " + N(d);
        return s + ")";
      }
      case 6: {
        static const char* const kDate[] = {"DTOS", "DTOC", "CDOW", "CMONTH"};
        return std::string(kDate[Pick(4)]) + "(" + D(d) + ")";
      }
      case 7: return "CHR(" + N(d) + ")";
      case 8: return "IIF(" + L(d) + ", " + C(d) + ", " + C(d) + ")";
      case 9: return C(d) + (Pick(2) ? " + " : " - ") + C(d);
      default: return "(" + C(d) + ")";
    }
  }
  std::string NumNode(int d) {
    static const char* const kOps[] = {" + ", " - ", " * ", " / ", " ^ ", "**"};
    static const char* const kOne[] = {"ABS", "INT"};
    static const char* const kTwo[] = {"ROUND", "MOD", "MIN", "MAX"};
    static const char* const kText[] = {"ASC", "LEN", "VAL"};
    static const char* const kDate[] = {"YEAR", "MONTH", "DAY", "DOW"};
    switch (Pick(10)) {
      case 0: return N(d) + kOps[Pick(6)] + N(d);
      case 1: return "-" + N(d);
      case 2: return std::string(kOne[Pick(2)]) + "(" + N(d) + ")";
      case 3: return std::string(kTwo[Pick(4)]) + "(" + N(d) + ", " + N(d) + ")";
      case 4: return std::string(kText[Pick(3)]) + "(" + C(d) + ")";
      case 5: return "AT(" + C(d) + ", " + C(d) + ")";
      case 6: return std::string(kDate[Pick(4)]) + "(" + D(d) + ")";
      case 7: return "RECNO()";
      case 8: return D(d) + " - " + D(d);
      default: return "(" + N(d) + ")";
    }
  }
  std::string DateNode(int d) {
    switch (Pick(5)) {
      case 0: return D(d) + " + " + N(d);
      case 1: return N(d) + " + " + D(d);
      case 2: return D(d) + " - " + N(d);
      case 3: return std::string(Pick(2) ? "MIN(" : "MAX(") + D(d) + ", " + D(d) + ")";
      default: return Pick(2) ? "DATE()" : "(" + D(d) + ")";
    }
  }
  std::string LogicalNode(int d) {
    static const char* const kCmp[] = {" = ", " <> ", " # ", " < ", " > ", " <= ", " >= "};
    static const char* const kText[] = {" = ", " == ", " <> ", " $ ", " < ", " >= "};
    switch (Pick(7)) {
      case 0: return ".NOT. " + L(d);
      case 1: return L(d) + (Pick(2) ? " .AND. " : " .OR. ") + L(d);
      case 2: return N(d) + kCmp[Pick(7)] + N(d);
      case 3: return C(d) + kText[Pick(6)] + C(d);
      case 4: return D(d) + kCmp[Pick(7)] + D(d);
      case 5: return L(d) + (Pick(2) ? " = " : " <> ") + L(d);
      default: return "(" + L(d) + ")";
    }
  }

  // Deletes, inserts, swaps or cuts characters.
  void Mutate(std::string& t) {
    static const std::string kChars = "()'\",+-*/^=<>#$.ABCXYZ019 ->_\t";
    for (size_t n = 1 + Pick(3); n > 0 && !t.empty(); --n) {
      const size_t at = Pick(t.size());
      switch (Pick(5)) {
        case 0: t.erase(at, 1); break;
        case 1: t.insert(at, 1, kChars[Pick(kChars.size())]); break;
        case 2: std::swap(t[at], t[Pick(t.size())]); break;
        case 3: t.resize(at); break;
        default: t.insert(at, t.substr(Pick(t.size()), Pick(20))); break;
      }
    }
  }

  // Shapes the grammar alone rarely makes: deep nesting, long literals.
  std::string Special() {
    const size_t k = 1 + Pick(200);
    switch (Pick(8)) {
      case 0: return std::string(k, '(') + "1" + std::string(k, ')');
      case 1: return std::string(k, '(') + "1" + std::string(Pick(k + 2), ')');
      case 2: return std::string(k, '-') + "QTY";
      case 3: {
        std::string s;
        while (s.size() < k) s += ".NOT. ";
        return s + ".T.";
      }
      case 4: return "'" + std::string(k + 50, 'q') + "' + NAME";
      case 5: return "REPLICATE('ab', 200) + REPLICATE(NAME, 99) - SPACE(300)";
      case 6: {
        std::string s = "NAME";
        while (s.size() < 240) s += " + 'x'";
        return s;
      }
      default: return "STR(1E300 * 1E300, 300, 300) + STR(-(1E300 * 1E300), 20)";
    }
  }

  std::mt19937 rng_;
};

class ExprRandomTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    AreaConfig().AnsiTables = true;
    AreaConfig().MultiUser = false;
    DbfFile dbf;
    CreateDbf(dbf, Path("PEOPLE"),
              std::vector<FieldDef>{{"NAME", 'C', 10, 0},
                                    {"CITY", 'C', 8, 0},
                                    {"AMOUNT", 'N', 10, 2},
                                    {"QTY", 'N', 4, 0},
                                    {"BIRTH", 'D', 8, 0},
                                    {"PAID", 'L', 1, 0},
                                    {"NOTES", 'M', 10, 0},
                                    {"RATE", 'F', 8, 3}});
    USE(Path("PEOPLE"));
    ClearRecord();
    SetFieldText(1, "SMITH");
    SetFieldText(2, "BOSTON");
    SetFieldNumber(3, 1234.5);
    SetFieldNumber(4, 7);
    SetFieldText(5, "02/28/60");
    SetFieldLogical(6, true);
    SetFieldNumber(8, 0.125);
    Append();
    SetFieldNumber(7, AddMemo(std::string(300, 'm') + "\r\nsecond line"));
    Replace();
    Select(2);
    CreateDbf(dbf, Path("OTHER"), std::vector<FieldDef>{{"CODE", 'C', 4, 0}, {"VALUE", 'N', 6, 2}});
    USE(Path("OTHER"));
    ClearRecord();
    SetFieldText(1, "AB");
    Append();
    Select(1);
    GO(1);
  }
};

// The result sits where the rules put it, within the expression's pool.
void CheckResult(const CompiledExpr& e, const void* r, const std::string& text) {
  ASSERT_NE(r, nullptr) << text;
  const char* pool = e.buffer.get();
  if (pool != nullptr) {
    ASSERT_GE(e.pool_top, pool) << text;
    ASSERT_LE(e.pool_top, pool + e.buffer_size) << text;
  }
  if (e.result_type == 'C' || e.result_type == 'M') {
    const char* s = static_cast<const char*>(r);
    const size_t limit = pool != nullptr ? e.buffer_size : 1;
    const size_t n = strnlen(s, limit);
    ASSERT_LT(n, limit) << text;
    ASSERT_LE(n, 255u) << text;
    if (n > 0) {
      ASSERT_EQ(s, pool) << text;
    }
  } else if (e.result_type == 'L') {
    const int32_t v = *static_cast<const int32_t*>(r);
    ASSERT_TRUE(v == 0 || v == 1) << text;
  }
}

TEST_F(ExprRandomTest, RandomAndDamagedTextsFailOnlyWithExpressionErrors) {
  QuietErrors quiet;
  Generator gen(20240229);
  int compiled = 0, evaluated_with_error = 0;
  constexpr int kTexts = 30000;
  for (int i = 0; i < kTexts; ++i) {
    const std::string text = gen.Text();
    SCOPED_TRACE("text #" + std::to_string(i) + ": " + text);
    MemoWidth() = gen.Pick(4) == 0 ? static_cast<uint16_t>(gen.Pick(400)) : 0;
    if (gen.Pick(20) == 0) {
      GoBottom();
      SKIP(1);  // no current record
    } else {
      GO(1);
    }
    Errors().DbfError = 0;
    CompiledExpr* e = nullptr;
    try {
      e = AssignExpr(text);
    } catch (const std::exception& x) {
      FAIL() << "compile threw " << x.what();
    }
    if (e == nullptr) {
      ASSERT_EQ(kExpressionErrors.count(Errors().DbfError), 1u) << Errors().DbfError;
      continue;
    }
    ++compiled;
    for (int round = 0; round < 2; ++round) {
      Errors().DbfError = 0;
      const void* r = nullptr;
      try {
        r = Evaluate(e);
      } catch (const std::exception& x) {
        FAIL() << "evaluate threw " << x.what();
      }
      if (Errors().DbfError != 0) {
        ++evaluated_with_error;
        ASSERT_EQ(kExpressionErrors.count(Errors().DbfError), 1u) << Errors().DbfError << " " << Errors().ErrorContext;
      }
      CheckResult(*e, r, text);
    }
    FreeExpr(e);
  }
  MemoWidth() = 0;
  // The generator must reach the evaluator often, or the test proves little.
  EXPECT_GT(compiled, kTexts / 3);
  EXPECT_GT(evaluated_with_error, 0);
}

// Texts of every length up to the scanner's limit and beyond.
TEST_F(ExprRandomTest, LongTextsAreReadUpToTheirLimit) {
  QuietErrors quiet;
  for (size_t n = 1; n <= 400; n += 7) {
    const std::string literal = "'" + std::string(n, 'z') + "'";
    Errors().DbfError = 0;
    CompiledExpr* e = AssignExpr(literal + " + NAME");
    if (e == nullptr) {
      EXPECT_EQ(Errors().DbfError, 351) << n;
      continue;
    }
    const char* r = static_cast<const char*>(Evaluate(e));
    EXPECT_EQ(Errors().DbfError, 0) << n;
    EXPECT_EQ(std::string(r), (std::string(n, 'z') + "SMITH     ").substr(0, 255)) << n;
    FreeExpr(e);
  }
}

}  // namespace
}  // namespace ov
