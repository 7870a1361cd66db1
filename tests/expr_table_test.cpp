// Expressions compiled and evaluated against a real table open in a work
// area: the cases of tests/data/expr_cases.txt, field reads with and
// without a current record, memo fields, aliased fields, the compiled
// conditions of navigation, and evaluation that allocates nothing after
// the first time.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/expr/evaluate.h"
#include "engine/expr/ovparser.h"
#include "engine/memo/memo_area.h"
#include "engine/support/ovcommon.h"
#include "engine/support/timedate.h"
#include "tests/test_support.h"

// ---- Allocation counting for this test binary ----
// Every allocation goes through malloc as before; only the count is new,
// and it counts only while a test has switched it on.

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

void* CountedAlloc(std::size_t n) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
}  // namespace

void* operator new(std::size_t n) { return CountedAlloc(n); }
void* operator new[](std::size_t n) { return CountedAlloc(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return CountedAlloc(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace ov {
namespace {

// The table every case runs against: one record, changed per case.
const std::vector<FieldDef> kFields{{"NAME", 'C', 10, 0},  {"CITY", 'C', 8, 0},  {"AMOUNT", 'N', 10, 2},
                                    {"QTY", 'N', 4, 0},    {"BIRTH", 'D', 8, 0}, {"PAID", 'L', 1, 0},
                                    {"NOTES", 'M', 10, 0}, {"RATE", 'F', 8, 3}};
const std::map<std::string, std::string> kDefaults{{"NAME", "SMITH"}, {"CITY", "BOSTON"},    {"AMOUNT", "1234.50"},
                                                   {"QTY", "7"},      {"BIRTH", "19600228"}, {"PAID", "T"},
                                                   {"NOTES", ""},     {"RATE", "0.125"}};

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::stringstream in(s);
  std::string part;
  while (std::getline(in, part, sep)) parts.push_back(Trim(part));
  return parts;
}

// 'text' keeps its blanks; anything else is taken trimmed. "\r" and "\n"
// stand for CR and LF.
std::string Unquote(const std::string& s) {
  std::string t = s.size() >= 2 && s.front() == '\'' && s.back() == '\'' ? s.substr(1, s.size() - 2) : s;
  for (size_t i = 0; (i = t.find('\\', i)) != std::string::npos && i + 1 < t.size(); ++i) {
    if (t[i + 1] == 'r' || t[i + 1] == 'n') t.replace(i, 2, 1, t[i + 1] == 'r' ? '\r' : '\n');
  }
  return t;
}

class ExprTableTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    AreaConfig().AnsiTables = true;
    AreaConfig().MultiUser = false;
    SetDateType(0);
    Engine().dates.CenturyOn = false;
    DbfFile dbf;
    CreateDbf(dbf, Path("PEOPLE"), kFields);
    USE(Path("PEOPLE"));
    ClearRecord();
    Append();
    Select(2);
    CreateDbf(dbf, Path("OTHER"), std::vector<FieldDef>{{"CODE", 'C', 4, 0}, {"VALUE", 'N', 6, 2}});
    USE(Path("OTHER"));
    ClearRecord();
    SetFieldText(1, "AB");
    SetFieldNumber(2, 3.5);
    Append();
    Select(1);
  }

  // Writes record n of area 1 from the defaults and the overrides.
  void SetRecord(const std::map<std::string, std::string>& values, bool deleted, int32_t n = 1) {
    std::string rec(1, deleted ? '*' : ' ');
    for (const FieldDef& f : kFields) {
      std::string v = values.count(f.name) ? values.at(f.name) : kDefaults.at(f.name);
      if (f.type == 'M') v = v.empty() ? "" : std::to_string(AddMemo(v));
      const size_t w = static_cast<size_t>(f.length);
      v.resize(std::min(v.size(), w));
      const bool right = f.type == 'N' || f.type == 'F' || f.type == 'M';
      rec += right ? std::string(w - v.size(), ' ') + v : v + std::string(w - v.size(), ' ');
    }
    WorkArea& a = *CurrentArea();
    a.table.record.assign(rec.begin(), rec.end());
    PutDbfRecord(a.table, n);
    GO(n);
  }

  // Applies the record column: FIELD=value pairs and @settings.
  void Prepare(const std::string& column) {
    std::map<std::string, std::string> values;
    bool eof = false, deleted = false;
    for (const std::string& item : Split(column, ';')) {
      if (item.empty()) continue;
      const size_t eq = item.find('=');
      const std::string key = Trim(item.substr(0, eq));
      const std::string value = eq == std::string::npos ? "" : Unquote(Trim(item.substr(eq + 1)));
      if (key == "@EOF")
        eof = true;
      else if (key == "@DELETED")
        deleted = true;
      else if (key == "@CENTURY")
        Engine().dates.CenturyOn = value == "ON";
      else if (key == "@DATETYPE")
        SetDateType(std::stoi(value));
      else if (key == "@MEMOWIDTH")
        MemoWidth() = static_cast<uint16_t>(std::stoi(value));
      else if (key == "@TODAY")
        env_.SetToday(std::stoi(value.substr(0, 4)), std::stoi(value.substr(4, 2)), std::stoi(value.substr(6, 2)));
      else
        values[key] = value;
    }
    SetRecord(values, deleted);
    if (eof) SKIP(1);
  }
};

// One line: expression | record | type length decimals | value.
struct Case {
  int line = 0;
  std::string text, record, shape, value;
};

std::vector<Case> LoadCases() {
  std::ifstream in(std::string(OV_SOURCE_DIR) + "/tests/data/expr_cases.txt");
  std::vector<Case> cases;
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (Trim(line).empty() || Trim(line)[0] == '#') continue;
    std::vector<std::string> p = Split(line, '|');
    EXPECT_EQ(p.size(), 4u) << "line " << n << ": " << line;
    if (p.size() != 4) continue;
    cases.push_back({n, p[0], p[1], p[2], p[3]});
  }
  return cases;
}

// Compares the result with the value column; an empty answer means equal.
std::string Mismatch(const CompiledExpr& e, const void* r, const std::string& want) {
  std::ostringstream got;
  switch (e.result_type) {
    case 'C':
    case 'M': got << "'" << static_cast<const char*>(r) << "'"; return got.str() == want ? "" : got.str();
    case 'L': got << (*static_cast<const int32_t*>(r) != 0 ? ".T." : ".F."); return got.str() == want ? "" : got.str();
    case 'D': {
      const std::string dtos = DayNumberToRecord(*static_cast<const double*>(r));
      const std::string shown = Trim(dtos).empty() ? "blank" : dtos;
      return shown == want ? "" : shown;
    }
    default: {
      const double x = *static_cast<const double*>(r), w = std::strtod(want.c_str(), nullptr);
      got.precision(17);
      got << x;
      return std::fabs(x - w) <= 1e-9 * std::max(1.0, std::fabs(w)) ? "" : got.str();
    }
  }
}

// "!code text": the code, and text the error context must begin with.
void ExpectError(const Case& c, const std::string& stage) {
  const std::string want = c.value.substr(1);
  const size_t blank = want.find(' ');
  const int code = std::stoi(want.substr(0, blank));
  EXPECT_EQ(Errors().DbfError, code) << stage << ", line " << c.line << ": " << c.text;
  if (blank != std::string::npos) {
    const std::string text = want.substr(blank + 1);
    EXPECT_EQ(Errors().ErrorContext.substr(0, text.size()), text) << "line " << c.line << ": " << c.text;
  }
}

void CheckShape(const Case& c, const CompiledExpr& e) {
  const std::vector<std::string> shape = Split(c.shape, ' ');
  ASSERT_FALSE(shape.empty()) << "line " << c.line;
  EXPECT_EQ(std::string(1, e.result_type), shape[0]) << "line " << c.line << ": " << c.text;
  if (shape.size() > 1 && shape[1] != "*") {
    EXPECT_EQ(e.result_length, std::stoi(shape[1])) << "length, line " << c.line;
  }
  if (shape.size() > 2 && shape[2] != "*") {
    EXPECT_EQ(e.decimals, std::stoi(shape[2])) << "decimals, line " << c.line;
  }
}

TEST_F(ExprTableTest, CasesFile) {
  const std::vector<Case> cases = LoadCases();
  ASSERT_GT(cases.size(), 150u);
  for (const Case& c : cases) {
    Prepare(c.record);
    QuietErrors quiet;
    Errors().DbfError = 0;
    CompiledExpr* e = AssignExpr(c.text);
    if (e == nullptr) {
      if (c.value[0] == '!')
        ExpectError(c, "compile");
      else
        ADD_FAILURE() << "line " << c.line << ": " << c.text << " does not compile: " << Errors().ErrorContext;
    } else {
      CheckShape(c, *e);
      const void* r = Evaluate(e);
      if (c.value[0] == '!') {
        ExpectError(c, "evaluate");
      } else {
        EXPECT_EQ(Errors().DbfError, 0) << "line " << c.line << ": " << c.text << " " << Errors().ErrorContext;
        const std::string bad = Mismatch(*e, r, c.value);
        EXPECT_EQ(bad, "") << "line " << c.line << ": " << c.text << " wanted " << c.value;
      }
      FreeExpr(e);
    }
    SetDateType(0);
    Engine().dates.CenturyOn = false;
    MemoWidth() = 0;
  }
}

// ---- Field reads in detail ----

TEST_F(ExprTableTest, ACharacterFieldKeepsItsWidthAndTheResultStartsThePool) {
  Prepare("NAME=SMITH");
  CompiledExpr* e = AssignExpr("NAME");
  const char* r = static_cast<const char*>(Evaluate(e));
  EXPECT_EQ(r, e->buffer.get());
  EXPECT_STREQ(r, "SMITH     ");
  FreeExpr(e);
}

TEST_F(ExprTableTest, WithoutACurrentRecordFieldsReadEmpty) {
  Prepare("@EOF");
  ASSERT_TRUE(dEOF());
  // The record buffer still holds bytes; none of them may show through.
  CurrentArea()->table.record.assign(CurrentArea()->table.record.size(), '9');
  CompiledExpr* e = AssignExpr("NAME + DTOS(BIRTH) + STR(QTY, 4) + IIF(PAID .OR. DELETED(), 'y', 'n')");
  EXPECT_EQ(static_cast<const char*>(Evaluate(e)), std::string(21, ' ') + "0n");
  FreeExpr(e);
}

TEST_F(ExprTableTest, AnAliasedFieldReadsItsOwnArea) {
  Prepare("");
  CompiledExpr* e = AssignExpr("OTHER->CODE + NAME + STR(OTHER->VALUE * 2, 5, 1)");
  EXPECT_STREQ(static_cast<const char*>(Evaluate(e)), "AB  SMITH       7.0");
  // The other area at its end reads empty while this one does not.
  Select(2);
  GoBottom();
  SKIP(1);
  Select(1);
  EXPECT_STREQ(static_cast<const char*>(Evaluate(e)), "    SMITH       0.0");
  // A closed area reads as nothing rather than failing.
  Select(2);
  CloseArea();
  Select(1);
  EXPECT_STREQ(static_cast<const char*>(Evaluate(e)), "SMITH       0.0");
  FreeExpr(e);
}

TEST_F(ExprTableTest, MemoLinesAreJoinedAndCutAtThePoolEnd) {
  MemoWidth() = 12;
  Prepare("NOTES='one\r\ntwo\r\nthree'");
  CompiledExpr* e = AssignExpr("NOTES");
  ASSERT_EQ(e->result_type, 'M');
  EXPECT_STREQ(static_cast<const char*>(Evaluate(e)), "onetwothree");
  Prepare("NOTES='first line\r\nsecond'");
  EXPECT_STREQ(static_cast<const char*>(Evaluate(e)), "first lines");
  FreeExpr(e);
  // The memo is read with its own area current; the caller's stays.
  e = AssignExpr("PEOPLE->NOTES");
  Select(2);
  EXPECT_STREQ(static_cast<const char*>(Evaluate(e)), "first lines");
  EXPECT_EQ(SelectedArea(), 2);
  Select(1);
  FreeExpr(e);
  MemoWidth() = 0;
  e = AssignExpr("NOTES");
  EXPECT_STREQ(static_cast<const char*>(Evaluate(e)), "");
  FreeExpr(e);
}

TEST_F(ExprTableTest, EvaluateCurrentRepeatsTheLastExpression) {
  Prepare("QTY=5");
  CompiledExpr* e = AssignExpr("QTY * 2");
  ASSERT_NE(EvaluateCurrent(), nullptr);  // compiling made it current
  EXPECT_EQ(*static_cast<const double*>(EvaluateCurrent()), 10);
  Prepare("QTY=6");
  EXPECT_EQ(*static_cast<const double*>(EvaluateCurrent()), 12);
  FreeExpr(e);
  EXPECT_EQ(EvaluateCurrent(), nullptr);
}

// ---- Conditions in navigation ----

class ExprConditionTest : public ExprTableTest {
 protected:
  // Ten records: QTY 1..10, every third one deleted, NAME "N<i>".
  void Fill() {
    for (int i = 2; i <= 10; ++i) {
      ClearRecord();
      Append();
    }
    for (int i = 1; i <= 10; ++i) {
      GO(i);
      SetRecord({{"QTY", std::to_string(i)}, {"NAME", "N" + std::to_string(i)}}, i % 3 == 0, i);
    }
  }
  std::vector<int> Walk() {
    std::vector<int> seen;
    for (GoTop(); !dEOF(); SKIP(1)) seen.push_back(RecNo());
    return seen;
  }
};

TEST_F(ExprConditionTest, ForExpressionFiltersTheWalk) {
  Fill();
  ASSERT_TRUE(SetForExpression("QTY > 4 .AND. .NOT. DELETED()"));
  EXPECT_EQ(Walk(), (std::vector<int>{5, 7, 8, 10}));
  GoBottom();
  EXPECT_EQ(RecNo(), 10);
  SKIP(-1);
  EXPECT_EQ(RecNo(), 8);
  ASSERT_TRUE(SetForExpression(""));
  EXPECT_EQ(Walk().size(), 10u);
}

TEST_F(ExprConditionTest, WhileExpressionEndsTheScope) {
  Fill();
  ASSERT_TRUE(SetWhileExpression("QTY < 4"));
  EXPECT_EQ(Walk(), (std::vector<int>{1, 2, 3}));
  ASSERT_TRUE(SetWhileExpression("VAL(SUBSTR(NAME, 2, 2)) <= 6"));
  GO(5);
  SKIP(1);
  EXPECT_EQ(RecNo(), 6);
  SKIP(1);
  EXPECT_TRUE(dEOF());
}

TEST_F(ExprConditionTest, ConditionsMustBeLogical) {
  Fill();
  ASSERT_TRUE(SetForExpression("QTY > 8"));
  {
    QuietErrors quiet;
    EXPECT_FALSE(SetForExpression("QTY + 1"));
    EXPECT_EQ(Errors().DbfError, 362);
    EXPECT_EQ(Errors().ErrorContext, "Condition not of type L [Evaluate/Condition(QTY + 1)]");
    EXPECT_FALSE(SetWhileExpression("QTY >"));
    EXPECT_EQ(Errors().DbfError, 351);
  }
  EXPECT_THROW(SetForExpression("NAME"), EOrvelError);
  // The condition set before stays in force.
  EXPECT_EQ(Walk(), (std::vector<int>{9, 10}));
}

TEST_F(ExprConditionTest, ReleasedConditionsFreeTheirExpression) {
  Fill();
  ASSERT_TRUE(SetForExpression("QTY > 8"));
  const CompiledExpr* e = static_cast<const CompiledExpr*>(CurrentArea()->for_cond.expr.get());
  ASSERT_TRUE(IsLiveExpr(e));
  ASSERT_TRUE(SetForExpression("QTY > 2"));
  EXPECT_FALSE(IsLiveExpr(e));
}

// ---- No allocation after the first evaluation ----

TEST_F(ExprTableTest, EvaluationAllocatesNothingAfterTheFirstTime) {
  Prepare("");
  Select(2);
  GoTop();
  Select(1);
  const char* texts[] = {
      "UPPER(NAME) + DTOS(BIRTH)",
      "STR(QTY, 4) + NAME",
      "QTY > 1990 .AND. .NOT. DELETED()",
      "IIF(PAID, LOWER(CITY), SPACE(3)) - TRIM(NAME) + SUBSTR(NAME, 2, 3) + STUFF(CITY, 2, 1, 'xy')",
      "DTOC(BIRTH) + CDOW(BIRTH) + CMONTH(BIRTH) + SOUNDEX(NAME) + LTRIM(RIGHT(NAME, 4)) + LEFT(CITY, 2)",
      "YEAR(BIRTH) + MONTH(BIRTH) + DAY(BIRTH) + DOW(BIRTH) + ROUND(AMOUNT, 1) + MOD(QTY, 3) + RECNO()",
      "MAX(BIRTH, CTOD('01/01/90')) - MIN(BIRTH + 1, DATE()) + VAL('12.5') + LEN(NAME) + AT('M', NAME) + ASC(NAME)",
      "OTHER->CODE + REPLICATE('ab', 3) + CHR(65) $ NAME .OR. NAME = 'SM' .AND. AMOUNT ^ 2 > RATE / 3",
  };
  // The counter itself sees allocations.
  g_allocations = 0;
  g_counting = true;
  auto probe = std::make_unique<int>(1);
  g_counting = false;
  ASSERT_EQ(g_allocations.load(), 1);
  for (const char* text : texts) {
    CompiledExpr* e = AssignExpr(text);
    ASSERT_NE(e, nullptr) << text;
    Evaluate(e);
    g_allocations = 0;
    g_counting = true;
    for (int i = 0; i < 100; ++i) Evaluate(e);
    g_counting = false;
    EXPECT_EQ(g_allocations.load(), 0) << text;
    FreeExpr(e);
  }
}

}  // namespace
}  // namespace ov
