// Tables written by independent dBASE programs open here with the same
// structure and field texts those programs agree on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "engine/dbf/ovdbflow.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

#include "tests/cp437_unicode.inc"

// Encodes expected UTF-8 text into code page 437 bytes, as stored.
std::string Utf8ToCp437(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += len;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    char mapped = '?';
    for (int k = 0; k < 128; ++k) {
      if (kCp437High[k] == cp) mapped = static_cast<char>(0x80 + k);
    }
    out.push_back(mapped);
  }
  return out;
}

std::string Trimmed(const std::string& s) { return TrimRightText(s); }

// The field text of the current record, compared in the expected form.
nlohmann::json Canonical(const DbfFile& dbf, const FieldEntry& f) {
  std::string raw(dbf.record.data() + f.offset, f.length);
  std::string t = TrimText(raw);
  switch (f.type) {
    case 'N':
    case 'F': {
      if (t.empty()) return nullptr;
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.*f", f.decimals, std::strtod(t.c_str(), nullptr));
      return std::string(buf);
    }
    case 'L':
      if (t == "T" || t == "t" || t == "Y" || t == "y") return true;
      if (t == "F" || t == "f" || t == "N" || t == "n") return false;
      return nullptr;
    case 'D':
      if (t.empty()) return nullptr;
      return raw.substr(0, 4) + "-" + raw.substr(4, 2) + "-" + raw.substr(6, 2);
    default: return Trimmed(raw);
  }
}

class FixturesTest : public test::EngineTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FixturesTest, StructureAndFieldTextsMatch) {
  const std::string base = test::FixturesDir() + "/" + GetParam();
  std::ifstream in(base + ".expected.json");
  ASSERT_TRUE(in) << base;
  nlohmann::json expected = nlohmann::json::parse(in);

  DbfFile dbf;
  dbf.path = base + ".dbf";
  dbf.open_mode = fmode::kRead | fmode::kDenyNone;
  OpenDbf(dbf);
  EXPECT_EQ(dbf.version(), expected["version"].get<int>());
  EXPECT_EQ(dbf.record_count, expected["numrecords"].get<int>());
  EXPECT_EQ(dbf.header_length, expected["headerlen"].get<int>());
  EXPECT_EQ(dbf.record_length, expected["recordlen"].get<int>());
  const auto& fields = expected["fields"];
  ASSERT_EQ(dbf.fields.size(), fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(dbf.fields[i].name, fields[i]["name"].get<std::string>());
    EXPECT_EQ(std::string(1, dbf.fields[i].type), fields[i]["type"].get<std::string>());
    EXPECT_EQ(dbf.fields[i].length, fields[i]["len"].get<int>());
    EXPECT_EQ(dbf.fields[i].decimals, fields[i]["dec"].get<int>());
  }
  const auto& records = expected["records"];
  for (int32_t n = 1; n <= dbf.record_count; ++n) {
    GetDbfRecord(dbf, n);
    const auto& rec = records[n - 1];
    EXPECT_EQ(dbf.record[0] == '*', rec["deleted"].get<bool>()) << n;
    for (size_t i = 0; i < dbf.fields.size(); ++i) {
      const FieldEntry& f = dbf.fields[i];
      if (f.type == 'M') continue;  // memo texts are the memo store's to check
      nlohmann::json want = rec["values"][i];
      if (f.type == 'C') want = Utf8ToCp437(want.get<std::string>());
      EXPECT_EQ(Canonical(dbf, f), want) << GetParam() << " record " << n << " field " << f.name;
    }
  }
  CloseDbf(dbf);
  EXPECT_EQ(Errors().DbfError, 0);
}

INSTANTIATE_TEST_SUITE_P(IndependentWriters, FixturesTest,
                         ::testing::Values("db3_memo_pydbf", "db4_memo_xbase", "fox_fpt_xbase", "db3_plain_xbase",
                                           "db3_empty_pydbf"));

}  // namespace
}  // namespace ov
