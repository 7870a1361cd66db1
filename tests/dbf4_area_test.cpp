// Work areas: selection, USE with its options, field access and the typed
// record image.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_search.h"
#include "engine/engine.h"
#include "engine/support/ovcommon.h"
#include "engine/support/real48.h"
#include "tests/dbf_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

const std::vector<FieldDef> kMovieFields = {{"title", 'C', 20, 0},  {"year", 'N', 4, 0},     {"color", 'L', 1, 0},
                                            {"runtime", 'N', 3, 0}, {"stars", 'C', 50, 0},   {"director", 'C', 20, 0},
                                            {"plot", 'M', 10, 0},   {"premiere", 'D', 10, 0}};

class AreaTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    env_.SetToday(2024, 3, 15);
    Engine().dates.DateType = 0;
    Engine().dates.CenturyOn = false;
    Engine().dates.EpochYear = 1954;
  }
  void MakeMovie() {
    DbfFile dbf;
    CreateDbf(dbf, Path("MOVIE.DBF"), kMovieFields);
  }
  // One record of raw text in a single-field table, for typed round trips.
  // Opens a new single-field table holding one record of raw text.
  void OpenOne(const FieldDef& def, const std::string& text, const std::string& options = "") {
    DbfFile dbf = test::MakeTable(Path("one"), {def});
    test::SetRecord(dbf, " " + text);
    AppendDbfRecord(dbf);
    CloseDbf(dbf);
    USE(Path("one") + options);
  }
  std::string RoundTrip(const FieldDef& def, const std::string& text) {
    OpenOne(def, text);
    Gather();
    std::string raw(CurrentArea()->table.record.begin() + 1, CurrentArea()->table.record.end());
    CloseArea();
    return raw;
  }
};

TEST_F(AreaTest, SelectionRules) {
  QuietErrors quiet;
  Select(34);
  EXPECT_EQ(Errors().DbfError, 220);
  EXPECT_EQ(Errors().ErrorContext, "Invalid workarea selected = [Select(34)]");
  Select(-1);
  EXPECT_EQ(Errors().DbfError, 220);
  Select(33);
  EXPECT_EQ(Errors().DbfError, 0);
  EXPECT_EQ(SelectedArea(), 33);
  MakeMovie();
  for (int n = 1; n <= kCallerAreas; ++n) {
    Select(n);
    USE(Path("movie") + " alias m" + std::to_string(n));
    ASSERT_EQ(Errors().DbfError, 0) << n;
  }
  Select(0);
  EXPECT_EQ(Errors().DbfError, 220);
  EXPECT_EQ(Errors().ErrorContext, "No free workarea available [Select(0)]");
  Select(7);
  CloseArea();
  Select(0);
  EXPECT_EQ(SelectedArea(), 7);
  CloseAll();
  EXPECT_EQ(SelectedArea(), 1);
  EXPECT_EQ(CurrentArea(), nullptr);
}

TEST_F(AreaTest, UseWithExclusiveAndAlias) {
  MakeMovie();
  USE(Path("movie.dbf") + " exclusive alias films");
  ASSERT_NE(CurrentArea(), nullptr);
  EXPECT_EQ(Alias(), "FILMS");
  EXPECT_TRUE(CurrentArea()->exclusive);
  EXPECT_EQ(DbfName(), Path("MOVIE.DBF"));
  EXPECT_EQ(CurrentArea()->table.open_mode, fmode::kReadWrite | fmode::kDenyAll);
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(dBOF());
  CloseArea();
  USE(Path("movie"));
  EXPECT_EQ(Alias(), "MOVIE");
  EXPECT_FALSE(CurrentArea()->exclusive);
}

TEST_F(AreaTest, DuplicateAliasIsRefused) {
  MakeMovie();
  USE(Path("movie"));
  Select(2);
  QuietErrors quiet;
  USE(Path("movie"));
  EXPECT_EQ(Errors().DbfError, 220);
  EXPECT_EQ(Errors().ErrorContext, "Alias name \"MOVIE\" already in use. [USE]");
  EXPECT_EQ(CurrentArea(), nullptr);
}

