// The expression compiler: tokens, grammar and precedence (through the
// order of the emitted code), type checks, field references, result
// shapes, error texts, the parser stack limit, and CheckExpression.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/expr/ovparser.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

struct ExprDeleter {
  void operator()(CompiledExpr* e) const { FreeExpr(e); }
};
using ExprPtr = std::unique_ptr<CompiledExpr, ExprDeleter>;

// The code as text: constants by value ("2", "L1", "'abc'"), operations
// as opcode/argc, the end item as "end".
std::string CodeText(const CompiledExpr& e) {
  std::string out;
  for (const CodeItem& item : e.code) {
    if (!out.empty()) out += ' ';
    if (item.opcode == op::kEnd) {
      out += "end";
    } else if (item.opcode != op::kPush) {
      out += std::to_string(item.opcode) + "/" + std::to_string(item.argc);
    } else if (item.type == kTypeL) {
      out += "L" + std::to_string(item.value.logical);
    } else if (item.type == kTypeC) {
      out += "'" + std::string(item.value.str) + "'";
    } else {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%g", item.value.num);
      out += buf;
    }
  }
  return out;
}

class ExprCompileTest : public test::EngineTest {
 protected:
  // PEOPLE in area 1 (current): NAME C20, CITY C15, AMOUNT N10.2, BIRTH D,
  // PAID L, NOTES M.
  void SetUp() override {
    EngineTest::SetUp();
    Create("PEOPLE.DBF", {{"NAME", 'C', 20, 0},
                          {"CITY", 'C', 15, 0},
                          {"AMOUNT", 'N', 10, 2},
                          {"BIRTH", 'D', 8, 0},
                          {"PAID", 'L', 1, 0},
                          {"NOTES", 'M', 10, 0}});
    USE(Path("PEOPLE.DBF"));
  }

  void Create(const std::string& name, const std::vector<FieldDef>& fields) {
    DbfFile dbf;
    CreateDbf(dbf, Path(name), fields);
  }

  // OTHER in `area` with `alias`: DATE D, NAME C5, RATE F8.3, OK L, MEMO M.
  void OpenOther(int area, const std::string& alias) {
    Create("OTHER.DBF",
           {{"DATE", 'D', 8, 0}, {"NAME", 'C', 5, 0}, {"RATE", 'F', 8, 3}, {"OK", 'L', 1, 0}, {"MEMO", 'M', 10, 0}});
    Select(area);
    USE(Path("OTHER.DBF") + " ALIAS " + alias);
    Select(1);
  }

  ExprPtr Compile(const std::string& text) { return ExprPtr(AssignExpr(text)); }

  std::string Code(const std::string& text) {
    ExprPtr e = Compile(text);
    return e ? CodeText(*e) : "(failed)";
  }
  char Type(const std::string& text) {
    ExprPtr e = Compile(text);
    return e ? e->result_type : '?';
  }

  // The error context of a failing compilation, read quietly.
  std::string Failure(const std::string& text) {
    QuietErrors quiet;
    ExprPtr e = Compile(text);
    if (e) return "(compiled)";
    EXPECT_EQ(Errors().DbfError, 351) << text;
    return Errors().ErrorContext;
  }
  // Just the reason of a 351 failure.
  std::string Reason(const std::string& text) {
    const std::string context = Failure(text);
    const std::string head = "Error in expression : ";
    if (context.rfind(head, 0) != 0) return context;
    return context.substr(head.size(), context.find("\r\n") - head.size());
  }
};

TEST_F(ExprCompileTest, ResultTypesOfMixedExpressions) {
  EXPECT_EQ(Type("NAME+DTOS(BIRTH)"), 'C');
  EXPECT_EQ(Type("AMOUNT*2"), 'N');
  EXPECT_EQ(Type("BIRTH+30"), 'D');
  EXPECT_EQ(Type("30+BIRTH"), 'D');
  EXPECT_EQ(Type("BIRTH-DATE()"), 'N');
  EXPECT_EQ(Type("'abc' $ NAME"), 'L');
  EXPECT_EQ(Type("NOTES"), 'M');
  EXPECT_EQ(Type("IIF(PAID, 'y', 'n')"), 'C');
  EXPECT_EQ(Type("MAX(BIRTH, DATE())"), 'D');
  EXPECT_EQ(Type("MIN(AMOUNT, 3)"), 'N');
  EXPECT_EQ(Type("STR(AMOUNT, 10, 2) + CMONTH(BIRTH)"), 'C');
  EXPECT_EQ(Type("DELETED() .OR. RECNO() > 3"), 'L');
  EXPECT_EQ(Code("BIRTH+30"), "L4 324/1 30 349/2 end");
  EXPECT_EQ(Code("BIRTH-DATE()"), "L4 324/1 270/0 353/2 end");
  EXPECT_EQ(Code("STUFF(NAME, 1, 2, 'x')"), "L1 321/1 1 2 'x' 312/4 end");
}

