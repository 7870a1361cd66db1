// The evaluator on hand-built postfix code: the limits and clipping of the
// string opcodes, the number conversions, the working pool and stack, and
// the failure paths. The everyday semantics of each operator and function
// are in tests/data/expr_cases.txt (expr_table_test.cpp).
#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "engine/expr/evaluate.h"
#include "engine/expr/ovparser.h"
#include "engine/expr/snb.h"
#include "engine/support/ovcommon.h"
#include "engine/support/timedate.h"
#include "tests/test_support.h"

namespace ov {
namespace {

// A compiled expression written by hand: constants and opcodes in postfix
// order, a pool of the given size.
class Prog {
 public:
  explicit Prog(char type, uint16_t pool = 256) {
    e_.result_type = type;
    e_.buffer_size = pool;
    if (pool > 0) e_.buffer = std::make_unique<char[]>(pool);
  }
  Prog& S(const char* s) {
    return Item(0, 0, kTypeC, [&](CodeItem& c) { c.value.str = s; });
  }
  Prog& N(double v) {
    return Item(0, 0, kTypeN, [&](CodeItem& c) { c.value.num = v; });
  }
  Prog& D(double v) {
    return Item(0, 0, kTypeD, [&](CodeItem& c) { c.value.num = v; });
  }
  Prog& L(bool v) {
    return Item(0, 0, kTypeL, [&](CodeItem& c) { c.value.logical = v ? 1 : 0; });
  }
  Prog& Op(int32_t opcode, int32_t argc = 0) {
    return Item(opcode, argc, 0, [](CodeItem&) {});
  }
  Prog& Raw(int32_t type) {
    return Item(0, 0, type, [](CodeItem&) {});
  }

  const void* Run() {
    if (e_.code.empty() || e_.code.back().opcode != op::kEnd) Op(op::kEnd);
    return Evaluate(&e_);
  }
  std::string Text() { return static_cast<const char*>(Run()); }
  double Num() { return *static_cast<const double*>(Run()); }
  bool Bool() { return *static_cast<const int32_t*>(Run()) != 0; }
  CompiledExpr& expr() { return e_; }

 private:
  template <class F>
  Prog& Item(int32_t opcode, int32_t argc, int32_t type, F fill) {
    CodeItem c;
    c.opcode = opcode;
    c.argc = argc;
    c.type = type;
    fill(c);
    e_.code.push_back(c);
    return *this;
  }
  CompiledExpr e_;
};

bool Cmp(const char* a, const char* b, int32_t opcode) { return Prog('L').S(a).S(b).Op(opcode, 2).Bool(); }

class EvalTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SetDateType(0);
    Engine().dates.CenturyOn = false;
  }
  // Runs with errors held back; answers the code left in DbfError.
  template <class F>
  static uint16_t Quiet(F f) {
    QuietErrors quiet;
    Errors().DbfError = 0;
    f();
    return Errors().DbfError;
  }
};

// ---- Strings ----

TEST_F(EvalTest, OrderingIsByteOrderWithCaseBlanksAndPrefixes) {
  EXPECT_TRUE(Cmp("ab", "abc", op::kLtC));
  EXPECT_TRUE(Cmp("ab ", "ab", op::kGtC));
  EXPECT_TRUE(Cmp("B", "a", op::kLtC));
  EXPECT_TRUE(Cmp("\xE9", "z", op::kGtC));  // codes above 127 sort high
  EXPECT_TRUE(Cmp("abc", "abc", op::kLeC));
  EXPECT_TRUE(Cmp("abc", "abc", op::kGeC));
  EXPECT_FALSE(Cmp("abd", "abc", op::kLeC));
}

TEST_F(EvalTest, StringResultsAreCutAt255Characters) {
  const std::string a(200, 'a'), b(200, 'b');
  Prog cat('C', 402);
  const std::string joined = cat.S(a.c_str()).S(b.c_str()).Op(op::kAddCC, 2).Text();
  EXPECT_EQ(joined, a + std::string(55, 'b'));
  // A huge count costs no time and no room.
  std::string ab;
  while (ab.size() < 255) ab += "ab";
  EXPECT_EQ(Prog('C').S("ab").N(1e15).Op(tok::kReplicate, 2).Text(), ab.substr(0, 255));
  EXPECT_EQ(Prog('C').N(300).Op(tok::kSpace, 1).Text(), std::string(255, ' '));
  EXPECT_EQ(Prog('C').S("").N(1e15).Op(tok::kReplicate, 2).Text(), "");
  EXPECT_EQ(Prog('C').S("ab").N(-2).Op(tok::kReplicate, 2).Text(), "");
  EXPECT_EQ(Prog('C').N(-3).Op(tok::kSpace, 1).Text(), "");
}

