#include "engine/support/timedate.h"

#include <cmath>
#include <limits>
#include <map>

#include "tests/test_support.h"

namespace ov {
namespace {

// Environment variables and clock under the test's control.
class FakeLocaleEnv : public test::FaultEnv {
 public:
  std::string GetEnvVar(const std::string& name) override {
    auto it = vars.find(name);
    return it == vars.end() ? "" : it->second;
  }
  uint64_t TickCountMs() override { return ticks; }

  std::map<std::string, std::string> vars;
  uint64_t ticks = 0;
};

class DatesTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Use(0, false);
    Engine().dates.EpochYear = 1955;
  }
  static void Use(int type, bool century) {
    Engine().dates.CenturyOn = century;
    SetDateType(type);
  }
  // Runs InitDateSettings with the given locale variables.
  DateSettings InitWith(const std::map<std::string, std::string>& vars) {
    FakeLocaleEnv fake;
    fake.vars = vars;
    fake.SetToday(2024, 5, 17);
    SetEnv(&fake);
    Engine().dates = DateSettings{};
    InitDateSettings();
    SetEnv(&env_);
    return Engine().dates;
  }
};

// ---- Locale start-up.

TEST_F(DatesTest, LocaleMapsToDateTypeAndNumberCharacters) {
  struct Case {
    std::string value;
    int type;
    char decimal, thousands;
  };
  const Case cases[] = {
      {"de_DE.UTF-8", 5, ',', '.'},  {"en_US.UTF-8", 0, '.', ','}, {"en_GB.UTF-8", 2, '.', ','}, {"en", 2, '.', ','},
      {"es_ES", 6, ',', '.'},        {"fr_CA.UTF-8", 7, '.', ','}, {"fr_FR@euro", 4, ',', '.'},  {"it_IT", 3, ',', '.'},
      {"ru_RU.KOI8-R", 8, '.', ' '}, {"ja_JP.UTF-8", 0, '.', ','}, {"C", 0, '.', ','},           {"", 0, '.', ','},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    DateSettings d = InitWith({{"LANG", c.value}});
    EXPECT_EQ(d.DateType, c.type);
    EXPECT_EQ(d.DecimalPoint, c.decimal);
    EXPECT_EQ(d.ThousandsSeparator, c.thousands);
  }
}

TEST_F(DatesTest, LocaleVariablesAreReadInOrderSkippingCAndPosix) {
  EXPECT_EQ(InitWith({{"LC_ALL", "it_IT"}, {"LC_TIME", "de_DE"}, {"LANG", "ru_RU"}}).DateType, 3);
  EXPECT_EQ(InitWith({{"LC_ALL", "C"}, {"LC_TIME", "de_DE"}, {"LANG", "ru_RU"}}).DateType, 5);
  EXPECT_EQ(InitWith({{"LC_ALL", "POSIX"}, {"LANG", "ru_RU"}}).DateType, 8);
  EXPECT_EQ(InitWith({{"LC_ALL", "POSIX"}, {"LC_TIME", "C"}}).DateType, 0);
}

TEST_F(DatesTest, StartUpSetsEpochFromTodayAndLeavesFrameworkFormat) {
  DateSettings d = InitWith({{"LANG", "de_DE"}});
  EXPECT_EQ(d.EpochYear, 1954);
  EXPECT_FALSE(d.CenturyOn);
  EXPECT_EQ(d.ShortDateFormat, "MM/dd/yy");
  EXPECT_EQ(d.DateSeparator, '/');
}

// ---- Settings and templates.

TEST_F(DatesTest, SetDateTypeRewritesFrameworkFormat) {
  const char* const formats[9] = {"MM/dd/yy", "yy.MM.dd", "dd/MM/yy", "dd-MM-yy", "dd.MM.yy",
                                  "dd.MM.yy", "dd.MM.yy", "dd.MM.yy", "dd.MM.yy"};
  const char separators[9] = {'/', '.', '/', '-', '.', '.', '.', '.', '.'};
  for (int t = 0; t <= 8; ++t) {
    SetDateType(t);
    EXPECT_EQ(Engine().dates.DateType, t);
    EXPECT_EQ(Engine().dates.ShortDateFormat, formats[t]);
    EXPECT_EQ(Engine().dates.DateSeparator, separators[t]);
  }
  Use(1, true);
  EXPECT_EQ(Engine().dates.ShortDateFormat, "yyyy.MM.dd");
  Use(9, true);
  EXPECT_EQ(Engine().dates.DateType, 0);
  EXPECT_EQ(Engine().dates.ShortDateFormat, "MM/dd/yyyy");
}