TEST_F(ExprCompileTest, TypeMismatchNamesOperatorOrFunction) {
  EXPECT_EQ(Reason("IIF(PAID, 1, 0)"), "PARSER:Type mismatch in function \"IIF\"");
  EXPECT_EQ(Reason("NAME $ 5"), "PARSER:Type mismatch in expression \"$\"");
  EXPECT_EQ(Reason("CMON(AMOUNT)"), "PARSER:Type mismatch in function \"CMONTH\"");
  EXPECT_EQ(Reason("STR(NAME)"), "PARSER:Type mismatch in function \"STR\"");
  EXPECT_EQ(Reason("MAX(BIRTH, 1)"), "PARSER:Type mismatch in function \"MAX\"");
  EXPECT_EQ(Reason("2 ** 'a'"), "PARSER:Type mismatch in expression \"** or ^\"");
  EXPECT_EQ(Reason("-NAME"), "PARSER:Type mismatch in expression \"Unary -\"");
  EXPECT_EQ(Reason("+NAME"), "PARSER:Type mismatch in expression \"Unary +\"");
  EXPECT_EQ(Reason(".NOT. NAME"), "PARSER:Type mismatch in expression \".NOT.\"");
  EXPECT_EQ(Reason("PAID > PAID"), "PARSER:Type mismatch in expression \">\"");
  EXPECT_EQ(Reason("NAME == 'a' .AND. 1"), "PARSER:Type mismatch in expression \".AND.\"");
  EXPECT_EQ(Reason("NOTES + 'x'"), "PARSER:Type mismatch in expression \"+\"");
  EXPECT_EQ(Reason("BIRTH * 2"), "PARSER:Type mismatch in expression \"*\"");
  EXPECT_EQ(Reason("30 - BIRTH"), "PARSER:Type mismatch in expression \"-\"");
}

TEST_F(ExprCompileTest, KeywordsAbbreviateButNotBelowTheTable) {
  EXPECT_EQ(Code("CMON(BIRTH)"), Code("CMONTH(BIRTH)"));
  EXPECT_EQ(Code("cmont(birth)"), "L4 324/1 267/1 end");
  EXPECT_EQ(Reason("CMO(BIRTH)"), "Syntax error");
  EXPECT_EQ(Code("REPL('a', 3)"), Code("REPLICATE('a', 3)"));
  EXPECT_EQ(Code("DELE()"), "272/0 end");
  EXPECT_EQ(Reason("REPLICATES('a', 3)"), "Syntax error");
  EXPECT_EQ(Reason("DATE"), "Syntax error");  // function without parentheses
  EXPECT_EQ(Reason("RECNO"), "Syntax error");
}

TEST_F(ExprCompileTest, LogicalWordsNeedSeparatingBlanks) {
  EXPECT_EQ(Code("PAID .AND. PAID"), "L5 323/1 L5 323/1 381/2 end");
  EXPECT_EQ(Reason("PAID.AND.PAID"), "Syntax error");
  EXPECT_EQ(Code(".t. .or. .F."), "L1 L0 380/2 end");
  EXPECT_EQ(Reason(".5"), "Syntax error");
  EXPECT_EQ(Code("0.5 + 1E3 + 12."), "0.5 1000 347/2 12 347/2 end");
}

TEST_F(ExprCompileTest, OperatorSpellings) {
  EXPECT_EQ(Code("2 ** 3"), Code("2 ^ 3"));
  EXPECT_EQ(Code("AMOUNT # 1"), "L3 322/1 1 370/2 end");
  EXPECT_EQ(Code("AMOUNT <> 1"), Code("AMOUNT # 1"));
  EXPECT_EQ(Code("NAME == 'a'"), "L1 321/1 'a' 362/2 end");
  EXPECT_EQ(Code("BIRTH <= DATE()"), "L4 324/1 270/0 375/2 end");
  EXPECT_EQ(Code("NAME >= CITY"), "L1 321/1 L2 321/1 379/2 end");
  EXPECT_EQ(Code("name + \"Mixed Case\""), "L1 321/1 'Mixed Case' 350/2 end");
  EXPECT_EQ(Reason("NAME + 'open"), "Syntax error");
  EXPECT_EQ(Reason("AMOUNT ! 2"), "Syntax error");
  EXPECT_EQ(Reason("AMOUNT + 2 3"), "Syntax error");
  EXPECT_EQ(Reason("NAME\xE9"), "Syntax error");
}