TEST_F(EvalTest, LeftRightSubstrAndStuffClipToTheString) {
  EXPECT_EQ(Prog('C').S("abcdef").N(3.9).Op(tok::kLeft, 2).Text(), "abc");
  EXPECT_EQ(Prog('C').S("abc").N(10).Op(tok::kLeft, 2).Text(), "abc");
  EXPECT_EQ(Prog('C').S("abc").N(0).Op(tok::kLeft, 2).Text(), "");
  EXPECT_EQ(Prog('C').S("abc").N(-1).Op(tok::kLeft, 2).Text(), "");
  EXPECT_EQ(Prog('C').S("abcdef").N(2).Op(tok::kRight, 2).Text(), "ef");
  EXPECT_EQ(Prog('C').S("abc").N(9).Op(tok::kRight, 2).Text(), "abc");
  EXPECT_EQ(Prog('C').S("abc").N(-1).Op(tok::kRight, 2).Text(), "");
  auto substr = [](const char* s, double p, double n) { return Prog('C').S(s).N(p).N(n).Op(tok::kSubstr, 3).Text(); };
  EXPECT_EQ(substr("abcdef", 2, 3), "bcd");
  EXPECT_EQ(substr("abcdef", 5, 10), "ef");
  EXPECT_EQ(substr("abcdef", 0, 3), "abc");
  EXPECT_EQ(substr("abcdef", 9, 2), "");
  EXPECT_EQ(substr("abcdef", 2, -1), "");
  auto stuff = [](const char* s, double p, double n, const char* r) {
    return Prog('C').S(s).N(p).N(n).S(r).Op(tok::kStuff, 4).Text();
  };
  EXPECT_EQ(stuff("abcdef", 2, 3, "XY"), "aXYef");
  EXPECT_EQ(stuff("abc", 10, 2, "Z"), "abcZ");
  EXPECT_EQ(stuff("abc", 0, 1, "Z"), "Zbc");
  EXPECT_EQ(stuff("abc", 2, -1, "Z"), "aZbc");
  EXPECT_EQ(stuff("abc", 2, 99, ""), "a");
}

TEST_F(EvalTest, TrimsCaseAndSingleCharacterFunctions) {
  EXPECT_EQ(Prog('C').S("  a b  ").Op(tok::kTrim, 1).Text(), "  a b");
  EXPECT_EQ(Prog('C').S("  a b  ").Op(tok::kRtrim, 1).Text(), "  a b");
  EXPECT_EQ(Prog('C').S("  a b  ").Op(tok::kLtrim, 1).Text(), "a b  ");
  EXPECT_EQ(Prog('C').S("\t a").Op(tok::kLtrim, 1).Text(), "\t a");  // blanks only
  EXPECT_EQ(Prog('C').S("    ").Op(tok::kTrim, 1).Text(), "");
  EXPECT_EQ(Prog('C').S("abc \xE9\xFF").Op(tok::kUpper, 1).Text(), "ABC \xC9\x9F");
  EXPECT_EQ(Prog('C').S("ABC \xC9").Op(tok::kLower, 1).Text(), "abc \xE9");
  EXPECT_EQ(Prog('C').N(65.7).Op(tok::kChr, 1).Text(), "A");
  EXPECT_EQ(Prog('C').N(256 + 66).Op(tok::kChr, 1).Text(), "B");
  EXPECT_EQ(Prog('N').S("A").Op(tok::kAsc, 1).Num(), 65);
  EXPECT_EQ(Prog('N').S("\xE9").Op(tok::kAsc, 1).Num(), 0xE9);
  EXPECT_EQ(Prog('N').S("").Op(tok::kAsc, 1).Num(), 0);
  EXPECT_EQ(Prog('N').S("abc  ").Op(tok::kLen, 1).Num(), 5);
  // A NUL ends a string, wherever it came from.
  EXPECT_EQ(Prog('N').N(0).Op(tok::kChr, 1).Op(tok::kLen, 1).Num(), 0);
  EXPECT_EQ(Prog('C').N(0).Op(tok::kChr, 1).S("x").Op(op::kAddCC, 2).Text(), "x");
}