TEST_F(AreaTest, DemoTableHasA118ByteTypedRecord) {
  MakeMovie();
  std::vector<uint8_t> buf(118);
  USE(Path("movie"), buf.data(), 118);
  ASSERT_NE(CurrentArea(), nullptr);
  EXPECT_EQ(CurrentArea()->typed_size, 118);
  EXPECT_EQ(FieldAddress(0), buf.data());
  EXPECT_EQ(FieldAddress(2), buf.data() + 1 + 21);
  EXPECT_EQ(FieldAddress(8), buf.data() + 1 + 21 + 4 + 1 + 4 + 51 + 21 + 4);
  CloseArea();
  QuietErrors quiet;
  std::vector<uint8_t> small(117);
  USE(Path("movie"), small.data(), 117);
  EXPECT_EQ(Errors().DbfError, 266);
  EXPECT_EQ(Errors().ErrorContext,
            "Database record/buffer size mismatch: " + Path("movie") + " [USE()]\n\rRecord Size=118, Buffer Size=117");
  EXPECT_EQ(CurrentArea(), nullptr);
  USE(Path("movie"), nullptr, 5);
  EXPECT_EQ(Errors().DbfError, 220);
  USE("movie.dbf LINKED LIST");
  EXPECT_EQ(Errors().DbfError, 1100);
  EXPECT_NE(Errors().ErrorContext.find("[USE]"), std::string::npos);
}

TEST_F(AreaTest, FieldAccess) {
  MakeMovie();
  USE(Path("movie"));
  EXPECT_EQ(FieldCount(), 8);
  EXPECT_EQ(FieldNo(" title "), 1);
  EXPECT_EQ(FieldNo("nothing"), 0);
  EXPECT_EQ(Field(8), "PREMIERE");
  EXPECT_EQ(FieldType(7), 'M');
  EXPECT_EQ(FieldLen(8), 8);
  Engine().dates.CenturyOn = true;
  EXPECT_EQ(FieldLen(8), 10);
  EXPECT_EQ(FieldDec(2), 0);
  QuietErrors quiet;
  EXPECT_EQ(FieldType(9), ' ');
  EXPECT_EQ(Errors().ErrorContext, "Invalid field number. [FieldType(9)]");
  EXPECT_EQ(FieldLen(0), 0);
  EXPECT_EQ(Errors().ErrorContext, "Invalid field number. [FieldLen(0)]");
  EXPECT_EQ(FieldAddress(9), nullptr);
  EXPECT_EQ(Errors().ErrorContext, "Invalid field number. [FieldAddress(9)]");
  CloseArea();
  // Names are stored upper-cased in ANSI, so a lower-case accented name finds them.
  DbfFile dbf = test::MakeTable(Path("accent"), {{"pr\xE9\xE7o", 'N', 5, 0}});
  CloseDbf(dbf);
  USE(Path("accent"));
  EXPECT_EQ(Field(1), "PR\xC9\xC7O");
  EXPECT_EQ(FieldNo("pr\xE9\xE7o"), 1);
}

TEST_F(AreaTest, EmptyAreaCommandsNameTheArea) {
  Select(5);
  try {
    FieldType(1);
    FAIL();
  } catch (const EOrvelError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Error # 215 (No database in use)\r\nNo database in use [FieldType()]  WorkArea = 5");
  }
  QuietErrors quiet;
  EXPECT_EQ(FieldCount(), 0);
  EXPECT_EQ(Errors().ErrorContext, "No database in use [FieldCount()]  WorkArea = 5");
}

