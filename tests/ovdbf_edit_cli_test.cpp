// The ovdbf commands that write tables (create, import, index, reindex,
// restructure, pack), run as a user runs them: a separate program on real
// files, a table the tool makes and a table of an independent tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_search.h"
#include "engine/support/ovcommon.h"
#include "tests/ovdbf_tool_test.h"
#include "tests/test_support.h"

namespace ov {
namespace {

constexpr const char* kSpecs =
    "--field name,C,20,0 --field qty,N,6,0 --field price,N,10,2 --field rate,N,7,3 --field ok,L --field day,D "
    "--field notes,M";

// Rows for the table the tool makes: a deleted one, text of code page 437,
// a memo with line breaks, blanks.
constexpr const char* kRows =
    "_deleted,NAME,QTY,PRICE,RATE,OK,DAY,NOTES\r\n"
    "false,Zoë café,12,3.5,0.125,T,2020-01-31,short memo\r\n"
    "true,Bob,,,,,,\"two\r\nlines, \"\"quoted\"\"\"\r\n"
    "false,Ünter ½,-5,-1.25,-0.5,false,19991231,\r\n"
    "false,,,,,,,\r\n";

// Per record: field name -> bytes as stored (memo text for a memo), "*"
// -> the deletion flag.
using Records = std::vector<std::map<std::string, std::string>>;

class OvdbfEditCliTest : public test::OvdbfToolTest {
 protected:
  void Write(const std::string& name, const std::string& text) {
    test::WriteAll(Path(name), std::vector<uint8_t>(text.begin(), text.end()));
  }

  // Every file of the test folder with its bytes (the tool's stderr aside).
  std::map<std::string, std::vector<uint8_t>> Files() {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& e : std::filesystem::directory_iterator(dir())) {
      const std::string name = e.path().filename().string();
      if (name != "stderr.txt") files[name] = test::ReadAll(e.path().string());
    }
    return files;
  }

  Records Take(const std::string& table) {
    AreaConfig().AnsiTables = true;
    USE(Path(table));
    Records records;
    for (int32_t n = 1; n <= RecCount(); ++n) {
      GO(n);
      std::map<std::string, std::string> r{{"*", Peek(0, n)}};
      for (int f = 1; f <= FieldCount(); ++f) {
        const auto block = FieldType(f) == 'M' ? static_cast<int32_t>(GetFieldNumber(f)) : 0;
        r[Field(f)] = FieldType(f) != 'M' ? Peek(f, n) : block > 0 ? Areas().memo.read_text(*CurrentArea(), block) : "";
      }
      records.push_back(r);
    }
    CloseArea();
    return records;
  }