TEST_F(EvalTest, IifEvaluatesBothBranchesAndLeavesTheChosenOneAtThePoolStart) {
  Prog p('C');
  const char* r = static_cast<const char*>(p.L(false).S("first").S("second").Op(tok::kIif, 3).Run());
  EXPECT_STREQ(r, "second");
  EXPECT_EQ(r, p.expr().buffer.get());
  EXPECT_EQ(Prog('C').L(true).S("a").S("bb").Op(tok::kIif, 3).Text(), "a");
}

TEST_F(EvalTest, SoundexFollowsTheDigitTable) {
  auto sx = [](const char* s) { return Prog('C').S(s).Op(tok::kSoundex, 1).Text(); };
  EXPECT_EQ(sx("Robert"), "R163");
  EXPECT_EQ(sx("Lloyd"), "L300");
  EXPECT_EQ(sx("Pfister"), "P236");
  EXPECT_EQ(sx("Tymczak"), "T522");
  EXPECT_EQ(sx("a"), "A000");
  EXPECT_EQ(sx("1ab-c"), "1120");  // a non-letter first character has digit 0
  EXPECT_EQ(sx(""), "0000");
  // Only the first 100 characters count.
  const std::string long_text = "A" + std::string(99, 'e') + "bcd";
  EXPECT_EQ(sx(long_text.c_str()), "A000");
}

// ---- Numbers ----

TEST_F(EvalTest, RoundCutsInsteadOfRounding) {
  auto round = [](double x, double d) { return Prog('N').N(x).N(d).Op(tok::kRound, 2).Num(); };
  EXPECT_DOUBLE_EQ(round(2.789, 2), 2.78);
  EXPECT_DOUBLE_EQ(round(-2.789, 1), -2.7);
  EXPECT_DOUBLE_EQ(round(2.789, 0), 2);
  EXPECT_DOUBLE_EQ(round(-2.789, -3), -2);
  EXPECT_DOUBLE_EQ(round(1.149, 2), 1.14);
  // Digits lost only to the binary representation are kept: 1.15 is not
  // cut to 1.14, nor 12345.15 to 12345.14.
  EXPECT_DOUBLE_EQ(round(1.15, 2), 1.15);
  EXPECT_DOUBLE_EQ(round(12345.15, 2), 12345.15);
  EXPECT_DOUBLE_EQ(round(0.29, 2), 0.29);
  EXPECT_DOUBLE_EQ(round(2.5, 1e12), 2.5);  // a huge count is bounded
}

TEST_F(EvalTest, StrFormatsRightAlignedWithAsterisksOnOverflow) {
  auto str = [](double x, int argc, double w = 0, double d = 0) {
    Prog p('C');
    p.N(x);
    if (argc >= 2) p.N(w);
    if (argc >= 3) p.N(d);
    return p.Op(tok::kStr, argc).Text();
  };
  EXPECT_EQ(str(3.14159, 3, 6, 2), "  3.14");
  EXPECT_EQ(str(1234567, 2, 3), "***");
  EXPECT_EQ(str(5, 1), "         5");
  EXPECT_EQ(str(-12.5, 3, 8, 3), " -12.500");
  // Halves round away from zero, on the decimal form the number shows.
  EXPECT_EQ(str(2.5, 2, 4), "   3");
  EXPECT_EQ(str(-2.5, 2, 4), "  -3");
  EXPECT_EQ(str(2.675, 3, 4, 2), "2.68");
  EXPECT_EQ(str(1234.5, 1), "      1235");
  EXPECT_EQ(str(9.996, 3, 5, 2), "10.00");
  EXPECT_EQ(str(9.996, 3, 4, 2), "****");
  EXPECT_EQ(str(0.5, 2, 1), "1");
  EXPECT_EQ(str(-0.4, 1), "         0");
  EXPECT_EQ(str(-0.001, 3, 6, 2), "  0.00");
  EXPECT_EQ(str(1e250, 1), "**********");
  EXPECT_EQ(str(3, 2, 0), "");
  EXPECT_EQ(str(3, 2, 1000).size(), 255u);
  EXPECT_EQ(str(3, 3, 5, 300), "*****");
}

TEST_F(EvalTest, StrAlwaysUsesAPointWhateverTheDecimalSetting) {
  Engine().dates.DecimalPoint = ',';
  EXPECT_EQ(Prog('C').N(1.5).N(5).N(1).Op(tok::kStr, 3).Text(), "  1.5");
  EXPECT_DOUBLE_EQ(Prog('N').S("1.25").Op(tok::kVal, 1).Num(), 1.25);
}