TEST_F(AreaTest, TypedRecordRoundTripsEveryType) {
  MakeMovie();
  DbfFile dbf;
  dbf.path = Path("MOVIE.DBF");
  OpenDbf(dbf);
  std::string rec = " " + std::string("Casablanca          ") + "1942" + "F" + "102" + std::string(50, ' ') +
                    std::string("Michael Curtiz      ") + "        17" + "19421126";
  test::SetRecord(dbf, rec);
  AppendDbfRecord(dbf);
  CloseDbf(dbf);
  USE(Path("movie"));
  const size_t raw_date_at = rec.size() - 8;
  EXPECT_EQ(GetFieldText(1), "Casablanca          ");
  EXPECT_EQ(GetFieldNumber(2), 1942);
  EXPECT_FALSE(GetFieldLogical(3));
  EXPECT_EQ(GetFieldNumber(7), 17);
  EXPECT_EQ(GetFieldText(8), "11/26/42");
  Gather();
  EXPECT_EQ(test::RecordText(CurrentArea()->table), rec);
  Engine().dates.CenturyOn = true;
  Engine().dates.DateType = 2;
  Scatter();
  EXPECT_EQ(GetFieldText(8), "26/11/1942");
  Engine().dates.CenturyOn = false;
  Engine().dates.DateType = 0;
  Scatter();
  SetFieldText(8, "12/24/41");  // a changed two-digit year takes the epoch window
  Gather();
  EXPECT_EQ(test::RecordText(CurrentArea()->table).substr(raw_date_at), "20411224");
  Engine().dates.CenturyOn = true;
  Engine().dates.DateType = 2;
  SetFieldText(8, "  /  /    ");
  SetFieldLogical(3, true);
  Gather();
  std::string raw = test::RecordText(CurrentArea()->table);
  EXPECT_EQ(raw.substr(25, 1), "T");
  EXPECT_EQ(raw.substr(raw.size() - 8), "        ");
  // A number too wide for its field is refused; the record stays as it was.
  SetFieldNumber(2, 123456);
  QuietErrors quiet;
  EXPECT_FALSE(Gather());
  EXPECT_EQ(Errors().DbfError, 201);
  EXPECT_EQ(test::RecordText(CurrentArea()->table), raw);
}

// Whatever the typed record cannot carry stays as stored when the field
// is written back unchanged.
// Stored numbers read as the general parse reads them, whole numbers of up
// to nine digits (read in one pass) and everything around them.
TEST_F(AreaTest, StoredNumbersReadAsWritten) {
  const std::pair<const char*, double> cases[] = {
      {"        1999", 1999},       {"         -42", -42},        {"    00000007", 7}, {"   999999999", 999999999},
      {"  1234567890", 1234567890}, {"  -999999999", -999999999}, {"          +5", 5}, {"      -12.50", -12.5},
      {"         12a", 12},         {"        1 2 ", 1},          {"           -", 0}, {"            ", 0},
      {"\x01      77\x02 ", 77},    {"   1e3      ", 1000},
  };
  for (const auto& [stored, want] : cases) {
    OpenOne({"n", 'N', 12, 0}, stored);
    EXPECT_EQ(GetFieldNumber(1), want) << stored;
    CloseArea();
  }
  OpenOne({"n", 'N', 4, 0}, "  -0");
  EXPECT_TRUE(std::signbit(GetFieldNumber(1)));
  CloseArea();
}

TEST_F(AreaTest, UnchangedFieldsKeepTheirStoredBytes) {
  const std::pair<FieldDef, std::string> cases[] = {
      {{"l", 'L', 1, 0}, "y"},
      {{"l", 'L', 1, 0}, "?"},
      {{"n", 'N', 5, 0}, "     "},
      {{"n", 'N', 5, 0}, "*****"},
      {{"n", 'N', 5, 0}, "   -0"},
      {{"n", 'N', 12, 0}, "  9876543210"},
      {{"n", 'N', 15, 2}, "  1234567890.12"},
      {{"n", 'N', 20, 18}, "1.123456789012345678"},
      {{"f", 'F', 20, 0}, " 9999999999999999999"},
      {{"m", 'M', 10, 0}, "          "},
      {{"m", 'M', 10, 0}, "         0"},
      {{"d", 'D', 8, 0}, "20240229"},
      {{"d", 'D', 8, 0}, "        "},
      {{"d", 'D', 8, 0}, "19421126"},  // two-digit years shown
  };
  for (const auto& [def, stored] : cases) EXPECT_EQ(RoundTrip(def, stored), stored) << def.type << stored;
}

