// Nothing a user stored changes unless they change it: tables of every
// layout and both code pages, filled with extreme stored values, go through
// a rewrite of every record, a Replace of one field, AppendFrom into the
// same structure, and a restructure (title width changed) and back. Every
// field that was not the target keeps its stored bytes, every memo its
// text, and the independent readers read the result as they read the
// original.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_append.h"
#include "engine/dbf/dbf4_search.h"
#include "engine/memo/memo_check.h"
#include "engine/support/ovcommon.h"
#include "engine/support/timedate.h"
#include "tests/test_support.h"

namespace ov {
namespace {

struct FidelityCase {
  uint8_t version;
  bool memo;
  bool oem;
  const char* name;
  const char* fixture = nullptr;  // a table of another writer, else one made here
};

constexpr int kRows = 6;
constexpr int kTitleLen = 40;

// Stored field texts per record, the title aside; "" leaves the field as
// Append left it. Blanks, "?" logicals, asterisks and "-0" are deliberate.
const std::vector<std::vector<std::string>> kStored = {
    // BIG N(20,0), FINE N(20,18), WIDE N(12,0), MONEY N(15,2), RATE F(10,3), OK L, DAY D
    {" 9999999999999999999", "1.123456789012345678", "  9876543210", "  1234567890.12", "    -0.000", "?", "        "},
    {"-9999999999999999999", "                    ", "            ", "***************", " 12345.678", " ", "18500102"},
    {"                   0", "-0.00000000000000001", "          -0", "          -0.00", "**********", "T", "99991231"},
    {"   12345678901234567", " 0.99999999999999999", " -2147483649", " -9999999999.99", "     0.001", "y", "00010101"},
    {"                    ", "  0.0000000000000000", "  2147483648", "           0.01", "          ", "F", "20600101"},
    {"                  -1", "                 1.5", "   000000042", "    12345678.9 ", "  1.5     ", "n", "19000229"},
};

const char* const kMemos[] = {"soft\x8D\nreturn\r\nhard",
                              "binary\x01\x02\xFF\xFE",
                              "",
                              "a\x1A"
                              "b",
                              "plain text",
                              ""};

std::vector<FieldDef> Fields(bool memo, int title_len = kTitleLen) {
  std::vector<FieldDef> f = {
      {"TITLE", 'C', title_len, 0}, {"BIG", 'N', 20, 0},  {"FINE", 'N', 20, 18}, {"WIDE", 'N', 12, 0},
      {"MONEY", 'N', 15, 2},        {"RATE", 'F', 10, 3}, {"OK", 'L', 1, 0},     {"DAY", 'D', 8, 0}};
  if (memo) f.push_back({"NOTES", 'M', 10, 0});
  return f;
}

// Every byte 0x20..0xFF spread over the titles of the records.
std::string TitleBytes(int row) {
  std::string t;
  for (int i = 0; i < kTitleLen; ++i) t.push_back(static_cast<char>(0x20 + (row * kTitleLen + i) % 224));
  return t;
}

// A record as stored: field texts by number, memo text in place of the
// block number, deletion flag as field 0.
using Snapshot = std::vector<std::vector<std::string>>;

class FidelityTest : public test::EngineTest, public ::testing::WithParamInterface<FidelityCase> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SetDateType(0);
    Engine().dates.CenturyOn = false;  // the typed dates drop their century
    AreaConfig().AnsiTables = !GetParam().oem;
    Engine().table.CreateVersion = GetParam().version;
  }

  void Create(const std::string& name, int title_len = kTitleLen) {
    DbfFile dbf;
    CreateDbf(dbf, Path(name), Fields(GetParam().memo, title_len));
    ASSERT_EQ(Errors().DbfError, 0);
  }
  void Open(int area, const std::string& name) {
    AreaConfig().AnsiTables = !GetParam().oem;
    Select(area);
    USE(Path(name) + " EXCLUSIVE");
  }
  std::string MemoText(int field, int32_t n) {
    GO(n);
    const auto block = static_cast<int32_t>(GetFieldNumber(field));
    return block == 0 ? std::string() : Areas().memo.read_text(*CurrentArea(), block);
  }
  // The fields of a table, the first one `title_len` wide when given.
  std::vector<FieldDef> DefsOf(const std::string& name, int title_len) {
    Open(1, name);
    std::vector<FieldDef> defs;
    for (const FieldEntry& f : CurrentArea()->table.fields) defs.push_back({f.name, f.type, f.length, f.decimals});
    CloseArea();
    if (title_len > 0) defs[0].length = title_len;
    return defs;
  }

  void Fill(const std::string& name) {
    Create(name);
    Open(1, name);
    for (int row = 0; row < kRows; ++row) {
      ClearRecord();
      Append();
      if (GetParam().memo && *kMemos[row] != 0) {
        SetFieldNumber(9, Areas().memo.write_text(*CurrentArea(), kMemos[row], 0));
        Replace();
      }
      Poke(TitleBytes(row), 1, row + 1);
      for (size_t f = 0; f < kStored[row].size(); ++f) Poke(kStored[row][f], static_cast<int>(f + 2), row + 1);
    }
    Poke("*", 0, 2);
    CloseArea();
  }