TEST_F(EvalTest, ValReadsTheLeadingNumber) {
  auto val = [](const char* s) { return Prog('N').S(s).Op(tok::kVal, 1).Num(); };
  EXPECT_DOUBLE_EQ(val("  12.5  "), 12.5);
  EXPECT_DOUBLE_EQ(val("12abc"), 12);
  EXPECT_DOUBLE_EQ(val("-3"), -3);
  EXPECT_DOUBLE_EQ(val("+.5"), 0.5);
  EXPECT_DOUBLE_EQ(val("1e3"), 1000);
  EXPECT_DOUBLE_EQ(val("1,5"), 1);
  EXPECT_DOUBLE_EQ(val("abc"), 0);
  EXPECT_DOUBLE_EQ(val("inf"), 0);
  EXPECT_DOUBLE_EQ(val("1e999"), 0);
  EXPECT_DOUBLE_EQ(val(""), 0);
}

// Plain decimals take a shortcut; it must give the very same doubles.
TEST_F(EvalTest, NumberTextShortcutAgreesWithTheGeneralConversion) {
  std::mt19937 rng(7);
  for (int i = 0; i < 100000; ++i) {
    std::string s;
    const size_t n = 1 + rng() % 18;
    const size_t point = rng() % (n + 2);
    for (size_t k = 0; k < n; ++k) s += k == point ? '.' : static_cast<char>('0' + rng() % 10);
    double want = 0;
    if (std::from_chars(s.data(), s.data() + s.size(), want).ec != std::errc()) want = 0;
    ASSERT_EQ(TextToNumber(s), want) << s;
    ASSERT_EQ(TextToNumber("  -" + s + " "), -want) << s;
  }
}

TEST_F(EvalTest, ArithmeticIntAbsAndPowers) {
  EXPECT_DOUBLE_EQ(Prog('N').N(7).N(2).Op(op::kSubNN, 2).Num(), 5);
  EXPECT_DOUBLE_EQ(Prog('N').N(7).N(2).Op(op::kDiv, 2).Num(), 3.5);
  EXPECT_DOUBLE_EQ(Prog('N').N(0.1).N(0.2).Op(op::kAddNN, 2).Num(), 0.1 + 0.2);
  EXPECT_DOUBLE_EQ(Prog('N').N(2).N(10).Op(op::kPow, 2).Num(), 1024);
  EXPECT_DOUBLE_EQ(Prog('N').N(-2).N(2).Op(op::kPow, 2).Num(), 4);
  EXPECT_DOUBLE_EQ(Prog('N').N(0).N(0).Op(op::kPow, 2).Num(), 1);
  EXPECT_DOUBLE_EQ(Prog('N').N(0).N(3).Op(op::kPow, 2).Num(), 0);
  EXPECT_DOUBLE_EQ(Prog('N').N(-2.7).Op(tok::kInt, 1).Num(), -2);
  EXPECT_DOUBLE_EQ(Prog('N').N(-2.7).Op(tok::kAbs, 1).Num(), 2.7);
  EXPECT_DOUBLE_EQ(Prog('N').N(4).Op(op::kNeg, 1).Num(), -4);
}

TEST_F(EvalTest, ModTakesTheSignOfTheDividend) {
  auto mod = [](double a, double b) { return Prog('N').N(a).N(b).Op(tok::kMod, 2).Num(); };
  EXPECT_EQ(mod(7, 3), 1);
  EXPECT_EQ(mod(-7, 3), -1);
  EXPECT_EQ(mod(7, -3), 1);
  EXPECT_EQ(mod(7.9, 3.2), 1);
  EXPECT_EQ(mod(1e300, 7), static_cast<double>(9'000'000'000'000'000'000 % 7));
}