  // The tool's check passes and the independent readers read every record.
  void ExpectWhole(const std::string& step, size_t records) {
    EXPECT_EQ(Run("check T.DBF"), 0) << step << "\n" << out_ << err_;
    EXPECT_EQ(out_, "") << step;  // no unreachable memo blocks either
    std::string peers;
    EXPECT_EQ(test::ReadWithPeers(Path("T.DBF"), "all", &peers), 0) << step << "\n" << peers;
    EXPECT_NE(peers.find("\"numrecords\": " + std::to_string(records)), std::string::npos) << step << "\n" << peers;
  }
};

// Each write command on a table the tool makes and on one of an
// independent tool: the table stays whole for the tool's check and the
// independent readers, restructure keeps every record, memo and untouched
// byte (and comes back to the original), pack drops only deleted records.
TEST_F(OvdbfEditCliTest, WriteCommandsKeepTablesWhole) {
  for (const bool fixture : {false, true}) {
    for (const auto& [name, bytes] : Files()) std::filesystem::remove(Path(name));
    if (fixture) {
      const std::string base = test::FixturesDir() + "/db3_memo_pydbf";
      std::filesystem::copy_file(base + ".dbf", Path("T.DBF"));
      std::filesystem::copy_file(base + ".dbt", Path("T.DBT"));
    } else {
      Write("rows.csv", kRows);
      ASSERT_EQ(Run(std::string("import rows.csv --into T.DBF ") + kSpecs), 0) << err_;
      std::filesystem::remove(Path("rows.csv"));
    }
    const Records original = Take("T.DBF");
    // The version and language bytes: the table keeps its level and code page.
    const auto marks = [&] {
      const std::vector<uint8_t> b = test::ReadAll(Path("T.DBF"));
      return std::pair(b.at(0), b.at(29));
    };
    const auto original_marks = marks();
    Records kept = original;
    std::erase_if(kept, [](const auto& r) { return r.at("*") == "*"; });
    for (auto& r : kept) r["RATE"] = std::string(7, ' ');
    const struct {
      std::string args;
      std::vector<std::string> files;  // the test folder afterwards
    } steps[] = {
        {"index T.DBF --tag NAME --key NAME --quiet", {"T.DBF", "T.DBT", "T.MDX"}},
        {"index T.DBF --tag DP --key 'DTOS(DAY)+STR(PRICE,10,2)' --for 'PRICE > 0' --descending",
         {"T.DBF", "T.DBT", "T.MDX"}},
        {"reindex T.DBF", {"T.DBF", "T.DBT", "T.MDX"}},
        {"restructure T.DBF --set name,C,30,0 --add rating,N,3,1 --rename QTY=AMOUNT --drop RATE",
         {"T.DBF", "T.DBT", "T.MDX", "T.~BF", "T.~BT", "T.~DX"}},
        {"restructure T.DBF --set name,C,20,0 --rename AMOUNT=QTY --drop RATING --add rate,N,7,3", {}},
        {"pack T.DBF", {}},
    };
    for (const auto& s : steps) {
      const std::string step = (fixture ? "fixture: " : "made: ") + s.args;
      ASSERT_EQ(Run(s.args), 0) << step << "\n" << err_;
      EXPECT_EQ(out_ + err_, "") << step;
      if (!s.files.empty()) {
        std::vector<std::string> names;
        for (const auto& [file, bytes] : Files()) names.push_back(file);
        EXPECT_EQ(names, s.files) << step;
      }
      ExpectWhole(step, s.args == "pack T.DBF" ? kept.size() : original.size());
      EXPECT_EQ(marks(), original_marks) << step;
      if (s.args.starts_with("restructure T.DBF --set name,C,30")) {
        Records want = original;
        for (auto& r : want) {
          r["NAME"].resize(30, ' ');
          r["AMOUNT"] = r["QTY"];
          r["RATING"] = "   ";
          r.erase("QTY");
          r.erase("RATE");
        }
        EXPECT_EQ(Take("T.DBF"), want) << step;
      } else if (s.args.starts_with("restructure")) {
        // RATE came back blank: the rest is the original, byte for byte.
        Records got = Take("T.DBF");
        Records want = original;
        for (auto& r : want) r["RATE"] = std::string(7, ' ');
        EXPECT_EQ(got, want) << step;
      }
    }
    EXPECT_EQ(Take("T.DBF"), kept) << "pack";
    EXPECT_EQ(Run("dump --order NAME T.DBF"), 0) << err_;
  }
}

// A dump imported into a new table of the same fields dumps the same; a
// level-7 table with a lower-case name takes the same commands.
TEST_F(OvdbfEditCliTest, ImportTakesBackWhatDumpGave) {
  Write("rows.csv", kRows);
  ASSERT_EQ(Run(std::string("import rows.csv --into T.DBF ") + kSpecs), 0) << err_;
  ASSERT_EQ(Run("dump --deleted T.DBF >t.csv"), 0);
  ASSERT_EQ(Run(std::string("create --level 7 u.dbf ") + kSpecs), 0) << err_;
  EXPECT_TRUE(std::filesystem::exists(Path("u.dbt")));  // named as the memo store names it
  ASSERT_EQ(Run("import t.csv --into u.dbf"), 0) << err_;
  ASSERT_EQ(Run("dump --deleted T.DBF"), 0);
  const std::string want = out_;
  EXPECT_NE(want.find("true,Bob,,,,,,\"two\r\nlines, \"\"quoted\"\"\"\r\n"), std::string::npos) << want;
  const struct {
    std::string args;
    std::string out;  // a part of the output
  } steps[] = {{"dump --deleted u.dbf", want},
               {"info u.dbf", "layout: level 7"},
               {"index u.dbf --tag NAME --key NAME", ""},
               {"pack u.dbf", ""},
               {"restructure u.dbf --drop rate", ""},
               {"check u.dbf", ""}};
  for (const auto& s : steps) {
    ASSERT_EQ(Run(s.args), 0) << s.args << "\n" << err_;
    EXPECT_NE(out_.find(s.out), std::string::npos) << s.args << "\n" << out_;
  }
  EXPECT_EQ(Run("dump u.dbf"), 0);
  EXPECT_EQ(out_,
            "NAME,QTY,PRICE,OK,DAY,NOTES\r\nZoë café,12,3.50,true,2020-01-31,short memo\r\n"
            "Ünter ½,-5,-1.25,false,1999-12-31,\r\n,,,,,\r\n");
}

// Bad input: one line on stderr naming the file and the problem, the
// documented status, nothing on stdout, and every file as it was with no
// file added.
TEST_F(OvdbfEditCliTest, BadInputChangesNothing) {
  Write("rows.csv", kRows);
  ASSERT_EQ(Run(std::string("import rows.csv --into T.DBF ") + kSpecs), 0) << err_;
  ASSERT_EQ(Run("index T.DBF --tag NAME --key NAME"), 0) << err_;
  test::WriteAll(Path("G.DBF"), {'n', 'o', 't'});
  const struct {
    std::string csv;  // written to in.csv first, when given
    std::string args;
    int status;
    std::string err;  // how the message begins
  } cases[] = {
      {"", "pack MISSING.DBF", 2, "ovdbf: MISSING.DBF: no such file"},
      {"", "pack G.DBF", 1, "ovdbf: G.DBF: Error # 210"},
      {"", "restructure --bogus T.DBF", 2, "ovdbf: unknown option --bogus for restructure"},
      {"", "restructure T.DBF", 2, "ovdbf: T.DBF: restructure needs"},
      {"", "restructure T.DBF --drop NOPE", 2, "ovdbf: T.DBF: --drop NOPE: no such field"},
      {"", "restructure T.DBF --add name,C,5,0", 2, "ovdbf: T.DBF: --add NAME: exists"},
      {"", "restructure T.DBF --rename QTY=price", 2, "ovdbf: T.DBF: --rename QTY=price: PRICE exists"},
      {"", "restructure T.DBF --add x,Q,5,0", 2, "ovdbf: T.DBF: Error # 211"},
      {"", "restructure T.DBF --set name,C,0,0", 2, "ovdbf: T.DBF: Error # 211"},
      {"", "create N.DBF --field x,C", 2, "ovdbf: N.DBF: bad field spec \"x,C\""},
      {"", "create N.DBF --field 9x,C,5,0", 2, "ovdbf: N.DBF: bad field spec"},
      {"", "create N.DBF --field x,C,5,0 --field X,N,5,0", 2, "ovdbf: N.DBF: field X given twice"},
      {"", "create N.DBF --level 5 --field x,C,5,0", 2, "ovdbf: N.DBF: --level 5: 3, 4 or 7"},
      {"", "create T.DBF --field x,C,5,0", 2, "ovdbf: T.DBF: exists already"},
      {"", "index T.DBF --tag X --key 'NAME +'", 2, "ovdbf: T.DBF: --key NAME +: "},
      {"", "index T.DBF --tag X --key NAME --for 'QTY'", 2, "ovdbf: T.DBF: --for QTY: "},
      {"", "index T.DBF --tag X --key NOTES", 2, "ovdbf: T.DBF: --key NOTES: "},
      {"", "index T.DBF --tag name --key QTY", 2, "ovdbf: T.DBF: tag NAME exists already"},
      {"", "reindex G.DBF", 1, "ovdbf: G.DBF: Error # 210"},
      {"NAME,QTY\r\nA,1\r\nB,abc\r\n", "import in.csv --into T.DBF", 1,
       "ovdbf: in.csv:3: field QTY: not a number: abc"},
      {"NAME,QTY\r\nA,1234567\r\n", "import in.csv --into T.DBF", 1, "ovdbf: in.csv:2: field QTY: does not fit N(6,0)"},
      {"PRICE\r\n1.250\r\n1.255\r\n", "import in.csv --into T.DBF", 1,
       "ovdbf: in.csv:3: field PRICE: more decimals than 2: 1.255"},
      {"DAY\r\n2023-02-29\r\n", "import in.csv --into T.DBF", 1, "ovdbf: in.csv:2: field DAY: not a date"},
      {"OK\r\nmaybe\r\n", "import in.csv --into T.DBF", 1, "ovdbf: in.csv:2: field OK: not a logical"},
      {"NAME\r\n\"twenty-one characters\"\r\n", "import in.csv --into T.DBF", 1, "ovdbf: in.csv:2: field NAME: longer"},
      {"NAME\r\n€\r\n", "import in.csv --into T.DBF", 1, "ovdbf: in.csv:2: field NAME: characters the table's"},
      {"NAME,QTY\r\nA\r\n", "import in.csv --into T.DBF", 1, "ovdbf: in.csv:2: 1 fields, the header has 2"},
      {"NAME\r\nA\r\n\"open\r\n", "import in.csv --into T.DBF", 1, "ovdbf: in.csv:3: quoted field not closed"},
      {"NAME,BOGUS\r\n", "import in.csv --into T.DBF", 1, "ovdbf: in.csv:1: no field BOGUS in the table"},
      {"NAME\r\nA\r\n", "import in.csv --into NEW.DBF", 2, "ovdbf: in.csv: NEW.DBF does not exist"},
      {"NAME\r\nA\r\n", "import in.csv --into T.DBF --field x,C,5,0", 2, "ovdbf: in.csv: --field makes a new table"},
      {"NAME\r\nA\r\n", "import in.csv", 2, "ovdbf: in.csv: import needs --into"},
  };
  for (const auto& c : cases) {
    if (!c.csv.empty()) Write("in.csv", c.csv);
    const auto before = Files();
    EXPECT_EQ(Run(c.args), c.status) << c.args;
    EXPECT_EQ(err_.rfind(c.err, 0), 0u) << c.args << "\n" << err_;
    EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 1) << c.args << "\n" << err_;
    EXPECT_EQ(out_, "") << c.args;
    EXPECT_TRUE(Files() == before) << c.args;
  }
  EXPECT_EQ(Run("restructure --help"), 0);
  EXPECT_NE(out_.find("left out"), std::string::npos) << out_;
}

