// Field definitions, the field list of an open table, the field data area
// and its conversions, the structure listing and the locale set-up.
#include "dataset/ucommon.h"

#include <cstring>
#include <string>
#include <vector>

#include "dataset/format_settings.h"
#include "dataset/warnings.h"
#include "engine/dbf/dbf4.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/real48.h"
#include "engine/support/timedate.h"
#include "tests/test_support.h"

namespace ov {
namespace {

const TStrings kMovieFields = {"title, C, 20, 0", "year, N, 4, 0",      "color, L, 1, 0", "runtime, N, 3, 0",
                               "stars, C, 50, 0", "director, C, 20, 0", "plot, M, 10, 0", "premiere, D, 10, 0"};

class UcommonTest : public test::EngineTest {
 protected:
  void SetUp() override {
    test::EngineTest::SetUp();
    saved_format_ = FormatSettings();
    FormatSettings() = TFormatSettings{"MM/dd/yy", '/', '.'};
    SetWarningHook([this](const std::string& text) { warnings_.push_back(text); });
    Engine().ui.ShowMessageBox = [this](const std::string& text, const std::string&, unsigned) {
      messages_.push_back(text);
    };
    Engine().dates.EpochYear = 1950;
  }
  void TearDown() override {
    SetWarningHook(nullptr);
    FormatSettings() = saved_format_;
    test::EngineTest::TearDown();
  }

  // Creates and opens a table made from definition lines.
  void OpenTable(const TStrings& lines, const std::string& name = "t.dbf") {
    ASSERT_TRUE(CreateTableFromFields("OvDbf1", Path(name), &lines));
    USE(Path(name) + " EXCLUSIVE");
  }
  std::optional<FieldDef> Parse(const std::string& line) { return ParseFieldLine("OvDbf1", line); }
  static TDateTime Date(int y, int m, int d) {
    TDateTime dt = 0;
    EXPECT_TRUE(TryEncodeDate(y, m, d, dt));
    return dt;
  }
  static std::string RawRecord() {
    const std::vector<char>& r = CurrentArea()->table.record;
    return std::string(r.begin(), r.end());
  }