TEST_F(EvalTest, ZeroDivisorReports358AndYields1e250) {
  double r = 0;
  EXPECT_EQ(Quiet([&] { r = Prog('N').N(10).N(0).Op(op::kDiv, 2).Num(); }), 358);
  EXPECT_EQ(r, 1e250);
  EXPECT_EQ(Errors().ErrorContext, "Error during evaluation: Divide by 0 [Evaluate/Engine]");
  // The evaluation goes on after the report.
  EXPECT_EQ(Quiet([&] { r = Prog('N').N(1).N(0).Op(op::kDiv, 2).N(2).Op(op::kAddNN, 2).Num(); }), 358);
  EXPECT_EQ(r, 1e250 + 2);
  EXPECT_EQ(Quiet([&] { r = Prog('N').N(5).N(0.5).Op(tok::kMod, 2).Num(); }), 358);
  EXPECT_EQ(r, 1e250);
  EXPECT_THROW(Prog('N').N(10).N(0).Op(op::kDiv, 2).Run(), EOrvelError);
}

// ---- Dates ----

TEST_F(EvalTest, DateArithmeticAndExtremesKeepTheirTypes) {
  const double birth = YmdToDayNumber(1960, 2, 28);
  // BIRTH + 1 - BIRTH
  EXPECT_EQ(Prog('N').D(birth).N(1).Op(op::kAddDN, 2).D(birth).Op(op::kSubDD, 2).Num(), 1);
  EXPECT_EQ(Prog('C').D(birth).N(1).Op(op::kAddDN, 2).Op(tok::kDtos, 1).Text(), "19600229");
  EXPECT_EQ(Prog('C').N(2).D(birth).Op(op::kAddND, 2).Op(tok::kDtos, 1).Text(), "19600301");
  EXPECT_EQ(Prog('C').D(birth).N(28).Op(op::kSubDN, 2).Op(tok::kDtos, 1).Text(), "19600131");
  EXPECT_EQ(Prog('C').D(birth).D(birth + 5).Op(tok::kMax, 2).Op(tok::kDtos, 1).Text(), "19600304");
  EXPECT_EQ(Prog('N').N(3).N(-1).Op(tok::kMin, 2).Num(), -1);
  EXPECT_EQ(Prog('N').N(3).N(-1).Op(tok::kMax, 2).Num(), 3);
}

TEST_F(EvalTest, EmptyDatesReadAsBlanks) {
  EXPECT_EQ(Prog('C').S("  /  /  ").Op(tok::kCtod, 1).Op(tok::kDtos, 1).Text(), "        ");
  EXPECT_EQ(Prog('D').S("  /  /  ").Op(tok::kCtod, 1).Num(), kNoDate);
  EXPECT_EQ(Prog('C').D(kNoDate).Op(tok::kCdow, 1).Text(), std::string(10, ' '));
  EXPECT_EQ(Prog('C').D(kNoDate).Op(tok::kCmonth, 1).Text(), std::string(9, ' '));
  EXPECT_EQ(Prog('C').D(kNoDate).Op(tok::kDtoc, 1).Text(), "  /  /  ");
  EXPECT_EQ(Prog('N').D(kNoDate).Op(tok::kYear, 1).Num(), 0);
}

TEST_F(EvalTest, DateFunctionsGoThroughTheDisplayText) {
  Prog year('N');
  year.S("01/02/1998").Op(tok::kCtod, 1).Op(tok::kYear, 1);
  EXPECT_EQ(year.Num(), 98);
  Engine().dates.CenturyOn = true;
  EXPECT_EQ(year.Num(), 1998);
  const double d = YmdToDayNumber(1998, 1, 2);  // a Friday
  EXPECT_EQ(Prog('C').D(d).Op(tok::kDtoc, 1).Text(), "01/02/1998");
  EXPECT_EQ(Prog('N').D(d).Op(tok::kMonth, 1).Num(), 1);
  EXPECT_EQ(Prog('N').D(d).Op(tok::kDay, 1).Num(), 2);
  EXPECT_EQ(Prog('N').D(d).Op(tok::kDow, 1).Num(), 6);
  EXPECT_EQ(Prog('C').D(d).Op(tok::kCdow, 1).Text(), "Friday   ");
  EXPECT_EQ(Prog('C').D(d).Op(tok::kCmonth, 1).Text(), "January  ");
  SetDateType(2);  // DD/MM/yy
  EXPECT_EQ(Prog('C').D(d).Op(tok::kDtoc, 1).Text(), "02/01/1998");
  EXPECT_EQ(Prog('N').D(d).Op(tok::kMonth, 1).Num(), 1);
  EXPECT_EQ(Prog('C').S("02/01/1998").Op(tok::kCtod, 1).Op(tok::kDtos, 1).Text(), "19980102");
  SetDateType(5);  // German names
  EXPECT_EQ(Prog('C').D(d).Op(tok::kCdow, 1).Text(), "Freitag   ");
}