// A value set over a stored one: written when it says something the stored
// bytes do not (0 over blanks, a wider number than the slot carries), kept
// when the stored bytes already say it.
TEST_F(AreaTest, SetValuesOverStoredOnes) {
  struct Case {
    FieldDef def;
    const char* stored;
    std::function<void()> set;
    const char* want;
  };
  const Case cases[] = {
      {{"n", 'N', 5, 0}, "     ", [] { SetFieldNumber(1, 0); }, "    0"},
      {{"n", 'N', 5, 0}, "   -0", [] { SetFieldNumber(1, 0); }, "   -0"},
      {{"n", 'N', 12, 0}, "  9876543210", [] { SetFieldNumber(1, 9999999999.0); }, "  9999999999"},
      {{"n", 'N', 12, 0}, "  9876543210", [] { SetFieldNumber(1, 9876543210.0); }, "  9876543210"},
      {{"l", 'L', 1, 0}, "?", [] { SetFieldLogical(1, false); }, "F"},
      {{"l", 'L', 1, 0}, "n", [] { SetFieldLogical(1, false); }, "n"},
      {{"c", 'C', 3, 0}, "abc", [] { SetFieldText(1, "abc"); }, "abc"},
  };
  for (const Case& c : cases) {
    OpenOne(c.def, c.stored, " EXCLUSIVE");
    c.set();
    Replace();
    EXPECT_EQ(Peek(1, 1), c.want) << c.stored;
    CloseArea();
  }
}

// Values set by the caller: the exact text where the typed slot cannot
// carry it, blanks for no memo, and the same rounding as STR.
TEST_F(AreaTest, ChangedNumbersAreWrittenExactly) {
  struct Case {
    FieldDef def;
    double value;
    const char* stored;
  };
  const Case cases[] = {
      {{"n", 'N', 12, 0}, 9876543210.0, "  9876543210"},
      {{"n", 'N', 12, 0}, -9876543210.0, " -9876543210"},
      {{"n", 'N', 15, 2}, 1234567890.12, "  1234567890.12"},
      {{"n", 'N', 8, 2}, 2.675, "    2.68"},
      {{"n", 'N', 8, 2}, -0.001, "    0.00"},
      {{"n", 'N', 6, 0}, 42.9, "    42"},
      {{"m", 'M', 10, 0}, 0, "          "},
      {{"m", 'M', 10, 0}, 17, "        17"},
  };
  for (const Case& c : cases) {
    OpenOne(c.def, std::string(c.def.length - 1, ' ') + "9", " EXCLUSIVE");
    SetFieldNumber(1, c.value);
    const double want = c.def.decimals ? c.value : std::trunc(c.value);
    EXPECT_NEAR(GetFieldNumber(1), want, 1e-9 * std::fabs(want)) << c.value;
    Replace();
    GO(1);
    EXPECT_EQ(std::string(CurrentArea()->table.record.begin() + 1, CurrentArea()->table.record.end()), c.stored)
        << c.value;
    CloseArea();
  }
}

TEST_F(AreaTest, SixByteRealsRoundTripAsFieldText) {
  for (int d = 1; d <= 18; ++d) {
    const int len = 20;
    std::vector<std::string> values;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%*.*f", len, d, 0.0);
    values.push_back(buf);
    std::snprintf(buf, sizeof buf, "%*.*f", len, d, -1.5);
    values.push_back(buf);
    std::snprintf(buf, sizeof buf, "%*.*f", len, d, std::pow(10.0, -d));  // smallest magnitude
    values.push_back(buf);
    std::snprintf(buf, sizeof buf, "%*.*f", len, d, -std::pow(10.0, -d));
    values.push_back(buf);
    // Largest magnitude the field holds within the format's 11 digits.
    int int_digits = std::min(len - 2 - d, 11);
    int frac = std::min(d, 11 - int_digits);
    std::string big = "-" + std::string(int_digits, '9') + "." + std::string(frac, '9') + std::string(d - frac, '0');
    if (int_digits >= 1 && big.size() <= static_cast<size_t>(len)) {
      values.push_back(std::string(len - big.size(), ' ') + big);
    }
    for (const std::string& v : values) {
      if (v.size() != static_cast<size_t>(len)) continue;  // does not fit the field
      EXPECT_EQ(RoundTrip({"n", 'N', len, d}, v), v) << "decimals " << d;
    }
  }
}