// A table another program has open is not replaced under it.
TEST_F(OvdbfEditCliTest, TableOpenElsewhereIsLeftAlone) {
  Write("rows.csv", kRows);
  ASSERT_EQ(Run(std::string("import rows.csv --into T.DBF ") + kSpecs), 0) << err_;
  test::ChildHolder holder([&] {
    AreaConfig().MultiUser = true;
    USE(Path("T.DBF"));
    return true;
  });
  ASSERT_TRUE(holder.ready());
  const auto before = Files();
  for (const char* args : {"pack T.DBF", "restructure T.DBF --drop rate", "import rows.csv --into T.DBF",
                           "index T.DBF --tag NAME --key NAME"}) {
    EXPECT_EQ(Run(args), 1) << args;
    EXPECT_NE(err_.find("Error # 32"), std::string::npos) << args << "\n" << err_;
    EXPECT_TRUE(Files() == before) << args;
  }
}

// A tag whose key no longer compiles after a restructure is left out, with
// a line saying so; the others are rebuilt.
TEST_F(OvdbfEditCliTest, RestructureLeavesOutATagItCannotBuild) {
  Write("rows.csv", kRows);
  ASSERT_EQ(Run(std::string("import rows.csv --into T.DBF ") + kSpecs), 0) << err_;
  ASSERT_EQ(Run("index T.DBF --tag NAME --key NAME"), 0) << err_;
  ASSERT_EQ(Run("index T.DBF --tag Q --key QTY --for 'PRICE > 0'"), 0) << err_;
  EXPECT_EQ(Run("restructure T.DBF --drop price"), 0);
  EXPECT_EQ(err_.rfind("ovdbf: T.DBF: tag Q left out", 0), 0u) << err_;
  EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 1) << err_;
  ASSERT_EQ(Run("info T.DBF"), 0);
  EXPECT_NE(out_.find("tag NAME: key NAME;"), std::string::npos) << out_;
  EXPECT_EQ(out_.find("tag Q:"), std::string::npos) << out_;
  EXPECT_EQ(Run("check T.DBF"), 0) << out_;
}

}  // namespace
}  // namespace ov