  Snapshot Take(const std::string& name) {
    // Copies hold what the source holds, its impossible date included.
    const std::string findings = FindingLines(CheckTableAndMemo(Path(name) + ".DBF"));
    if (name == "SRC") source_findings_ = findings;
    EXPECT_EQ(findings, source_findings_) << name;
    Open(1, name);
    Snapshot s;
    for (int32_t n = 1; n <= RecCount(); ++n) {
      std::vector<std::string> rec = {Peek(0, n)};
      for (int f = 1; f <= FieldCount(); ++f) rec.push_back(FieldType(f) == 'M' ? MemoText(f, n) : Peek(f, n));
      s.push_back(rec);
    }
    CloseArea();
    return s;
  }

  // Compares every field but `skip` (1-based; 0 compares all).
  static void ExpectSame(const Snapshot& want, const Snapshot& got, const std::string& step, size_t skip = 0) {
    ASSERT_EQ(got.size(), want.size()) << step;
    for (size_t n = 0; n < want.size(); ++n) {
      for (size_t f = 0; f < want[n].size(); ++f) {
        if (f == skip) continue;
        EXPECT_EQ(got[n][f], want[n][f]) << step << ": record " << n + 1 << " field " << f;
      }
    }
  }

  // Appends `source` into a new table of its structure, the first field
  // `title_len` wide when given.
  void AppendInto(const std::string& dest, const std::string& source, int title_len = 0) {
    DbfFile dbf;
    CreateDbf(dbf, Path(dest), DefsOf(source, title_len));
    ASSERT_EQ(Errors().DbfError, 0);
    Open(1, dest);
    AppendFrom(Path(source));
    ASSERT_EQ(Errors().DbfError, 0) << Errors().ErrorContext;
    CloseArea();
  }

  // What the independent readers that know the format make of a table.
  std::string PeerDump(const std::string& name) {
    std::string out;
    const int status = test::ReadWithPeers(Path(name) + ".DBF", "all", &out);
    EXPECT_EQ(status, 0) << name << ": " << out;
    return out.substr(std::min(out.find("\"records\""), out.size()));
  }

  std::string source_findings_;
};

TEST_P(FidelityTest, UntouchedFieldsKeepTheirBytes) {
  const char* const memo_ext = GetParam().version == 0xF5 ? ".FPT" : ".DBT";
  if (GetParam().fixture != nullptr) {
    const std::string base = test::FixturesDir() + "/" + GetParam().fixture;
    std::filesystem::copy_file(base + ".dbf", Path("SRC.DBF"));
    const char* const fixture_memo = GetParam().version == 0xF5 ? ".fpt" : ".dbt";
    if (GetParam().memo) std::filesystem::copy_file(base + fixture_memo, Path(std::string("SRC") + memo_ext));
  } else {
    Fill("SRC");
  }
  const Snapshot original = Take("SRC");
  const int title_len = static_cast<int>(original[0][1].size());

  // (a) every record read and written back unchanged
  std::filesystem::copy_file(Path("SRC.DBF"), Path("RW.DBF"));
  if (GetParam().memo) {
    std::filesystem::copy_file(Path(std::string("SRC") + memo_ext), Path(std::string("RW") + memo_ext));
  }
  Open(1, "RW");
  for (int32_t n = 1; n <= RecCount(); ++n) {
    GO(n);
    Replace();
  }
  CloseArea();
  ExpectSame(original, Take("RW"), "rewrite");
  EXPECT_EQ(test::ReadAll(Path("RW.DBF")).size(), test::ReadAll(Path("SRC.DBF")).size());

  // (b) one field replaced: the others stay
  Open(1, "RW");
  for (int32_t n = 1; n <= RecCount(); ++n) {
    GO(n);
    SetFieldText(1, "changed");
    Replace();
  }
  CloseArea();
  ExpectSame(original, Take("RW"), "replace of the title", 1);

  // (c) AppendFrom into the same structure; (d) into a wider and a
  // narrower title and back
  AppendInto("SAME", "SRC");
  ExpectSame(original, Take("SAME"), "append into the same structure");
  AppendInto("WIDER", "SRC", title_len + 20);
  ExpectSame(original, Take("WIDER"), "append into a wider title", 1);
  AppendInto("BACK", "WIDER", title_len);
  ExpectSame(original, Take("BACK"), "restructure and back");
  AppendInto("NARROW", "SRC", 10);
  const Snapshot narrow = Take("NARROW");
  ExpectSame(original, narrow, "append into a narrower title", 1);
  EXPECT_EQ(narrow[0][1], original[0][1].substr(0, 10));

  // Readers that know the format read the copies as the original.
  const uint8_t v = GetParam().version;
  if (v == 0x04 || v == 0x8C) return;
  const std::string want = PeerDump("SRC");
  EXPECT_EQ(PeerDump("SAME"), want);
  EXPECT_EQ(PeerDump("BACK"), want);
}

INSTANTIATE_TEST_SUITE_P(Layouts, FidelityTest,
                         ::testing::Values(FidelityCase{0x03, false, true, "Dbase3Oem"},
                                           FidelityCase{0x83, true, true, "Dbase3MemoOem"},
                                           FidelityCase{0x83, true, false, "Dbase3MemoAnsi"},
                                           FidelityCase{0x8B, true, true, "Dbase4MemoOem"},
                                           FidelityCase{0xF5, true, false, "FoxProAnsi"},
                                           FidelityCase{0x8C, true, true, "Level7Oem"},
                                           FidelityCase{0x83, true, true, "Dbase3Writer", "db3_memo_pydbf"},
                                           FidelityCase{0x8B, true, true, "Dbase4Writer", "db4_memo_xbase"},
                                           FidelityCase{0xF5, true, true, "FoxProWriter", "fox_fpt_xbase"},
                                           FidelityCase{0x03, false, true, "PlainWriter", "db3_plain_xbase"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ov