TEST_F(AreaTest, SixByteRealBytesAreTheDocumentedLayout) {
  DbfFile dbf = test::MakeTable(Path("r"), {{"n", 'N', 8, 2}});
  test::SetRecord(dbf, "    -2.50");
  AppendDbfRecord(dbf);
  test::SetRecord(dbf, "     0.00");
  AppendDbfRecord(dbf);
  CloseDbf(dbf);
  USE(Path("r"));
  const uint8_t* p = FieldAddress(1);
  // -2.5 = -1.25 * 2^1: exponent 130, fraction .25 -> top fraction bits 01.
  const uint8_t minus_two_and_half[6] = {0x82, 0x00, 0x00, 0x00, 0x00, 0xA0};
  EXPECT_EQ(std::memcmp(p, minus_two_and_half, 6), 0);
  SKIP(1);
  const uint8_t zero[6] = {0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(FieldAddress(1), zero, 6), 0);
}

TEST_F(AreaTest, ReopenTableSwitchesSharingInPlace) {
  MakeMovie();
  USE(Path("movie"));
  EXPECT_EQ(ReopenTable(true), 0);
  EXPECT_TRUE(CurrentArea()->exclusive);
  Select(2);
  QuietErrors quiet;
  USE(Path("movie") + " alias second");
  EXPECT_EQ(Errors().DbfError, 32);  // the first area now holds it exclusively
  Select(1);
  EXPECT_EQ(ReopenTable(false), 0);
  EXPECT_FALSE(CurrentArea()->exclusive);
  Select(2);
  USE(Path("movie") + " alias second");
  EXPECT_EQ(Errors().DbfError, 0);
  CloseArea();
  Select(1);
  CloseArea();
  USE(Path("movie") + " exclusive");
  EXPECT_EQ(ReopenTable(false), 5);  // the caller asked for exclusive use
}

TEST_F(AreaTest, MemoFileFailureClosesTheArea) {
  MakeMovie();
  std::string opened;
  Areas().memo.open = [&](WorkArea&, const std::string& path) -> uint16_t {
    opened = path;
    return 2;
  };
  QuietErrors quiet;
  USE(Path("movie"));
  EXPECT_EQ(opened, Path("MOVIE"));
  EXPECT_EQ(Errors().DbfError, 2);
  EXPECT_EQ(Errors().ErrorContext, "Problem opening memo file [USE(" + Path("movie") + ",Nil,0)]");
  EXPECT_EQ(CurrentArea(), nullptr);
}

TEST_F(AreaTest, ShutdownClosesEveryAreaAndWritesHeaders) {
  MakeMovie();
  Select(3);
  USE(Path("movie") + " exclusive");
  ClearRecord();
  SetFieldText(1, "Metropolis");
  Append();
  SelectEngineArea(35);
  DbfFile src = test::MakeTable(Path("src"), {{"a", 'C', 2, 0}});
  CloseDbf(src);
  USE(Path("src"));
  StopEngine();
  EXPECT_EQ(test::ReadAll(Path("MOVIE.DBF"))[4], 1);  // the count reached the header
  // A command without a started engine is reported, not run half-equipped.
  EXPECT_FALSE(EngineStarted());
  SetRaiseErrors(true);
  EXPECT_THROW(Select(2), EOrvelError);
  EXPECT_EQ(Errors().DbfError, err::kInternal);
  StartEngine();
  SetRaiseErrors(true);
  EXPECT_EQ(CurrentArea(), nullptr);
  EXPECT_EQ(SelectedArea(), 1);
}

TEST_F(AreaTest, UseInstallsTheTablesFilters) {
  DbfFile dbf = test::MakeTable(Path("f"), {{"a", 'C', 3, 0}});
  CloseDbf(dbf);
  int writes = 0, reads = 0;
  USE(
      Path("f") + " exclusive", nullptr, 0, [&](char*, size_t) { ++writes; }, [&](char*, size_t) { ++reads; });
  ClearRecord();
  Append();
  GoTop();
  EXPECT_EQ(writes, 1);
  EXPECT_GE(reads, 1);
}

}  // namespace
}  // namespace ov