TEST_F(ExprCompileTest, PrecedenceShowsInCodeOrder) {
  EXPECT_EQ(Code("-2^2"), "2 383/1 2 357/2 end");
  EXPECT_EQ(Code("2^3^2"), "2 3 357/2 2 357/2 end");
  EXPECT_EQ(Code(".NOT. PAID = PAID"), "L5 323/1 382/1 L5 323/1 361/2 end");
  EXPECT_EQ(Code("'a' $ NAME = PAID"), "'a' L1 321/1 363/2 L5 323/1 361/2 end");
  EXPECT_EQ(Code("1 + 2 * 3"), "1 2 3 355/2 347/2 end");
  EXPECT_EQ(Code("1 - 2 - 3"), "1 2 351/2 3 351/2 end");
  EXPECT_EQ(Code("(1 - 2) * +3"), "1 2 351/2 3 355/2 end");
  EXPECT_EQ(Code("PAID .OR. PAID .AND. PAID"), "L5 323/1 L5 323/1 L5 323/1 381/2 380/2 end");
  EXPECT_EQ(Code("NAME < CITY = PAID"), "L1 321/1 L2 321/1 369/2 L5 323/1 361/2 end");
  // "=" binds looser than "==", so the right side is logical.
  EXPECT_EQ(Reason("'a' = 'b' == 'c'"), "PARSER:Type mismatch in expression \"=\"");
}

TEST_F(ExprCompileTest, FieldReferencesWithAndWithoutAlias) {
  OpenOther(2, "B");
  EXPECT_EQ(Code("NAME"), "L1 321/1 end");
  EXPECT_EQ(Code("B->NAME"), "L2 L2 326/2 end");
  EXPECT_EQ(Code("b -> name + NAME"), "L2 L2 326/2 L1 321/1 350/2 end");
  EXPECT_EQ(Code("B->RATE"), "L3 L2 327/2 end");  // F reads as N
  EXPECT_EQ(Code("B->OK"), "L4 L2 328/2 end");
  EXPECT_EQ(Code("B->DATE"), "L1 L2 329/2 end");
  EXPECT_EQ(Code("B->MEMO"), "L5 L2 330/2 end");
  EXPECT_EQ(Code("PEOPLE->AMOUNT"), "L3 L1 327/2 end");
  EXPECT_EQ(Reason("X->NAME"), "Syntax error");
  EXPECT_EQ(Reason("B->AMOUNT"), "Syntax error");
  EXPECT_EQ(Reason("B->"), "Syntax error");
}

TEST_F(ExprCompileTest, AliasesAreSearchedInAreasUpTo32) {
  OpenOther(33, "LAST");
  EXPECT_EQ(Reason("LAST->NAME"), "Syntax error");
  Select(33);
  CloseArea();
  OpenOther(32, "LAST");
  EXPECT_EQ(Code("LAST->NAME"), "L2 L32 326/2 end");
}

TEST_F(ExprCompileTest, NameBeforeParenthesisIsNoField) {
  Select(1);
  CloseArea();
  OpenOther(1, "OTHER");
  EXPECT_EQ(Code("DATE"), "L1 324/1 end");
  EXPECT_EQ(Code("DATE ()"), "270/0 end");
  EXPECT_EQ(Code("DATE - DATE()"), "L1 324/1 270/0 353/2 end");
}

TEST_F(ExprCompileTest, WithoutATableOnlyLiteralsAndFunctions) {
  CloseArea();
  EXPECT_EQ(Reason("NAME"), "Syntax error");
  EXPECT_EQ(Code("UPPER('x') + STR(RECNO())"), "'x' 318/1 300/0 311/1 350/2 end");
}