TEST_F(DatesTest, TemplatesFollowTypeAndCentury) {
  EXPECT_EQ(DateTemplate(0), "  /  /  ");
  EXPECT_EQ(DateTemplate(1), "  .  .  ");
  EXPECT_EQ(DateTemplate(3), "  -  -  ");
  EXPECT_EQ(DateTemplate(7), "  .  .  ");
  Engine().dates.CenturyOn = true;
  EXPECT_EQ(DateTemplate(1), "    .  .  ");
  EXPECT_EQ(DateTemplate(2), "  /  /    ");
  EXPECT_EQ(DateTemplate(8), "  .  .    ");
}

TEST_F(DatesTest, YearExpansionUsesEpochWindow) {
  EXPECT_EQ(ExpandYear("98"), "1998");
  EXPECT_EQ(ExpandYear("55"), "1955");
  EXPECT_EQ(ExpandYear("54"), "2054");
  EXPECT_EQ(ExpandYear("xy"), "2000");  // not a number counts as 0
  EXPECT_EQ(CenturyDigits("54"), "20");
  Engine().dates.EpochYear = 1900;
  EXPECT_EQ(ExpandYear("00"), "1900");
  EXPECT_EQ(ExpandYear("99"), "1999");
}

// ---- Text forms.

TEST_F(DatesTest, CanonicalFormReadsPartsByType) {
  EXPECT_EQ(DateToCanonical("2/3/98"), "02/03/98");
  EXPECT_EQ(DateToCanonical(" 2 - 3 -98"), "02/03/98");
  EXPECT_EQ(DateToCanonical("20021998"), "20021998");  // no separator: unchanged
  EXPECT_EQ(DateToCanonical("  /  /  "), "  /  /  ");
  Use(1, false);
  EXPECT_EQ(DateToCanonical("98.12.31"), "12/31/98");
  Use(2, true);
  EXPECT_EQ(DateToCanonical("31.12.98"), "12/31/1998");
  EXPECT_EQ(DateToCanonical("1.2.5"), "02/01/2005");
  EXPECT_EQ(DateToCanonical("1.2.123"), "02/01/0123");
  EXPECT_EQ(DateToCanonical("  .  .    "), "  /  /    ");
}

TEST_F(DatesTest, CanonicalToDateAssemblesEveryLayout) {
  const char* const shown[9] = {"12/31/99", "99.12.31", "31/12/99", "31-12-99", "31.12.99",
                                "31.12.99", "31.12.99", "31.12.99", "31.12.99"};
  for (int t = 0; t <= 8; ++t) {
    Use(t, false);
    EXPECT_EQ(CanonicalToDate("12/31/99"), shown[t]);
    EXPECT_EQ(DateToCanonical(shown[t]), "12/31/99");
    EXPECT_EQ(CanonicalToDate("  /  /  "), DateTemplate(t));
  }
  Use(1, true);
  EXPECT_EQ(CanonicalToDate("1/2/98"), "1998.01.02");
}

TEST_F(DatesTest, TextsAreCutAtTenCharactersAndAtNul) {
  EXPECT_EQ(DateToCanonical("01/02/1998XYZ"), "01/02/1998");
  EXPECT_EQ(DateToCanonical(std::string("01/02/98\0/7", 11)), "01/02/98");
  EXPECT_EQ(DateToCanonical(std::string("0102\0/03/04", 11)), "0102");
}

struct ValidCase {
  int type;
  bool century;
  const char* input;
  bool ok;
  const char* result;  // the argument afterwards
};

