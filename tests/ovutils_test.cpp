#include "engine/support/ovutils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "engine/support/real48.h"
#include "tests/test_support.h"

namespace ov {
namespace {

namespace fs = std::filesystem;

class UtilsTest : public test::EngineTest {
 protected:
  void Touch(const std::string& name) { test::WriteAll(Path(name), {'x'}); }
  bool Exists(const std::string& name) const { return fs::exists(Path(name)); }
  void UseCommaDecimal() {
    Engine().dates.DecimalPoint = ',';
    Engine().dates.ThousandsSeparator = '.';
  }
};

// ---------------------------------------------------------------- strings

TEST_F(UtilsTest, CaseRoutinesUseTheAnsiTables) {
  EXPECT_EQ(UpperText("stra\xDF"
                      "e \xE9t\xE9 \xFF"),
            "STRA\xDF"
            "E \xC9T\xC9 \x9F");
  EXPECT_EQ(UpperChar('\x9A'), '\x8A');
  EXPECT_EQ(LowerChar('\xDC'), '\xFC');
  EXPECT_EQ(LowerChar('1'), '1');
  EXPECT_TRUE(IsAlphaText("\xC9tat"));
  EXPECT_FALSE(IsAlphaText("1abc"));
  EXPECT_FALSE(IsAlphaText("\xD7"));
  EXPECT_FALSE(IsAlphaText(""));
}

TEST_F(UtilsTest, TrimsRemoveBlanksAndControlCharacters) {
  EXPECT_EQ(RightTrim(" a b\t\r\n "), " a b");
  EXPECT_EQ(LeftTrim("\x01 \ta b "), "a b ");
  EXPECT_EQ(RightTrim("x\xA0"), "x\xA0");  // a high byte is not a control character
  EXPECT_EQ(LeftTrim("   "), "");
}

TEST_F(UtilsTest, OccursCountsWithoutOverlap) {
  EXPECT_EQ(Occurs("a", "banana"), 3);
  EXPECT_EQ(Occurs("ana", "banana"), 1);
  EXPECT_EQ(Occurs("aa", "aaaaa"), 2);
  EXPECT_EQ(Occurs("", "banana"), 0);
  EXPECT_EQ(Occurs("a", ""), 0);
  EXPECT_EQ(Occurs("x", "banana"), 0);
}

TEST_F(UtilsTest, NthAtFromEitherEnd) {
  EXPECT_EQ(NthAt(1, "a", "banana"), 2);
  EXPECT_EQ(NthAt(2, "a", "banana"), 4);
  EXPECT_EQ(NthAt(3, "a", "banana"), 6);
  EXPECT_EQ(NthAt(4, "a", "banana"), 0);
  EXPECT_EQ(NthAt(-1, "a", "banana"), 1);  // last "a", counted from the end
  EXPECT_EQ(NthAt(-3, "a", "banana"), 5);
  EXPECT_EQ(NthAt(-4, "a", "banana"), 0);
  EXPECT_EQ(NthAt(2, "an", "banana"), 4);
  EXPECT_EQ(NthAt(-1, "an", "banana"), 2);  // "an" at 4..5; its "n" is 2nd from the end
  EXPECT_EQ(NthAt(-1, "ba", "banana"), 5);
  EXPECT_EQ(NthAt(0, "a", "banana"), 0);
  EXPECT_EQ(NthAt(1, "", "banana"), 0);
  EXPECT_EQ(NthAt(INT32_MIN, "a", "banana"), 0);
}

TEST_F(UtilsTest, RemoveWordTakesOutFreeStandingWords) {
  std::string text = "  use movie exclusive  ";
  EXPECT_TRUE(RemoveWord("Exclusive", text));
  EXPECT_EQ(text, "USE MOVIE");

  text = "shared x shared";
  EXPECT_TRUE(RemoveWord("SHARED", text));
  EXPECT_EQ(text, "X");
}

TEST_F(UtilsTest, RemoveWordLeavesWordsThatContinue) {
  for (const char* kept : {"SHARED1", "SHARED_X", "SHAREDX", "SHARED\\A", "SHARED/A", "SHARED\xC9", "UNSHARED",
                           "DATA/SHARED", "MY_SHARED"}) {
    std::string text = kept;
    EXPECT_FALSE(RemoveWord("shared", text)) << kept;
    EXPECT_EQ(text, kept);
  }
  std::string text = " lower ";
  EXPECT_FALSE(RemoveWord("", text));
  EXPECT_EQ(text, "LOWER");  // upper-cased and trimmed all the same
}

// ------------------------------------------------------------ number text

std::string Normalised(std::string text) {
  NormaliseNumberText(text);
  return text;
}

TEST_F(UtilsTest, NormaliseWithDecimalPoint) {
  EXPECT_EQ(Normalised(" $1,234.50 "), "1234.50");
  EXPECT_EQ(Normalised("- 12"), "-12");
  EXPECT_EQ(Normalised(".5"), "0.5");
  EXPECT_EQ(Normalised("-.5"), "-0.5");
  EXPECT_EQ(Normalised("- +-.5"), "-0.5");
  EXPECT_EQ(Normalised("  ++7"), "7");
  EXPECT_EQ(Normalised("12 34"), "12");
  EXPECT_EQ(Normalised("12.50DM"), "12.50");
  EXPECT_EQ(Normalised("3-4"), "3");
  EXPECT_EQ(Normalised("12."), "12");
  EXPECT_EQ(Normalised("abc"), "");
  EXPECT_EQ(Normalised(""), "");
  EXPECT_EQ(Normalised("-"), "-");
}

TEST_F(UtilsTest, NormaliseWithDecimalComma) {
  UseCommaDecimal();
  EXPECT_EQ(Normalised("1.234,5"), "1234.5");
  EXPECT_EQ(Normalised("- ,25"), "-0.25");
  EXPECT_EQ(Normalised(",25"), "0.25");
  EXPECT_EQ(Normalised("1.000.000"), "1000000");
}

TEST_F(UtilsTest, TextToFloatCarriesTheSixByteRealPrecision) {
  EXPECT_EQ(TextToFloat(" $1,234.50 "), 1234.5);
  EXPECT_EQ(TextToFloat("-0.25"), -0.25);
  EXPECT_EQ(TextToFloat(""), 0.0);
  EXPECT_EQ(TextToFloat("-"), 0.0);
  EXPECT_EQ(TextToFloat("x"), 0.0);
  EXPECT_NE(TextToFloat("0.1"), 0.1);  // 39 mantissa bits, not 52
  EXPECT_EQ(TextToFloat("0.1"), RoundToReal48(0.1));
  UseCommaDecimal();
  EXPECT_EQ(TextToFloat("1.234,5"), 1234.5);
}

TEST_F(UtilsTest, TextToFloatOfHugeTextSaturates) {
  double big = TextToFloat("1" + std::string(400, '0'));
  EXPECT_TRUE(std::isfinite(big));
  EXPECT_GT(big, 1e38);
  EXPECT_EQ(TextToFloat("-1" + std::string(400, '0')), -big);
}

TEST_F(UtilsTest, TextToIntCutsTheDecimals) {
  EXPECT_EQ(TextToInt("-1,234.99"), -1234);
  EXPECT_EQ(TextToInt(" 42 "), 42);
  EXPECT_EQ(TextToInt(".9"), 0);
  EXPECT_EQ(TextToInt(""), 0);
  EXPECT_EQ(TextToInt("99999999999999999999"), INT32_MAX);
  EXPECT_EQ(TextToInt("-99999999999999999999"), INT32_MIN);
  UseCommaDecimal();
  EXPECT_EQ(TextToInt("1.234,99"), 1234);
}

TEST_F(UtilsTest, TextToSmallIntClamps) {
  EXPECT_EQ(TextToSmallInt("40000"), 32767);
  EXPECT_EQ(TextToSmallInt("-40000"), -32768);
  EXPECT_EQ(TextToSmallInt("99999999999999999999999"), 32767);
  EXPECT_EQ(TextToSmallInt("  +1,234.7"), 1234);
  EXPECT_EQ(TextToSmallInt("$12 34"), 12);
  EXPECT_EQ(TextToSmallInt("-$5"), -5);
  EXPECT_EQ(TextToSmallInt("abc"), 0);
  EXPECT_EQ(TextToSmallInt(""), 0);
}

TEST_F(UtilsTest, FloatToTextHonoursTheDecimalCharacter) {
  EXPECT_EQ(FloatToText(10, 2, 1234.5), "   1234.50");
  EXPECT_EQ(FloatToText(3, 2, -1234.567), "-1234.57");  // never cut to the width
  EXPECT_EQ(FloatToText(5, 0, 2.5), "    2");
  EXPECT_EQ(FloatToText(4, -3, 7.0), "   7");
  UseCommaDecimal();
  EXPECT_EQ(FloatToText(8, 3, 0.125), "   0,125");
  EXPECT_EQ(FloatToText(4, 0, 12.0), "  12");
}

TEST_F(UtilsTest, FloatToTextOfExtremes) {
  EXPECT_EQ(FloatToText(0, 2, 1e308).size(), 312u);
  EXPECT_EQ(FloatToText(1 << 30, 1, 1.0).size(), 255u);  // an absurd width is capped
}

// ----------------------------------------------------------- 6-byte reals

struct Real48Case {
  double value;
  uint8_t bytes[6];
};

TEST(Real48Test, HandComputedEncodings) {
  // 0.1 = 1.6 * 2^-4: exponent 125 = 0x7D; 0.6 * 2^39 is binary 1001 repeated,
  // rounded up in the 39th bit: 0x4C_CCCCCCCD.
  const Real48Case cases[] = {
      {0.0, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  {1.0, {0x81, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {-1.0, {0x81, 0x00, 0x00, 0x00, 0x00, 0x80}}, {0.5, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {-3.0, {0x82, 0x00, 0x00, 0x00, 0x00, 0xC0}},  // 1.5 * 2^1
      {10.0, {0x84, 0x00, 0x00, 0x00, 0x00, 0x20}},  // 1.25 * 2^3
      {0.1, {0x7D, 0xCD, 0xCC, 0xCC, 0xCC, 0x4C}},  {-0.1, {0x7D, 0xCD, 0xCC, 0xCC, 0xCC, 0xCC}},
  };
  for (const Real48Case& c : cases) {
    uint8_t out[6];
    EncodeReal48(c.value, out);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], c.bytes[i]) << c.value << " byte " << i;
    if (c.value != 0.1 && c.value != -0.1) {
      EXPECT_EQ(DecodeReal48(c.bytes), c.value);
    }
  }
  EXPECT_NEAR(DecodeReal48(cases[6].bytes), 0.1, 0.1 * std::ldexp(1.0, -39));
}

TEST(Real48Test, RoundTripsKeepThirtyNineBits) {
  for (double v : {1e-30, -1e-30, 1e30, -1e30, 3.14159265358979, 123456.789, -0.001}) {
    double r = RoundToReal48(v);
    EXPECT_LE(std::fabs(r - v), std::fabs(v) * std::ldexp(1.0, -40)) << v;
    EXPECT_EQ(RoundToReal48(r), r);  // stable once rounded
  }
  EXPECT_EQ(RoundToReal48(1234.5), 1234.5);
  EXPECT_EQ(RoundToReal48(-0.0), 0.0);
}

TEST(Real48Test, MantissaCarryRaisesTheExponent) {
  uint8_t out[6];
  EncodeReal48(2.0 - std::ldexp(1.0, -45), out);
  EXPECT_EQ(out[0], 0x82);
  for (int i = 1; i < 6; ++i) EXPECT_EQ(out[i], 0);
}

TEST(Real48Test, OutOfRangeValuesStayFinite) {
  double max = RoundToReal48(1e300);
  EXPECT_TRUE(std::isfinite(max));
  EXPECT_GT(max, 1.7e38);
  EXPECT_LT(max, 1.8e38);
  EXPECT_EQ(RoundToReal48(-INFINITY), -max);
  EXPECT_EQ(RoundToReal48(1e-300), 0.0);
  EXPECT_EQ(RoundToReal48(NAN), 0.0);
  EXPECT_EQ(RoundToReal48(std::ldexp(1.0, -128)), std::ldexp(1.0, -128));  // smallest value
}

// ------------------------------------------------------------------ files

TEST_F(UtilsTest, UniqueFilenameCreatesAnEmptyFile) {
  std::string a = UniqueFilename();
  std::string b = UniqueFilename();
  EXPECT_NE(a, b);
  EXPECT_EQ(fs::path(a).filename().string().substr(0, 3), "OVP");
  EXPECT_TRUE(fs::exists(a));
  EXPECT_EQ(fs::file_size(a), 0u);
  fs::remove(a);
  fs::remove(b);
}

class NoTempEnv : public test::FaultEnv {
 public:
  uint16_t TempFile(std::string&) override { return 5; }
};

TEST_F(UtilsTest, UniqueFilenameReportsThePlatformCode) {
  NoTempEnv env;
  SetEnv(&env);
  QuietErrors quiet;
  EXPECT_EQ(UniqueFilename(), "");
  EXPECT_EQ(Errors().DbfError, 5);
  EXPECT_EQ(Errors().ErrorContext, "Error requesting unique file name [UniqueFilename]");
  SetEnv(&env_);
}

TEST_F(UtilsTest, EraseFilesByPattern) {
  for (const char* n : {"a.tmp", "B.TMP", "c.tmp.bak", "d.txt", "tmp"}) Touch(n);
  EraseFiles(Path("*.TMP"));
  EXPECT_FALSE(Exists("a.tmp"));
  EXPECT_FALSE(Exists("B.TMP"));
  EXPECT_TRUE(Exists("c.tmp.bak"));
  EXPECT_TRUE(Exists("d.txt"));
  EXPECT_TRUE(Exists("tmp"));

  EraseFiles(Path("?.txt"));
  EXPECT_FALSE(Exists("d.txt"));
  EraseFiles(Path("*.*"));  // also takes names without an extension
  EXPECT_TRUE(fs::is_empty(dir()));
  EXPECT_EQ(Errors().DbfError, 0);
}

TEST_F(UtilsTest, EraseOneFile) {
  Touch("MOVIE.DBT");
  EraseFiles(Path("movie.dbt"));  // names ignore case
  EXPECT_FALSE(Exists("MOVIE.DBT"));

  QuietErrors quiet;
  Errors().DbfError = 99;
  EraseFiles(Path("none.dbt"));
  EXPECT_EQ(Errors().DbfError, 2);
  EXPECT_EQ(Errors().ErrorContext, "Error erasing " + Path("none.dbt"));
}

// Files named in `read_only` look write-protected; those in `busy` are
// held open elsewhere. As root the real checks would let everything go.
class ProtectedFilesEnv : public test::FaultEnv {
 public:
  bool IsReadOnly(const std::string& p) override {
    return read_only.count(fs::path(p).filename().string()) != 0 || FaultEnv::IsReadOnly(p);
  }
  uint16_t Delete(const std::string& p) override {
    return busy.count(fs::path(p).filename().string()) != 0 ? 32 : FaultEnv::Delete(p);
  }
  std::set<std::string> read_only, busy;
};

class EraseProtectedTest : public UtilsTest {
 protected:
  void SetUp() override {
    UtilsTest::SetUp();
    SetEnv(&protected_);
  }
  ProtectedFilesEnv protected_;
};

TEST_F(EraseProtectedTest, CountsFilesThatCouldNotBeErased) {
  for (const char* n : {"a.TMP", "b.TMP", "c.TMP", "d.TMP"}) Touch(n);
  protected_.read_only = {"a.TMP", "c.TMP"};
  const std::string pattern = Path("*.TMP");
  try {
    EraseFiles(pattern);
    FAIL() << "expected a report";
  } catch (const EOrvelError& e) {
    EXPECT_NE(std::string(e.what()).find("Could not erase 2 files like " + pattern), std::string::npos);
  }
  EXPECT_EQ(Errors().DbfError, 5);
  EXPECT_TRUE(Exists("a.TMP"));
  EXPECT_FALSE(Exists("b.TMP"));
  EXPECT_TRUE(Exists("c.TMP"));
  EXPECT_FALSE(Exists("d.TMP"));
}

TEST_F(EraseProtectedTest, FailedDeletesCountAndReadOnlySingleFileIsDenied) {
  for (const char* n : {"a.TMP", "b.TMP", "c.TMP"}) Touch(n);
  protected_.busy = {"b.TMP"};
  protected_.read_only = {"c.TMP"};
  QuietErrors quiet;
  EraseFiles(Path("*.tmp"));
  EXPECT_EQ(Errors().DbfError, 5);
  EXPECT_EQ(Errors().ErrorContext, "Could not erase 2 files like " + Path("*.tmp"));

  EraseFiles(Path("c.TMP"));
  EXPECT_EQ(Errors().DbfError, 5);
  EXPECT_EQ(Errors().ErrorContext, "Error erasing " + Path("c.TMP"));
  EXPECT_TRUE(Exists("c.TMP"));

  protected_.busy.clear();
  EraseFiles(Path("b.TMP"));
  EXPECT_EQ(Errors().DbfError, 0);  // cleared at the start of each call
}

TEST_F(UtilsTest, FileExistsFindsFilesAndPatterns) {
  Touch("Movie.DBF");
  EXPECT_TRUE(FileExists(Path("Movie.DBF")));
  EXPECT_TRUE(FileExists(Path("movie.dbf")));
  EXPECT_TRUE(FileExists(Path("*.dbf")));
  EXPECT_TRUE(FileExists(Path("mov?e.*")));
  EXPECT_FALSE(FileExists(Path("*.mdx")));
  EXPECT_FALSE(FileExists(Path("movie.mdx")));
  EXPECT_FALSE(FileExists(""));
}

class FreeSpaceEnv : public test::FaultEnv {
 public:
  uint32_t FreeSpaceKB(const std::string& p) override {
    asked = p;
    return 1234;
  }
  std::string CurrentDir() override { return "/cwd"; }
  std::string asked;
};

TEST_F(UtilsTest, DiskFreeAsksForTheRightPlace) {
  FreeSpaceEnv env;
  SetEnv(&env);
  EXPECT_EQ(DiskFreeKB(""), 1234u);
  EXPECT_EQ(env.asked, "/cwd");
  EXPECT_EQ(DiskFreeKB("/data/x"), 1234u);
  EXPECT_EQ(env.asked, "/data/x");
  EXPECT_EQ(DiskFreeKBOfDrive(0), 1234u);
  EXPECT_EQ(env.asked, "/cwd");
  EXPECT_EQ(DiskFreeKBOfDrive(3), 1234u);
  EXPECT_EQ(env.asked, "/");
  EXPECT_EQ(DiskFreeKBOfDrive(27), 0xFFFFFFFFu);
  SetEnv(&env_);
}

TEST_F(UtilsTest, DiskFreeOfRealPaths) {
  uint32_t here = DiskFreeKB(dir());
  EXPECT_GT(here, 0u);
  EXPECT_NE(here, 0xFFFFFFFFu);
  EXPECT_EQ(DiskFreeKB(dir() + "/no/such/dir"), 0xFFFFFFFFu);
}

TEST_F(UtilsTest, ShortPathNameNeedsEveryComponent) {
  fs::create_directory(Path("Sub"));
  test::WriteAll(Path("Sub/Movie.DBF"), {'x'});
  EXPECT_EQ(ShortPathName(Path("Sub/Movie.DBF") + "   "), Path("Sub/Movie.DBF"));
  EXPECT_EQ(ShortPathName(Path("Sub/movie.dbf")), Path("Sub/Movie.DBF"));  // spelt as on disk
  EXPECT_EQ(ShortPathName(Path("Sub/")), Path("Sub/"));
  EXPECT_EQ(ShortPathName(Path("Nope/Movie.DBF")), "");
  EXPECT_EQ(ShortPathName(Path("Sub/Nope.DBF")), "");
  EXPECT_EQ(ShortPathName("   "), "");
}

}  // namespace
}  // namespace ov