TEST_F(ExprCompileTest, StringLiteralsStayPutInTheExpression) {
  ExprPtr e = Compile("'abc' + \"d'e\" + ''");
  ASSERT_TRUE(e);
  EXPECT_EQ(CodeText(*e), "'abc' 'd'e' 350/2 '' 350/2 end");
  for (const CodeItem& item : e->code) {
    if (item.opcode == op::kPush && item.type == kTypeC) {
      EXPECT_GE(item.value.str, e->literals.data());
      EXPECT_LT(item.value.str, e->literals.data() + e->literals.size());
    }
  }
}

TEST_F(ExprCompileTest, ResultLengthDecimalsAndBufferSize) {
  struct Case {
    const char* text;
    char type;
    uint16_t length, decimals, buffer;
  };
  const Case cases[] = {
      {"NAME", 'C', 20, 0, 21},
      {"NAME+CITY", 'C', 0, 0, 37},
      {"AMOUNT", 'N', 10, 2, 0},
      {"AMOUNT*2", 'N', 13, 2, 0},
      {"2*AMOUNT", 'N', 10, 2, 0},
      {"DTOS(BIRTH)", 'C', 8, 0, 9},  // the one field fills the buffer
      {"STR(AMOUNT)", 'C', 0, 0, 256},
      {"CHR(65) + SOUN(NAME)", 'C', 0, 0, 2 + 15 + 21},
      {"IIF(PAID, CDOW(BIRTH), DTOC(BIRTH))", 'C', 0, 0, 256 + 15 + 11},
      {"'abc'", 'C', 0, 0, 4},
      {"UPPER(NAME)", 'C', 20, 0, 21},
      {"TRIM(NAME)+'x'", 'C', 0, 0, 23},
      {"BIRTH", 'D', 8, 0, 0},
      {"PAID", 'L', 1, 0, 0},
      {"LEN(NAME)", 'N', 20, 2, 21},  // the last field's length counts
      {"LEN('ab')", 'N', 13, 2, 3},
      {"NOTES", 'M', 0, 0, 0},
  };
  for (const Case& c : cases) {
    ExprPtr e = Compile(c.text);
    ASSERT_TRUE(e) << c.text;
    EXPECT_EQ(e->result_type, c.type) << c.text;
    EXPECT_EQ(e->result_length, c.length) << c.text;
    EXPECT_EQ(e->decimals, c.decimals) << c.text;
    EXPECT_EQ(e->buffer_size, c.buffer) << c.text;
    EXPECT_EQ(e->buffer != nullptr, c.buffer != 0) << c.text;
    EXPECT_EQ(e->source, c.text);
  }
}

TEST_F(ExprCompileTest, BuffersAndTheMemoWidth) {
  ExprPtr name = Compile("NAME");
  ASSERT_TRUE(name);
  EXPECT_EQ(name->result, name->buffer.get());
  EXPECT_EQ(name->pool_top, name->buffer.get());
  MemoWidth() = 100;
  ExprPtr memo = Compile("NOTES");
  ASSERT_TRUE(memo);
  EXPECT_EQ(memo->buffer_size, 100);
  EXPECT_EQ(memo->result_length, 100);
  ASSERT_NE(memo->buffer, nullptr);
  EXPECT_EQ(memo->result, memo->buffer.get());
}

TEST_F(ExprCompileTest, ErrorWindowShowsTheScannedText) {
  EXPECT_EQ(Failure("NAME $ 5"),
            "Error in expression : PARSER:Type mismatch in expression \"$\"\r\n[NAME $ 5]\r\n [AssignExpr]");
  EXPECT_EQ(Failure("NAME + @ CITY"), "Error in expression : Syntax error\r\n[NAME + @...]\r\n [AssignExpr]");
  EXPECT_EQ(Failure(""), "Error in expression : Syntax error\r\n[]\r\n [AssignExpr]");

  // A 100-character text whose 70th character is the fault.
  const std::string text = "'" + std::string(66, 'x') + "'+" + "@" + "+'" + std::string(27, 'y') + "'";
  ASSERT_EQ(text.size(), 100u);
  ASSERT_EQ(text[69], '@');
  EXPECT_EQ(Failure(text),
            "Error in expression : Syntax error\r\n[..." + text.substr(20, 50) + "...]\r\n [AssignExpr]");
}