TEST_F(EvalTest, DateIsTodayOfThePlatformClock) {
  env_.SetToday(2024, 2, 29);
  EXPECT_EQ(Prog('C').Op(tok::kDate).Op(tok::kDtos, 1).Text(), "20240229");
}

TEST_F(EvalTest, RecordTextConversionsAgreeWithTheDateUnit) {
  for (double n = kFirstDayNumber - 3; n < kLastDayNumber + 3; n += 997) {
    char out[8];
    DayNumberToRecordText(n, out);
    ASSERT_EQ(std::string(out, 8), DayNumberToRecord(n)) << n;
    ASSERT_EQ(RecordTextToDayNumber(std::string_view(out, 8)), RecordToDayNumber(std::string(out, 8))) << n;
  }
  for (const char* r : {"20240230", "00000101", "2024 101", "        ", "19991231", "99991231", "abcdefgh"}) {
    EXPECT_EQ(RecordTextToDayNumber(r), RecordToDayNumber(r)) << r;
  }
}

// ---- The machine ----

TEST_F(EvalTest, ThePoolOverflowReports354AndLeavesAnEmptyResult) {
  Prog p('C', 4);
  p.S("abcdef");
  const char* r = nullptr;
  EXPECT_EQ(Quiet([&] { r = static_cast<const char*>(p.Run()); }), 354);
  EXPECT_EQ(Errors().ErrorContext, "Working pool overflow [PARSER/Allocate]");
  EXPECT_STREQ(r, "");
  EXPECT_THROW(p.Run(), EOrvelError);
  // A pool that fits exactly is enough.
  EXPECT_EQ(Prog('C', 4).S("abc").Text(), "abc");
  EXPECT_EQ(Quiet([] { Prog('C', 0).S("").Run(); }), 354);
}

TEST_F(EvalTest, UnknownTypesOnTheStackReport356) {
  EXPECT_EQ(Quiet([] { Prog('N').Raw(999).Run(); }), 356);
  EXPECT_EQ(Errors().ErrorContext, "Unknown data type (none of \"C\",\"N\",\"F\",\"L\",\"D\"or\"M\") [PARSER/PushWD]");
  double r = 1;
  // A string where a number belongs, and a pop from the empty stack.
  EXPECT_EQ(Quiet([&] { r = Prog('N').S("x").Op(tok::kAbs, 1).Num(); }), 356);
  EXPECT_EQ(Errors().ErrorContext, "Unknown data type (none of \"C\",\"N\",\"F\",\"L\",\"D\"or\"M\") [PARSER/PopWD]");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(Quiet([] { Prog('L').Op(op::kAnd, 2).Run(); }), 356);
  EXPECT_EQ(Quiet([] { Prog('D').Op(tok::kDtos, 1).Run(); }), 356);
}

TEST_F(EvalTest, UnassignedOpcodesAreSkipped) {
  EXPECT_EQ(Prog('N').N(4).Op(258).Op(999).Op(-7).Op(384).Num(), 4);
  EXPECT_EQ(Prog('N').N(1).Op(op::kEnd).N(2).Num(), 1);  // nothing runs after the end item
}

TEST_F(EvalTest, StackNodesAreKeptBetweenEvaluations) {
  Prog p('N');
  for (int i = 0; i < 40; ++i) p.N(i);
  for (int i = 0; i < 39; ++i) p.Op(op::kAddNN, 2);
  EXPECT_EQ(p.Num(), 780);
  const size_t nodes = p.expr().stack.size();
  const CodeItem* data = p.expr().stack.data();
  EXPECT_GE(nodes, 40u);
  EXPECT_EQ(p.Num(), 780);
  EXPECT_EQ(p.expr().stack.size(), nodes);
  EXPECT_EQ(p.expr().stack.data(), data);
  EXPECT_EQ(p.Run(), &p.expr().stack[0].value);
}

TEST_F(EvalTest, EvaluateCurrentFollowsTheLastEvaluation) {
  EXPECT_EQ(Evaluate(nullptr), nullptr);
  SetCurrentExpr(nullptr);
  EXPECT_EQ(EvaluateCurrent(), nullptr);
  // Expressions not made by the compiler are not live, so the second
  // entry refuses them.
  Prog p('N');
  p.N(3).Run();
  EXPECT_EQ(EvaluateCurrent(), nullptr);
}

}  // namespace
}  // namespace ov