  TFormatSettings saved_format_;
  std::vector<std::string> warnings_;
  std::vector<std::string> messages_;
};

// ---- Definition lines ----

TEST_F(UcommonTest, EachCorrectionShowsExactlyOneWarning) {
  struct Case {
    const char* line;
    FieldDef expected;
    const char* warning;
  };
  const Case cases[] = {
      {"a, N, 25, 3", {"a", 'N', 20, 3}, "a,N,25,3. Will use corrected definition: a,N,20,3"},
      {"b, N, 10, 9", {"b", 'N', 10, 8}, "b,N,10,9. Will use corrected definition: b,N,10,8"},
      {"c, Q, 5, 0", {"c", 'C', 5, 0}, "c,Q,5,0. Will use corrected definition: c,C,5,0"},
      {"d, C, 255, 2", {"d", 'C', 254, 0}, "d,C,255,2. Will use corrected definition: d,C,254,0"},
      {"e, N, 10, 19", {"e", 'N', 10, 8}, "e,N,10,19. Will use corrected definition: e,N,10,8"},
      // A shortened field never keeps more decimals than it can hold.
      {"f, N, 21, 20", {"f", 'N', 20, 18}, "f,N,21,20. Will use corrected definition: f,N,20,18"},
  };
  for (const Case& c : cases) {
    warnings_.clear();
    std::optional<FieldDef> def = Parse(c.line);
    ASSERT_TRUE(def.has_value()) << c.line;
    EXPECT_EQ(def->name, c.expected.name);
    EXPECT_EQ(def->type, c.expected.type) << c.line;
    EXPECT_EQ(def->length, c.expected.length) << c.line;
    EXPECT_EQ(def->decimals, c.expected.decimals) << c.line;
    ASSERT_EQ(warnings_.size(), 1u) << c.line;
    EXPECT_EQ(warnings_[0], std::string("Invalid field definition for OvDbf1: ") + c.warning);
  }
}

TEST_F(UcommonTest, MemoAliasesAndGoodLinesPassSilently) {
  for (const char* line : {"b, B, 10, 0", "g, G, 10, 0", "p, P, 4, 0"}) {
    std::optional<FieldDef> def = Parse(line);
    ASSERT_TRUE(def.has_value());
    EXPECT_EQ(def->type, 'M') << line;
  }
  for (const char* line : {"title, C, 20, 0", "n, N, 20, 18", "c, C, 254, 0", "f, F, 30, 25"}) {
    EXPECT_TRUE(Parse(line).has_value());
  }
  EXPECT_TRUE(warnings_.empty());
  EXPECT_FALSE(Parse("dummy, X, 1, 0").has_value());
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(UcommonTest, ItemsAreTrimmedCutAndReadLeniently) {
  std::optional<FieldDef> def = Parse("\t averyveryverylongname ,Character, +12 x,");
  ASSERT_TRUE(def.has_value());
  EXPECT_EQ(def->name, "averyveryv");
  EXPECT_EQ(def->type, 'C');
  EXPECT_EQ(def->length, 12);
  EXPECT_EQ(def->decimals, 0);
  def = Parse("n, N, $9abc, 2.7");
  EXPECT_EQ(def->length, 9);
  EXPECT_EQ(def->decimals, 2);
  Engine().dates.DecimalPoint = ',';  // the point groups thousands now
  def = Parse("c, C, 1.00, 0");
  EXPECT_EQ(def->length, 100);
}

TEST_F(UcommonTest, CreationRefusesMissingEmptyAndMalformedLists) {
  EXPECT_FALSE(CreateTableFromFields("OvDbf1", Path("a.dbf"), nullptr));
  TStrings empty;
  EXPECT_FALSE(CreateTableFromFields("OvDbf1", Path("a.dbf"), &empty));
  ASSERT_EQ(warnings_.size(), 2u);
  EXPECT_EQ(warnings_[0], "DbfFieldList is Nil trying to create a database");
  EXPECT_EQ(warnings_[1], "FieldList.Count is <= 0 trying to create a database");

  warnings_.clear();
  TStrings two_commas = {"title, C, 20, 0", "a,C,10", "year, N, 4, 0"};
  EXPECT_FALSE(CreateTableFromFields("OvDbf1", Path("a.dbf"), &two_commas));
  TStrings four_commas = {"a, C, 10, 0, 1"};
  EXPECT_FALSE(CreateTableFromFields("OvDbf1", Path("a.dbf"), &four_commas));
  EXPECT_TRUE(warnings_.empty());
  EXPECT_FALSE(FileExists(Path("a.dbf")));
}

TEST_F(UcommonTest, EngineRefusalFailsQuietlyAndRestoresImmediateErrors) {
  // A width the table format cannot hold is refused, not wrapped to 44.
  for (const char* line : {"t, C, 300, 0", "t, C, 0, 0", "t, N, 10, -2", ", C, 10, 0"}) {
    TStrings lines = {line};
    EXPECT_FALSE(CreateTableFromFields("OvDbf1", Path("bad.dbf"), &lines)) << line;
    EXPECT_EQ(Errors().DbfError, 211) << line;
    EXPECT_TRUE(Errors().ImmediateErrors);
  }
  TStrings only_skipped = {"dummy, X, 1, 0"};
  EXPECT_FALSE(CreateTableFromFields("OvDbf1", Path("bad.dbf"), &only_skipped));
}

TEST_F(UcommonTest, CreatesTheTableWithCorrectedSkippedAndAliasedFields) {
  OpenTable({"name, C, 10, 0", "dummy, X, 1, 0", "pic, B, 10, 0", "amount, N, 25, 3"});
  ASSERT_EQ(FieldCount(), 3);
  EXPECT_EQ(Field(1), "NAME");
  EXPECT_EQ(FieldType(2), 'M');
  EXPECT_EQ(FieldType(3), 'N');
  EXPECT_EQ(FieldLen(3), 20);
  EXPECT_EQ(FieldDec(3), 3);
  EXPECT_EQ(warnings_.size(), 1u);
  EXPECT_TRUE(FileExists(Path("t.dbt")) || FileExists(Path("t.DBT")));
}

// ---- Listing ----

TEST_F(UcommonTest, DemoListingFollowsTheShortDateFormat) {
  DatasetLocaleSetup();
  OpenTable(kMovieFields, "movie.DBF");
  auto props = TDbfFieldProps::FromCurrentArea(true);
  TStrings listing;
  StructureListing(props.get(), listing, false);
  TStrings expected = kMovieFields;
  expected[7] = "premiere, D, 8, 0";
  EXPECT_EQ(listing, expected);

  CloseArea();
  FormatSettings() = TFormatSettings{"MM/dd/yyyy", '/', '.'};
  DatasetLocaleSetup();
  USE(Path("movie.DBF"));
  props = TDbfFieldProps::FromCurrentArea(true);
  StructureListing(props.get(), listing, false);
  EXPECT_EQ(listing, kMovieFields);
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(UcommonTest, ListingSortsIgnoringCaseAndSurvivesClose) {
  OpenTable({"TITLE, C, 20, 0", "year, N, 4, 0", "Amount, N, 8, 2"});
  auto props = TDbfFieldProps::FromCurrentArea(true);
  CloseArea();
  TStrings listing = {"stale"};
  StructureListing(props.get(), listing, true);
  EXPECT_EQ(listing, (TStrings{"amount, N, 8, 2", "title, C, 20, 0", "year, N, 4, 0"}));
  StructureListing(nullptr, listing, false);
  EXPECT_EQ(listing.Count(), 0);
}

TEST_F(UcommonTest, RewritesDbfFieldsFromTheOpenTable) {
  OpenTable(kMovieFields);
  TStrings fields = {"old line"};
  RewriteDbfFields("OvDbf1", fields);
  TStrings expected = kMovieFields;
  expected[7] = "premiere, D, 8, 0";
  EXPECT_EQ(fields, expected);
  EXPECT_TRUE(warnings_.empty());
}

// ---- Field list and layout ----

TEST_F(UcommonTest, FieldPropsShareTheLiveRecordAndCopyOtherwise) {
  OpenTable(kMovieFields);
  auto live = TDbfFieldProps::FromCurrentArea(true);
  auto copy = TDbfFieldProps::FromCurrentArea(false);
  ASSERT_EQ(live->Count(), 8);
  EXPECT_EQ(live->Address(0), FieldAddress(0));
  EXPECT_EQ(live->OwnedSize(), 0);
  EXPECT_EQ(copy->OwnedSize(), CurrentArea()->typed_size);
  EXPECT_NE(copy->Address(0), FieldAddress(0));
  for (int n = 1; n <= 8; ++n) {
    EXPECT_EQ(live->Address(n), FieldAddress(n));
    EXPECT_EQ(copy->Offset(n), FieldAddress(n) - FieldAddress(0));
  }
  EXPECT_EQ(live->Name(8), "PREMIERE");
  EXPECT_EQ(live->Type(8), 'D');
  EXPECT_EQ(live->Name(9), "");
  EXPECT_EQ(live->Address(9), nullptr);
  CloseArea();
  EXPECT_EQ(live->Address(0), nullptr);  // the area's record went with it
  EXPECT_NE(copy->Address(8), nullptr);
}

TEST_F(UcommonTest, NoFieldPropsWithoutATable) {
  QuietErrors quiet;
  EXPECT_EQ(TDbfFieldProps::FromCurrentArea(true), nullptr);
  EXPECT_NE(Errors().DbfError, 0);
}

TEST_F(UcommonTest, SlotLayoutOfTheDemoTable) {
  OpenTable(kMovieFields);
  auto props = TDbfFieldProps::FromCurrentArea(true);
  FieldDataLayout layout = LayOutFieldData(*props);
  const uint16_t sizes[] = {21, 4, 2, 4, 51, 21, 4, 8};
  const TFieldType kinds[] = {TFieldType::ftString, TFieldType::ftInteger, TFieldType::ftBoolean, TFieldType::ftInteger,
                              TFieldType::ftString, TFieldType::ftString,  TFieldType::ftMemo,    TFieldType::ftDate};
  uint16_t offset = 1;
  for (int n = 1; n <= 8; ++n) {
    EXPECT_EQ(layout.Slot(n)->offset, offset);
    EXPECT_EQ(layout.Slot(n)->size, sizes[n - 1]);
    EXPECT_EQ(layout.Slot(n)->kind, kinds[n - 1]);
    offset = static_cast<uint16_t>(offset + sizes[n - 1]);
  }
  EXPECT_EQ(layout.record_size, 116);
  EXPECT_EQ(layout.Slot(1)->framework_size, 20);
  EXPECT_EQ(layout.Slot(2)->framework_size, 4);
  EXPECT_EQ(layout.Offsets().size(), 8u);
  EXPECT_EQ(layout.Slot(0), nullptr);
  EXPECT_EQ(SlotFor('F', 10, 2).kind, TFieldType::ftFloat);
  EXPECT_EQ(SlotFor('Q', 10, 0).size, 0);
}

// ---- Conversions ----

class FieldDataTest : public UcommonTest {
 protected:
  void SetUp() override {
    UcommonTest::SetUp();
    OpenTable({"name, C, 10, 0", "price, N, 8, 2", "qty, N, 5, 0", "ok, L, 1, 0", "notes, M, 10, 0", "day, D, 8, 0"});
    props_ = TDbfFieldProps::FromCurrentArea(true);
    layout_ = LayOutFieldData(*props_);
    buffer_.assign(layout_.record_size, 0);
  }
  const uint8_t* Slot(int n) const { return buffer_.data() + layout_.Slot(n)->offset; }
  bool Get(int n, TFieldType kind, void* dest, size_t size) const {
    return GetFieldValue(Slot(n), *layout_.Slot(n), kind, dest, size);
  }
  void Set(int n, TFieldType kind, const void* value, size_t size) {
    SetFieldValue(*props_, layout_, buffer_.data(), n, kind, value, size);
  }
  void Fetch() { CopyRecordToBuffer(*props_, layout_, buffer_.data()); }

  std::unique_ptr<TDbfFieldProps> props_;
  FieldDataLayout layout_;
  std::vector<uint8_t> buffer_;
};

// A text slot's length without its trailing blanks and control
// characters, against a byte-by-byte model, over texts of every length
// made of the bytes that matter (blank, NUL, control, 33, high).
TEST(SlotTextTest, TrailingBlanksAndControlsAreDroppedAsByteByByte) {
  const uint8_t bytes[] = {' ', 0, 1, 32, 33, 'a', 0x7F, 0x80, 0xA0, 0xFF};
  uint32_t seed = 12345;
  for (int round = 0; round < 4000; ++round) {
    const size_t count = static_cast<size_t>(round % 41);
    std::vector<uint8_t> slot(count + 1);
    slot[0] = static_cast<uint8_t>(count);
    for (size_t k = 1; k <= count; ++k) {
      seed = seed * 1103515245u + 12345u;
      // Mostly blanks, as padding is.
      slot[k] = (seed >> 16) % 3 == 0 ? bytes[(seed >> 20) % std::size(bytes)] : ' ';
    }
    size_t want = count;
    while (want > 0 && slot[want] < 33) --want;
    const FieldSlot info{1, static_cast<uint16_t>(count + 1), TFieldType::ftString, static_cast<int>(count)};
    ASSERT_EQ(SlotTextLength(slot.data(), info), want) << round;
  }
}

TEST_F(FieldDataTest, RecordValuesReachTheFrameworkInNativeForm) {
  ClearRecord();
  SetFieldText(1, "abc");
  SetFieldNumber(2, 0.1);
  SetFieldNumber(3, -42);
  SetFieldLogical(4, true);
  SetFieldText(6, "03/05/24");
  Append();
  Fetch();

  char text[11];
  EXPECT_TRUE(Get(1, TFieldType::ftString, text, sizeof text));
  EXPECT_STREQ(text, "abc");
  double price = 0;
  EXPECT_TRUE(Get(2, TFieldType::ftFloat, &price, sizeof price));
  ASSERT_NE(RoundToReal48(0.1), 0.1);  // the raw real is not the nearest double
  EXPECT_EQ(price, 0.1);
  int32_t qty = 0;
  EXPECT_TRUE(Get(3, TFieldType::ftInteger, &qty, sizeof qty));
  EXPECT_EQ(qty, -42);
  uint16_t ok = 0;
  EXPECT_TRUE(Get(4, TFieldType::ftBoolean, &ok, sizeof ok));
  EXPECT_EQ(ok, 1);
  int32_t day = 0;
  EXPECT_TRUE(Get(6, TFieldType::ftDate, &day, sizeof day));
  EXPECT_EQ(day, static_cast<int32_t>(Date(2024, 3, 5)) + kDateDelta);
  EXPECT_EQ(buffer_[0], 0);
}

TEST_F(FieldDataTest, EmptyDateHasNoValueAndNoValueStoresTheBlankDate) {
  ClearRecord();
  SetFieldText(6, "12/24/99");
  Append();
  Fetch();
  int32_t day = 0;
  EXPECT_TRUE(Get(6, TFieldType::ftDate, &day, sizeof day));

  Set(6, TFieldType::ftDate, nullptr, 0);
  EXPECT_EQ(GetFieldText(6), "  /  /  ");
  Replace();
  EXPECT_EQ(RawRecord().substr(RawRecord().size() - 8), std::string(8, ' '));
  Fetch();
  day = 7;
  EXPECT_FALSE(Get(6, TFieldType::ftDate, &day, sizeof day));
  EXPECT_EQ(day, 0);  // the destination is zeroed even without a value
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FieldDataTest, FrameworkValuesReachTheRecord) {
  ClearRecord();
  Append();
  Set(1, TFieldType::ftString, "a much longer text", 19);
  const double price = 12.345;
  Set(2, TFieldType::ftFloat, &price, sizeof price);
  const int32_t qty = 77;
  Set(3, TFieldType::ftInteger, &qty, sizeof qty);
  const int32_t day = static_cast<int32_t>(Date(1999, 12, 31)) + kDateDelta;
  Set(6, TFieldType::ftDate, &day, sizeof day);
  EXPECT_EQ(GetFieldText(1), "a much lon");
  EXPECT_DOUBLE_EQ(GetFieldNumber(2), RoundToReal48(12.345));
  EXPECT_EQ(GetFieldNumber(3), 77);
  // The typed text carries the century until the record is written, so
  // a date outside the two-digit window keeps it.
  EXPECT_EQ(GetFieldText(6), "12/31/1999");
  Replace();
  EXPECT_NE(RawRecord().find("19991231"), std::string::npos);
  EXPECT_EQ(GetFieldText(6), "12/31/99");  // read back in the display form
  const int32_t old_day = static_cast<int32_t>(Date(1942, 11, 26)) + kDateDelta;
  Set(6, TFieldType::ftDate, &old_day, sizeof old_day);
  Replace();
  EXPECT_NE(RawRecord().find("19421126"), std::string::npos);
  std::fill(buffer_.begin(), buffer_.end(), 0);
  Fetch();
  int32_t back = 0;
  EXPECT_TRUE(Get(6, TFieldType::ftDate, &back, sizeof back));  // not 2042
  EXPECT_EQ(back, old_day);
  EXPECT_NE(RawRecord().find("12.35"), std::string::npos);
}

TEST_F(FieldDataTest, DateKindsConvertThroughTheNativeForms) {
  const double ms = (Date(2024, 3, 5) + kDateDelta) * kMsPerDay + 3600000.0;
  Set(6, TFieldType::ftDateTime, &ms, sizeof ms);
  double back = 0;
  EXPECT_TRUE(Get(6, TFieldType::ftDateTime, &back, sizeof back));
  EXPECT_EQ(back, ms);
  int32_t time = 0;
  EXPECT_TRUE(Get(6, TFieldType::ftTime, &time, sizeof time));
  EXPECT_EQ(time, 3600000);
  // Milliseconds that are no time stamp count as no date.
  const double bad = -5;
  Set(6, TFieldType::ftDateTime, &bad, sizeof bad);
  EXPECT_FALSE(Get(6, TFieldType::ftDateTime, &back, sizeof back));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FieldDataTest, UnreadableDateShowsTheMessageAndStoresBlank) {
  ClearRecord();
  Append();
  FormatSettings() = TFormatSettings{"dd/MM/yy", '/', '.'};  // the engine reads month first
  const int32_t day = static_cast<int32_t>(Date(1999, 12, 31)) + kDateDelta;
  Set(6, TFieldType::ftDate, &day, sizeof day);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "        Invalid date       ");
  EXPECT_EQ(GetFieldText(6), "  /  /  ");
}

TEST_F(FieldDataTest, MarkAndWholeBufferCopies) {
  ClearRecord();
  SetFieldText(1, "keep");
  Append();
  Fetch();
  buffer_[0] = '*';
  CopyMarkToRecord(*props_, buffer_.data());
  EXPECT_EQ(FieldAddress(0)[0], '*');
  buffer_[0] = 0;
  const int32_t qty = 5;
  PutFieldValue(buffer_.data() + layout_.Slot(3)->offset, *layout_.Slot(3), TFieldType::ftInteger, &qty, 4);
  CopyBufferToRecord(*props_, layout_, buffer_.data());
  EXPECT_EQ(FieldAddress(0)[0], 0);
  EXPECT_EQ(GetFieldNumber(3), 5);
  EXPECT_EQ(TrimRightText(GetFieldText(1)), "keep");
  EXPECT_EQ(GetFieldText(6), "  /  /  ");  // an empty date stays empty
  EXPECT_TRUE(messages_.empty());
}

// ---- Locale set-up and date fields ----

TEST_F(UcommonTest, LocaleSetupFollowsTheFrameworkFormat) {
  struct Case {
    TFormatSettings fs;
    int type;
    bool century;
  };
  const Case cases[] = {
      {{"MM/dd/yy", '/', '.'}, 0, false},  {{"MM/dd/yyyy", '/', '.'}, 0, true}, {{"dd.MM.yyyy", '.', ','}, 5, true},
      {{"dd/MM/yyyy", '/', ','}, 2, true}, {{"dd-MM-yy", '-', '.'}, 3, false},  {{"yyyy-MM-dd", '-', '.'}, 1, true},
      {{"d.M.YYYY", '.', '.'}, 5, true},
  };
  for (const Case& c : cases) {
    FormatSettings() = c.fs;
    DatasetLocaleSetup();
    EXPECT_EQ(Engine().dates.DateType, c.type) << c.fs.ShortDateFormat;
    EXPECT_EQ(Engine().dates.CenturyOn, c.century) << c.fs.ShortDateFormat;
    EXPECT_EQ(Engine().dates.DecimalPoint, c.fs.DecimalSeparator);
  }
  EXPECT_EQ(LogicalTexts().Yes, "yes");
  EXPECT_EQ(LogicalTexts().False, "False");
}

TEST_F(UcommonTest, GermanDatesRoundTripThroughTheRecord) {
  FormatSettings() = TFormatSettings{"dd.MM.yyyy", '.', ','};
  DatasetLocaleSetup();
  OpenTable({"day, D, 8, 0"});
  auto props = TDbfFieldProps::FromCurrentArea(true);
  FieldDataLayout layout = LayOutFieldData(*props);
  std::vector<uint8_t> buffer(layout.record_size, 0);
  ClearRecord();
  Append();
  const int32_t day = static_cast<int32_t>(Date(1942, 3, 5)) + kDateDelta;
  SetFieldValue(*props, layout, buffer.data(), 1, TFieldType::ftDate, &day, sizeof day);
  EXPECT_EQ(GetFieldText(1), "05.03.1942");
  Replace();
  EXPECT_NE(RawRecord().find("19420305"), std::string::npos);
  std::fill(buffer.begin(), buffer.end(), 0);
  CopyRecordToBuffer(*props, layout, buffer.data());
  int32_t back = 0;
  EXPECT_TRUE(GetFieldValue(buffer.data() + 1, *layout.Slot(1), TFieldType::ftDate, &back, sizeof back));
  EXPECT_EQ(back, day);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(UcommonTest, DateFieldDisplayAndTextRules) {
  EXPECT_EQ(DateFieldDisplayText("3/5/24"), "03/05/24");
  EXPECT_EQ(DateFieldDisplayText("not a date at all"), "not a date at all");

  TDateTime value = 0;
  EXPECT_FALSE(DateFieldTextToValue("  /  /  ", value));
  EXPECT_FALSE(DateFieldTextToValue("", value));
  EXPECT_FALSE(DateFieldTextToValue("  .  .  ", value));
  ASSERT_TRUE(DateFieldTextToValue("3/5/24", value));
  EXPECT_EQ(value, Date(2024, 3, 5));
  ASSERT_TRUE(DateFieldTextToValue("12/31/49", value));  // century from the epoch
  EXPECT_EQ(value, Date(2049, 12, 31));

  // What the engine cannot read goes to the framework's own parser.
  FormatSettings() = TFormatSettings{"yyyy-MM-dd", '-', '.'};
  ASSERT_TRUE(DateFieldTextToValue("1999-12-31", value));
  EXPECT_EQ(value, Date(1999, 12, 31));
  EXPECT_THROW(DateFieldTextToValue("31st of May", value), EConvertError);
}

// A typed four-digit year is kept whatever the display shows; two digits
// follow the epoch window (1950 here).
TEST_F(UcommonTest, TypedDateTextKeepsItsCentury) {
  struct Case {
    TFormatSettings fs;
    const char* text;
    int y, m, d;
  };
  const Case cases[] = {
      {{"MM/dd/yy", '/', '.'}, "01/02/1850", 1850, 1, 2},     {{"MM/dd/yy", '/', '.'}, "01/01/2060", 2060, 1, 1},
      {{"MM/dd/yy", '/', '.'}, "01/02/50", 1950, 1, 2},       {{"MM/dd/yy", '/', '.'}, "1/1/49", 2049, 1, 1},
      {{"MM/dd/yyyy", '/', '.'}, "12/31/1899", 1899, 12, 31}, {{"dd.MM.yy", '.', ','}, "29.02.1600", 1600, 2, 29},
      {{"dd/MM/yy", '/', '.'}, "02/01/2099", 2099, 1, 2},     {{"dd-MM-yy", '-', '.'}, "31-12-1949", 1949, 12, 31},
      {{"yy.MM.dd", '.', '.'}, "1850.01.02", 1850, 1, 2},     {{"dd.MM.yy", '.', ','}, "01.02.03", 2003, 2, 1},
  };
  for (const Case& c : cases) {
    FormatSettings() = c.fs;
    DatasetLocaleSetup();
    TDateTime value = 0;
    ASSERT_TRUE(DateFieldTextToValue(c.text, value)) << c.text;
    EXPECT_EQ(value, Date(c.y, c.m, c.d)) << c.fs.ShortDateFormat << " " << c.text;
    EXPECT_EQ(Engine().dates.CenturyOn, c.fs.ShortDateFormat.find("yyyy") != std::string::npos) << "restored";
  }
}

}  // namespace
}  // namespace ov