TEST_F(ExprCompileTest, ReportRaisesAndLeavesTheCompilerUsable) {
  try {
    ExprPtr e = Compile("NAME $ 5");
    FAIL() << "no exception";
  } catch (const EOrvelError& err) {
    EXPECT_EQ(std::string(err.what()),
              ErrorDescription(351) +
                  "\r\nError in expression : PARSER:Type mismatch in expression \"$\"\r\n[NAME $ 5]\r\n [AssignExpr]");
  }
  EXPECT_EQ(Code("AMOUNT + 1"), "L3 322/1 1 347/2 end");
  EXPECT_EQ(Errors().DbfError, 0);  // 350..363 are cleared by the next compilation
}

TEST_F(ExprCompileTest, OtherPendingErrorsSurviveACompilation) {
  Errors().DbfError = 217;
  ExprPtr e = Compile("1");
  EXPECT_EQ(Errors().DbfError, 217);
  Errors().DbfError = 0;
}

TEST_F(ExprCompileTest, ParserStackHolds150Entries) {
  // Start state, 148 prefix operators and the number: 150 entries.
  EXPECT_EQ(Type(std::string(148, '-') + "1"), 'N');
  EXPECT_EQ(Reason(std::string(149, '-') + "1"), "Parser_stack_overflow");
  EXPECT_EQ(Reason(std::string(149, '(') + "1"), "Parser_stack_overflow");
  EXPECT_EQ(Reason(std::string(200, '(') + "1" + std::string(200, ')')), "Parser_stack_overflow");
  // As deep as fits in the scanned characters.
  EXPECT_EQ(Type(std::string(127, '(') + "1" + std::string(127, ')')), 'N');
}

TEST_F(ExprCompileTest, TextBeyondTheScanLimitIsRefused) {
  std::string text = "NAME";
  while (text.size() < 250) text += "+NAME";
  ASSERT_EQ(text.size(), 254u);
  EXPECT_EQ(Type(text + std::string(40, ' ')), 'C');  // blanks only past the limit
  const std::string longer = text + "+CITY";
  const std::string context = Failure(longer);
  EXPECT_EQ(context, "Error in expression : Syntax error\r\n[..." + longer.substr(205, 50) + "...]\r\n [AssignExpr]");
}

TEST_F(ExprCompileTest, FreeExprAndTheRegistry) {
  CompiledExpr* e = AssignExpr("NAME");
  ASSERT_NE(e, nullptr);
  EXPECT_TRUE(IsLiveExpr(e));
  CompiledExpr* copy = e;
  FreeExpr(e);
  EXPECT_EQ(e, nullptr);
  EXPECT_FALSE(IsLiveExpr(copy));
  FreeExpr(copy);  // no longer registered: ignored
  CompiledExpr* none = nullptr;
  FreeExpr(none);
  CompiledExpr stranger;
  CompiledExpr* not_ours = &stranger;
  FreeExpr(not_ours);
  EXPECT_EQ(not_ours, &stranger);
}

TEST_F(ExprCompileTest, CheckExpressionCodes) {
  std::string text = "  \t\r\n";
  EXPECT_EQ(CheckExpression(text, true), 359);
  EXPECT_EQ(text, "");
  text = "NAME   \r\n";
  EXPECT_EQ(CheckExpression(text, true), 0);
  EXPECT_EQ(text, "NAME");

  std::string key = "'" + std::string(218, 'k') + "'";
  ASSERT_EQ(key.size(), 220u);
  EXPECT_EQ(CheckExpression(key, true), 0);
  key = "'" + std::string(219, 'k') + "'";
  EXPECT_EQ(CheckExpression(key, true), 360);
  EXPECT_EQ(CheckExpression(key, false), 362);  // the limit is for keys only

  text = "PAID";
  EXPECT_EQ(CheckExpression(text, true), 361);
  EXPECT_EQ(CheckExpression(text, false), 0);
  text = "NOTES";
  EXPECT_EQ(CheckExpression(text, true), 361);
  text = "AMOUNT";
  EXPECT_EQ(CheckExpression(text, false), 362);
  text = "NAME $ 5";
  EXPECT_EQ(CheckExpression(text, true), 351);
  EXPECT_EQ(Errors().DbfError, 0);
  EXPECT_TRUE(Errors().ImmediateErrors);
}

TEST_F(ExprCompileTest, CheckExpressionCompilesMemosWithoutWidth) {
  MemoWidth() = 64;
  std::string text = "NOTES";
  EXPECT_EQ(CheckExpression(text, true), 361);
  EXPECT_EQ(MemoWidth(), 64);
}

}  // namespace
}  // namespace ov