TEST_F(DatesTest, ValidDateChecksAndNormalises) {
  const ValidCase cases[] = {
      {0, false, "2/3/98", true, "02/03/98"},       {0, true, "2/3/98", true, "02/03/1998"},
      {0, false, "2/3/1998", true, "02/03/98"},     {2, false, "31.12.1999", true, "31/12/99"},
      {2, true, "31.12.99", true, "31/12/1999"},    {1, false, "99-12-31", true, "99.12.31"},
      {3, true, "1.2.2003", true, "01-02-2003"},    {0, true, "02/29/1900", false, "02/29/1900"},
      {0, true, "02/29/2000", true, "02/29/2000"},  {0, false, "02/29/00", true, "02/29/00"},
      {0, false, "02/29/01", false, "02/29/01"},    {0, false, "04/31/99", false, "04/31/99"},
      {0, false, "02/30/00", false, "02/30/00"},    {0, false, "13/01/99", false, "13/01/99"},
      {0, false, "00/10/99", false, "00/10/99"},    {0, false, "12/00/99", false, "12/00/99"},
      {0, false, "1a/01/99", false, "1a/01/99"},    {0, false, "12/1/-5", false, "12/1/-5"},
      {0, false, "1/2/3/4", false, "1/2/3/4"},      {0, false, "19990101", false, "19990101"},
      {0, false, "123/1/99", false, "123/1/99"},    {0, true, "01/01/0000", false, "01/01/0000"},
      {0, false, "        ", true, "  /  /  "},     {0, true, "", true, "  /  /    "},
      {4, false, "  .  .  ", true, "  .  .  "},     {1, true, "  /  /  ", true, "    .  .  "},
      {5, false, " 24.12.2024 ", true, "24.12.24"},
  };
  for (const ValidCase& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " type " + std::to_string(c.type));
    Use(c.type, c.century);
    std::string text = c.input;
    EXPECT_EQ(ValidDate(text), c.ok);
    EXPECT_EQ(text, c.result);
  }
}

TEST_F(DatesTest, RecordAndSortTexts) {
  EXPECT_EQ(DateToRecord("12/31/98"), "19981231");
  EXPECT_EQ(DateToRecord("01/02/03"), "20030102");
  EXPECT_EQ(DateToRecord("  /  /  "), "        ");
  EXPECT_EQ(DateToRecord(""), "        ");
  EXPECT_EQ(DateToSortText("01/02/03"), "20030102");
  EXPECT_EQ(DateToSortText("1/2/3"), "20030102");
  EXPECT_EQ(DateToSortText("  /  /  "), "        ");
  EXPECT_FALSE(Engine().dates.CenturyOn);  // restored after forcing
  Use(2, true);
  EXPECT_EQ(DateToRecord("31/12/1850"), "18501231");
  EXPECT_EQ(DateToSortText("31/12/1850"), "18501231");
  EXPECT_EQ(DateToRecord("  /  /    "), "        ");
  EXPECT_TRUE(Engine().dates.CenturyOn);
}

// ---- Day numbers.

TEST_F(DatesTest, DayNumberAnchors) {
  EXPECT_EQ(YmdToDayNumber(2000, 1, 1), 2451545);
  EXPECT_EQ(YmdToDayNumber(1, 1, 1), kFirstDayNumber);
  EXPECT_EQ(YmdToDayNumber(9999, 12, 31), kLastDayNumber);
  EXPECT_EQ(RecordToDayNumber("20000101"), 2451545);
  EXPECT_EQ(DateToDayNumber("01/01/00"), 2451545);
  EXPECT_EQ(DayNumberToRecord(2451545), "20000101");
  EXPECT_EQ(DayNumberToRecord(2451545.75), "20000101");
}

TEST_F(DatesTest, DayNumbersRefuseImpossibleDates) {
  EXPECT_EQ(YmdToDayNumber(1900, 2, 29), kNoDate);
  EXPECT_EQ(YmdToDayNumber(2000, 13, 1), kNoDate);
  EXPECT_EQ(YmdToDayNumber(2000, 4, 31), kNoDate);
  EXPECT_EQ(YmdToDayNumber(2000, 1, 0), kNoDate);
  EXPECT_EQ(YmdToDayNumber(-1, 1, 1), kNoDate);
  // Year 0 is not a calendar year: it must not alias 1 January of year 1.
  EXPECT_EQ(YmdToDayNumber(0, 1, 1), kNoDate);
  EXPECT_EQ(YmdToDayNumber(10000, 1, 1), kNoDate);
  EXPECT_EQ(RecordToDayNumber("        "), kNoDate);
  EXPECT_EQ(RecordToDayNumber("00000101"), kNoDate);
  EXPECT_EQ(RecordToDayNumber("2000"), kNoDate);
  EXPECT_EQ(DateToDayNumber("  /  /  "), kNoDate);
  EXPECT_EQ(DateToDayNumber("garbage"), kNoDate);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double n : {0.0, 1721425.0, 1721425.9, 5373485.0, -1e300, kNoDate, nan, inf}) {
    EXPECT_EQ(DayNumberToRecord(n), "        ") << n;
    EXPECT_EQ(DayNumberToDate(n), "  /  /  ") << n;
  }
}

TEST_F(DatesTest, DayNumbersRoundTripOverWholeRange) {
  int year = 1, month = 1, day = 1;
  for (int64_t n = 1721426; n <= 5373484; ++n) {
    const std::string record = DayNumberToRecord(static_cast<double>(n));
    int packed = 0;
    for (char c : record) packed = packed * 10 + (c - '0');
    // One comparison per day keeps the three-million-day loop fast.
    if (YmdToDayNumber(year, month, day) != static_cast<double>(n) || packed != year * 10000 + month * 100 + day) {
      FAIL() << "day " << n << ": " << year << "-" << month << "-" << day << " vs " << record;
    }
    // Step the calendar by hand, independently of the code under test.
    const int feb = IsLeapYear(year) ? 29 : 28;
    const int lengths[12] = {31, feb, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (++day > lengths[month - 1]) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
  }
  EXPECT_EQ(year, 10000);
}

// A stored date is taken as eight digits only when every byte is one:
// each byte value at each place.
TEST_F(DatesTest, RecordDigitsNeedEightDigits) {
  for (int at = 0; at < 8; ++at) {
    for (int byte = 0; byte < 256; ++byte) {
      std::string record = "20240131";
      record[static_cast<size_t>(at)] = static_cast<char>(byte);
      char out[10];
      const bool digit = byte >= '0' && byte <= '9';
      ASSERT_EQ(RecordDigitsToDate(record.data(), out) > 0, digit) << at << " " << byte;
    }
  }
}

TEST_F(DatesTest, DayNumberToDateWritesEveryLayout) {
  const char* const shown[9] = {"12/31/99", "99.12.31", "31/12/99", "31-12-99", "31.12.99",
                                "31.12.99", "31.12.99", "31.12.99", "31/12/99"};
  const double n = YmdToDayNumber(1999, 12, 31);
  for (int t = 0; t <= 8; ++t) {
    SCOPED_TRACE(t);
    Use(t, false);
    EXPECT_EQ(DayNumberToDate(n), shown[t]);
    EXPECT_EQ(DateToDayNumber(DayNumberToDate(n)), n);
    Engine().dates.CenturyOn = true;
    EXPECT_EQ(DateToDayNumber(DayNumberToDate(n)), n);
    EXPECT_EQ(DayNumberToDate(n).size(), 10u);
  }
  Use(0, true);
  EXPECT_EQ(DayNumberToDate(kFirstDayNumber), "01/01/0001");
  EXPECT_EQ(DayNumberToDate(kLastDayNumber), "12/31/9999");
}

// ---- Weekdays and names.

TEST_F(DatesTest, DayOfWeekMatchesDayNumbers) {
  EXPECT_EQ(DayOfWeek("01/01/00"), 7);
  EXPECT_EQ(DayOfWeek("01/01/2000"), 7);
  Engine().dates.CenturyOn = true;
  for (int64_t n = 1721426; n <= 5373484; n += 17) {
    const std::string text = DayNumberToDate(static_cast<double>(n));
    ASSERT_EQ(DayOfWeek(text), (n + 1) % 7 + 1) << text;
  }
}

TEST_F(DatesTest, DayNamesCarryTheirPadding) {
  const char* const saturday[9] = {"Saturday ", "Saturday ", "Saturday ",
                                   "Sabato   ", "Samedi  ",  "Samstag   ",
                                   "Sabado   ", "Samedi  ",  "\x91\xE3\xA1\xA1\xAE\xE2\xA0    "};
  for (int t = 0; t <= 8; ++t) {
    Use(t, true);
    EXPECT_EQ(DayName(DayNumberToDate(2451545)), saturday[t]) << t;
    EXPECT_EQ(DayName(DateTemplate(t)), std::string(10, ' ')) << t;
  }
  Use(0, false);
  const char* const english[7] = {"Sunday   ", "Monday   ", "Tuesday  ", "Wednesday",
                                  "Thursday ", "Friday   ", "Saturday "};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(DayName(DayNumberToDate(2451546 + i)), english[i]);
  Use(5, false);
  EXPECT_EQ(DayName("06.01.2000"), "Donnerstag");
  Use(8, false);
  EXPECT_EQ(DayName("03.01.2000"), "\x8F\xAE\xAD\xA5\xA4\xA5\xAB\xEC\xAD\xA8\xAA");
}

TEST_F(DatesTest, MonthNamesUseOemBytes) {
  Use(4, false);
  EXPECT_EQ(MonthName("01.02.00"), "F\x82vrier  ");
  EXPECT_EQ(MonthName("01.08.00"), "Ao\x96t     ");
  EXPECT_EQ(MonthName("01.12.00"),
            "D\x82"
            "cembre ");
  Use(5, false);
  EXPECT_EQ(MonthName("01.03.00"), "M\x84rz     ");
  Use(6, false);
  EXPECT_EQ(MonthName("01.09.00"), "Septiembre");
  EXPECT_EQ(MonthName("01.05.00"), "Mayo      ");
  Use(8, false);
  EXPECT_EQ(MonthName("01.09.00"), "\x91\xA5\xAD\xE2\xEF\xA1\xE0\xEC");
  EXPECT_EQ(MonthName("01.05.00"), "\x8C\xA0\xA9     ");
  Use(3, false);
  EXPECT_EQ(MonthName("01-12-00"), "Dicembre ");
  EXPECT_EQ(MonthName("  -  -  "), std::string(9, ' '));
}

TEST_F(DatesTest, NameWidthsPerType) {
  const size_t days[9] = {9, 9, 9, 9, 8, 10, 9, 8, 11};
  const size_t months[9] = {9, 9, 9, 9, 9, 9, 10, 9, 8};
  for (int t = 0; t <= 8; ++t) {
    Use(t, true);
    for (int m = 1; m <= 12; ++m) {
      const double n = YmdToDayNumber(2001, m, 1);
      EXPECT_EQ(MonthName(DayNumberToDate(n)).size(), months[t]) << t << " " << m;
      EXPECT_EQ(DayName(DayNumberToDate(n)).size(), days[t]) << t << " " << m;
    }
  }
}

TEST_F(DatesTest, MonthOutsideTableGivesBlanks) {
  EXPECT_EQ(MonthName("13/01/99"), std::string(9, ' '));
  EXPECT_EQ(MonthName("00/01/99"), std::string(9, ' '));
  EXPECT_EQ(MonthName("xx/01/99"), std::string(9, ' '));
}

// ---- Parts and arithmetic.

TEST_F(DatesTest, DatePartsOfText) {
  EXPECT_EQ(MonthOf("12/31/99"), 12);
  EXPECT_EQ(DayOf("12/31/99"), 31);
  EXPECT_EQ(YearOf("12/31/99"), 99);
  EXPECT_EQ(DayOf("12/ab/99"), 0);
  EXPECT_EQ(YearOf("12/31/ab"), 0);
  Use(2, true);
  EXPECT_EQ(MonthOf("31.12.99"), 12);
  EXPECT_EQ(YearOf("31.12.99"), 1999);
}

TEST_F(DatesTest, LeapYearsAndFloorMod) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_EQ(FloorMod(-1, 7), 6);
  EXPECT_EQ(FloorMod(-14, 7), 0);
  EXPECT_EQ(FloorMod(15, 7), 1);
  EXPECT_EQ(FloorMod(1, -7), -6);
  EXPECT_EQ(FloorMod(5, 0), 0);
  EXPECT_EQ(FloorMod(std::numeric_limits<int64_t>::min(), -1), 0);
}

TEST_F(DatesTest, SecondsCounterUsesMonotonicClock) {
  FakeLocaleEnv fake;
  fake.ticks = 12999;
  SetEnv(&fake);
  EXPECT_EQ(SecondsCounter(), 12);
  SetEnv(&env_);
}

}  // namespace
}  // namespace ov
