// The ovdbf tool, run as a user runs it: a separate program on real files,
// tables this engine writes and tables of independent tools.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/ovdbflow.h"
#include "engine/index/umakemdx.h"
#include "engine/support/ovcommon.h"
#include "tests/ovdbf_tool_test.h"
#include "tests/test_support.h"

namespace ov {
namespace {

using test::ToolPath;

class OvdbfCliTest : public test::OvdbfToolTest {
 protected:
  // T.DBF in code page 437 with a memo file and a production index on
  // NAME; record 2 deleted. Texts are given in code page 1252, as the
  // engine's typed record holds them.
  void MakeTable() {
    AreaConfig().MultiUser = false;
    DbfFile dbf;
    CreateDbf(dbf, Path("T"), std::vector<FieldDef>{{"NAME", 'C', 20, 0}, {"QTY", 'N', 6, 1}, {"NOTES", 'M', 10, 0}});
    USE(Path("T"));
    const struct { const char* name; double qty; const char* notes; } rows[] = {
        {"Zo\xEB", 2.5, "one\r\ntwo, \"three\""}, {"gone", 9, ""}, {"Al", -1, ""}, {"M\xFC, ller", 0, "\xBD"}};
    for (const auto& r : rows) {
      ClearRecord();
      SetFieldText(1, r.name);
      SetFieldNumber(2, r.qty);
      if (*r.notes != 0) SetFieldNumber(3, Areas().memo.write_text(*CurrentArea(), r.notes, 0));
      Append();
    }
    GO(2);
    DeleteRec();
    ASSERT_TRUE(MakeMdx({{"NAME", "NAME", "", false, false}}, "", true));
    CloseArea();
  }
};

TEST_F(OvdbfCliTest, CommandsOnATableThisEngineWrites) {
  MakeTable();
  const struct {
    std::string args;
    int status;
    std::string out;  // the whole output, or a part of it when `part`
    bool part;
  } cases[] = {
      {"info T.DBF", 0, "records: 4\n", true},
      {"info T.DBF", 0, "tag NAME: key NAME; for -; type C; length 20; unique no; descending no; keys 4", true},
      {"info --json T.DBF", 0, "\"tags\":[{\"name\":\"NAME\",\"key\":\"NAME\"", true},
      {"info --json T.DBF", 0, "{\"name\":\"QTY\",\"type\":\"N\",\"length\":6,\"decimals\":1}", true},
      {"info --json T.DBF", 0, "\"memo\":{\"file\":\"T.DBT\",\"kind\":\"DBT dBASE IV\",\"block_size\":512}", true},
      {"check T.DBF", 0, "", false},
      {"repair T.DBF", 0, "", false},
      {"dump T.DBF", 0, "NAME,QTY,NOTES\r\nZoë,2.5,\"one\r\ntwo, \"\"three\"\"\"\r\nAl,-1.0,\r\n\"Mü, ller\",0.0,½\r\n", false},
      {"dump --order NAME T.DBF", 0, "NAME,QTY,NOTES\r\nAl,-1.0,\r\n\"Mü, ller\",0.0,½\r\nZoë", true},
      {"dump --for 'QTY < 1' --format jsonl --deleted T.DBF", 0,
       "{\"_deleted\":false,\"NAME\":\"Al\",\"QTY\":-1.0,\"NOTES\":\"\"}\n"
       "{\"_deleted\":false,\"NAME\":\"Mü, ller\",\"QTY\":0.0,\"NOTES\":\"½\"}\n",
       false},
      {"dump --deleted --for 'DELETED()' T.DBF", 0, "_deleted,NAME,QTY,NOTES\r\ntrue,gone,9.0,\r\n", false},
      {"dump --quiet --for 'QTY < 0' T.DBF", 0, "NAME,QTY,NOTES\r\nAl,-1.0,\r\n", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), c.status) << c.args << "\n" << err_;
    if (c.part) {
      EXPECT_NE(out_.find(c.out), std::string::npos) << c.args << "\n" << out_;
    } else {
      EXPECT_EQ(out_, c.out) << c.args;
    }
    EXPECT_EQ(err_, "") << c.args;
  }
}

// Every record of the independent tools' tables, deleted ones included,
// as the independent readers agreed they are.
TEST_F(OvdbfCliTest, DumpOfFixturesMatchesTheIndependentReaders) {
  for (const char* name : {"db3_memo_pydbf", "db4_memo_xbase", "fox_fpt_xbase", "db3_plain_xbase"}) {
    const std::string table = test::FixturesDir() + "/" + name + ".dbf";
    std::ifstream in(test::FixturesDir() + "/" + name + ".expected.json");
    const nlohmann::json expected = nlohmann::json::parse(in);
    ASSERT_EQ(Run("check " + table), 0) << name << out_ << err_;
    ASSERT_EQ(Run("dump --format jsonl --deleted " + table), 0) << name << err_;
    std::istringstream lines(out_);
    std::string line;
    for (const auto& record : expected["records"]) {
      ASSERT_TRUE(std::getline(lines, line)) << name;
      const nlohmann::json got = nlohmann::json::parse(line);
      EXPECT_EQ(got["_deleted"], record["deleted"]) << name << line;
      for (size_t i = 0; i < record["values"].size(); ++i) {
        const nlohmann::json& want = record["values"][i];
        const nlohmann::json& have = got[expected["fields"][i]["name"].get<std::string>()];
        if (want.is_string() && have.is_number()) {
          EXPECT_DOUBLE_EQ(have.get<double>(), std::stod(want.get<std::string>())) << name << line;
        } else {
          EXPECT_EQ(have, want) << name << line;
        }
      }
    }
    EXPECT_FALSE(std::getline(lines, line)) << name << ": more records than expected";
  }
}

TEST_F(OvdbfCliTest, CsvDumpLoadsIntoSqlite) {
  if (!test::HaveCommand("sqlite3 -version")) GTEST_SKIP() << "sqlite3 not installed (Debian package sqlite3)";
  const std::string table = test::FixturesDir() + "/db3_memo_pydbf.dbf";
  ASSERT_EQ(Run("dump " + table + " >t.csv"), 0) << err_;
  ASSERT_EQ(Run("info " + table), 0);
  std::string got;
  ASSERT_EQ(test::RunCommand("cd '" + dir() +
                                 "' && sqlite3 :memory: -cmd '.import --csv t.csv t' "
                                 "'SELECT count(*), sum(QTY), max(length(NOTES)), min(rowid) FROM t; "
                                 "SELECT NAME, PRICE, OK, DAY FROM t WHERE rowid = 1'",
                             &got),
            0);
  EXPECT_EQ(got, "7|1000014.0|2500|1\nZoë café|3.50|true|2020-01-31\n");
}

// The memo file's kind and block size, from independent tools' tables and
// tables this engine writes; a memo file that is not there.
TEST_F(OvdbfCliTest, InfoNamesTheMemoFile) {
  const FieldDef fields[] = {{"NOTES", 'M', 10, 0}};
  DbfFile dbf;
  Engine().table.MemoBlockSize = 64;
  CreateDbf(dbf, Path("B64.DBF"), fields);
  Engine().table.CreateVersion = 0x8C;
  CreateDbf(dbf, Path("L7.DBF"), fields);
  std::filesystem::copy_file(test::FixturesDir() + "/db4_memo_xbase.dbf", Path("NOMEMO.DBF"));
  const std::string fixtures = test::FixturesDir() + "/";
  const struct {
    std::string file, line;  // line "": no memo line
  } cases[] = {
      {fixtures + "db3_memo_pydbf.dbf", "memo: db3_memo_pydbf.dbt; kind DBT dBASE III; block size 512\n"},
      {fixtures + "db4_memo_xbase.dbf", "memo: db4_memo_xbase.dbt; kind DBT dBASE IV; block size 512\n"},
      {fixtures + "fox_fpt_xbase.dbf", "memo: fox_fpt_xbase.fpt; kind FPT; block size 512\n"},
      {fixtures + "db3_plain_xbase.dbf", ""},
      {"B64.DBF", "memo: B64.DBT; kind DBT dBASE IV; block size 64\n"},
      {"L7.DBF", "memo: L7.DBT; kind DBT level 7; block size 64\n"},
      {"NOMEMO.DBF", "memo: NOMEMO.DBT; missing\n"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Run("info " + c.file), 0) << c.file << err_;
    EXPECT_EQ(out_.find(c.line.empty() ? "memo:" : c.line) == std::string::npos, c.line.empty()) << c.file << out_;
  }
  ASSERT_EQ(Run("info --json NOMEMO.DBF"), 0);
  EXPECT_NE(out_.find("\"memo\":{\"file\":\"NOMEMO.DBT\",\"missing\":true}"), std::string::npos) << out_;
}

// The SQL dump run by sqlite3 holds every record as the independent
// readers read it, deleted ones with their marker.
TEST_F(OvdbfCliTest, SqlDumpRunsInSqliteAsTheIndependentReadersRead) {
  if (!test::HaveCommand("sqlite3 -version")) GTEST_SKIP() << "sqlite3 not installed (Debian package sqlite3)";
  for (const char* name : {"db3_memo_pydbf", "db4_memo_xbase", "fox_fpt_xbase", "db3_plain_xbase"}) {
    std::ifstream in(test::FixturesDir() + "/" + name + ".expected.json");
    const nlohmann::json expected = nlohmann::json::parse(in);
    ASSERT_EQ(Run("dump --format sql --deleted --table s " + test::FixturesDir() + "/" + name + ".dbf >s.sql"), 0)
        << name << err_;
    std::string got;
    ASSERT_EQ(
        test::RunCommand("cd '" + dir() + "' && sqlite3 :memory: '.read s.sql' '.mode json' 'SELECT * FROM s'", &got),
        0)
        << name;
    const nlohmann::json rows = nlohmann::json::parse(got);
    ASSERT_EQ(rows.size(), expected["records"].size()) << name;
    for (size_t r = 0; r < rows.size(); ++r) {
      const nlohmann::json& record = expected["records"][r];
      EXPECT_EQ(rows[r]["_deleted"] == 1, record["deleted"].get<bool>()) << name << r;
      for (size_t i = 0; i < record["values"].size(); ++i) {
        const nlohmann::json& field = expected["fields"][i];
        const nlohmann::json& want = record["values"][i];
        const nlohmann::json& have = rows[r][field["name"].get<std::string>()];
        if (want.is_null()) {
          EXPECT_TRUE(have.is_null()) << name << r << have;
        } else if (field["type"] == "N") {
          EXPECT_DOUBLE_EQ(have.get<double>(), std::stod(want.get<std::string>())) << name << r;
        } else if (field["type"] == "L") {
          EXPECT_EQ(have == 1, want.get<bool>()) << name << r;
        } else {
          EXPECT_EQ(have, want) << name << r;
        }
      }
    }
  }
}

// Quotes, tabs, backslashes and line breaks; blank values; a number and a
// date no database takes. The SQL dump loads as the CSV dump imports.
TEST_F(OvdbfCliTest, SqlAndCopyEscapeWhatTheyMust) {
  AreaConfig().MultiUser = false;
  DbfFile dbf;
  CreateDbf(dbf, Path("E"),
            std::vector<FieldDef>{
                {"TXT", 'C', 12, 0}, {"N", 'N', 5, 2}, {"D", 'D', 8, 0}, {"L", 'L', 1, 0}, {"M", 'M', 10, 0}});
  USE(Path("E"));
  const struct {
    const char *txt, *n, *d, *l, *memo;
  } rows[] = {
      {"it's \"q\"", " 1.50", "20240229", "T", "tab\there\\back\r\nline"},
      {"", "     ", "        ", " ", ""},
      {"x", "*****", "20230231", "?", ""},
  };
  for (const auto& r : rows) {
    ClearRecord();
    SetFieldText(1, r.txt);
    if (*r.memo != 0) SetFieldNumber(5, Areas().memo.write_text(*CurrentArea(), r.memo, 0));
    Append();
  }
  CloseArea();
  // N, D and L as stored bytes, damaged ones included.
  std::vector<uint8_t> bytes = test::ReadAll(Path("E.DBF"));
  for (size_t i = 0; i < std::size(rows); ++i) {
    const std::string raw = std::string(rows[i].n) + rows[i].d + rows[i].l;
    std::memcpy(&bytes[dbf.RecordOffset(static_cast<int64_t>(i) + 1) + 13], raw.data(), raw.size());
  }
  test::WriteAll(Path("E.DBF"), bytes);
  const std::string create =
      "CREATE TABLE \"e\" (\"TXT\" varchar(12), \"N\" numeric(5,2), \"D\" date, \"L\" boolean, \"M\" text);\n";
  ASSERT_EQ(Run("dump --format sql E.DBF"), 0) << err_;
  EXPECT_EQ(out_, "BEGIN;\n" + create +
                      "INSERT INTO \"e\" VALUES ('it''s \"q\"',1.50,'2024-02-29',TRUE,'tab\there\\back\r'||'\nline');\n"
                      "INSERT INTO \"e\" VALUES ('',NULL,NULL,NULL,'');\n"
                      "INSERT INTO \"e\" VALUES ('x',NULL,NULL,NULL,'');\nCOMMIT;\n");
  ASSERT_EQ(Run("dump --format copy --table 'a\"b' E.DBF"), 0) << err_;
  EXPECT_EQ(out_.substr(out_.find('\n') + 1),
            "COPY \"a\"\"b\" (\"TXT\", \"N\", \"D\", \"L\", \"M\") FROM stdin;\n"
            "it's \"q\"\t1.50\t2024-02-29\ttrue\ttab\\there\\\\back\\r\\nline\n"
            "\t\\N\t\\N\t\\N\t\n"
            "x\t\\N\t\\N\t\\N\t\n\\.\n");
  if (!test::HaveCommand("sqlite3 -version")) GTEST_SKIP() << "sqlite3 not installed (Debian package sqlite3)";
  ASSERT_EQ(Run("dump --format sql E.DBF >e.sql && " + ToolPath() + " dump E.DBF >e.csv"), 0) << err_;
  const std::string query =
      "SELECT count(*) FROM c JOIN e ON c.rowid = e.rowid WHERE c.rowid < 3 AND e.TXT = c.TXT AND e.M = c.M AND "
      "e.N IS nullif(c.N, '') + 0 AND e.D IS nullif(c.D, '') AND e.L IS (nullif(c.L, '') = 'true');\n";
  test::WriteAll(Path("q.sql"), std::vector<uint8_t>(query.begin(), query.end()));
  std::string got;
  ASSERT_EQ(test::RunCommand(
                "cd '" + dir() + "' && sqlite3 :memory: '.import --csv e.csv c' '.read e.sql' '.read q.sql'", &got),
            0);
  EXPECT_EQ(got, "2\n");
}

// K.DBF as a writer killed mid-append leaves it: a whole record beyond the
// header's count, no end-of-file byte, and memo blocks nothing holds.
void MakeKilledWriterTable(const std::string& path) {
  DbfFile dbf;
  CreateDbf(dbf, path, std::vector<FieldDef>{{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}});
  USE(path + " EXCLUSIVE");
  for (const char* name : {"one", "two"}) {
    ClearRecord();
    SetFieldText(1, name);
    SetFieldNumber(2, Areas().memo.write_text(*CurrentArea(), std::string(600, *name), 0));
    Append();
  }
  (void)Areas().memo.write_text(*CurrentArea(), std::string(1500, 'x'), 0);  // 3 blocks
  CloseArea();
  std::vector<uint8_t> bytes = test::ReadAll(path);
  bytes.pop_back();
  const std::string record = " KILLED              ";
  bytes.insert(bytes.end(), record.begin(), record.end());
  test::WriteAll(path, bytes);
}

TEST_F(OvdbfCliTest, RepairMendsACopyAndPutsItInPlace) {
  MakeKilledWriterTable(Path("K.DBF"));
  const auto table = test::ReadAll(Path("K.DBF")), memo = test::ReadAll(Path("K.DBT"));
  EXPECT_EQ(Run("check K.DBF"), 1) << out_;
  EXPECT_EQ(Run("repair K.DBF"), 0) << out_ << err_;
  EXPECT_EQ(out_,
            "repaired: header count 2 set to 3\n"
            "repaired: end-of-file byte written after record 3\n"
            "repaired: returned 3 unreachable blocks of " +
                Path("K.DBT") + " to the free chain\n");
  EXPECT_EQ(Run("check K.DBF"), 0) << out_;
  EXPECT_EQ(out_, "");
  EXPECT_EQ(test::ReadAll(Path("K.~BF")), table);  // the former files, kept
  EXPECT_EQ(test::ReadAll(Path("K.~BT")), memo);
  for (const auto& entry : std::filesystem::directory_iterator(dir())) {
    EXPECT_EQ(entry.path().filename().string().find("~R"), std::string::npos) << entry.path();
  }
  std::string peer;
  ASSERT_EQ(test::ReadWithPeers(Path("K.DBF"), "xbase", &peer), 0) << peer;
  const nlohmann::json read = nlohmann::json::parse(peer.substr(peer.find('{')));
  ASSERT_EQ(read["records"].size(), 3u) << peer;
  EXPECT_EQ(read["records"][1]["values"][1], std::string(600, 't'));
  EXPECT_EQ(read["records"][2]["values"][0], "KILLED");
  // Nothing to mend: nothing written.
  std::filesystem::remove(Path("K.~BF"));
  EXPECT_EQ(Run("repair K.DBF"), 0);
  EXPECT_EQ(out_, "");
  EXPECT_FALSE(std::filesystem::exists(Path("K.~BF")));
}

// A step that fails (the table in use, a backup name taken by a folder, so
// that the first or the second rename fails) leaves every file as it was.
TEST_F(OvdbfCliTest, RepairThatFailsLeavesTheFilesAsTheyWere) {
  const struct {
    std::string obstacle, step;
  } cases[] = {{"in use", "Error opening K.DBF"}, {"K.~BF", "Error renaming K.DBF"}, {"K.~BT", "Error renaming K.DBT"}};
  for (const auto& [obstacle, step] : cases) {
    std::filesystem::remove_all(dir());
    std::filesystem::create_directory(dir());
    MakeKilledWriterTable(Path("K.DBF"));
    const auto table = test::ReadAll(Path("K.DBF")), memo = test::ReadAll(Path("K.DBT"));
    if (obstacle == "in use") {
      USE(Path("K.DBF") + " EXCLUSIVE");
    } else {
      std::filesystem::create_directories(Path(obstacle) + "/x");
    }
    EXPECT_EQ(Run("repair K.DBF"), 1) << obstacle;
    CloseArea();
    EXPECT_EQ(out_, "") << obstacle;
    EXPECT_EQ(err_.rfind("ovdbf: K.DBF: Error # ", 0), 0u) << obstacle << err_;
    EXPECT_NE(err_.find(step), std::string::npos) << obstacle << err_;
    EXPECT_EQ(test::ReadAll(Path("K.DBF")), table) << obstacle;
    EXPECT_EQ(test::ReadAll(Path("K.DBT")), memo) << obstacle;
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir())) files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 3u) << obstacle;  // K.DBF, K.DBT and the tool's stderr.txt
  }
}

// Bad input: one line on stderr naming the file and the problem, the
// documented status, nothing on stdout.
TEST_F(OvdbfCliTest, BadInputGivesOneLineAndItsStatus) {
  MakeTable();
  std::filesystem::create_directory(Path("D.DBF"));
  test::WriteAll(Path("G.DBF"), {'n', 'o', 't'});
  const struct {
    std::string args;
    int status;
    std::string err;  // how the message begins
  } cases[] = {
      {"", 2, "ovdbf: no command"},
      {"frob T.DBF", 2, "ovdbf: unknown command frob"},
      {"dump --bogus T.DBF", 2, "ovdbf: unknown option --bogus for dump"},
      {"dump --for", 2, "ovdbf: option --for needs a value"},
      {"info", 2, "ovdbf: no file given"},
      {"dump --format xml T.DBF", 2, "ovdbf: T.DBF: unknown format xml"},
      {"dump MISSING.DBF", 2, "ovdbf: MISSING.DBF: no such file"},
      {"check MISSING.DBF", 2, "ovdbf: MISSING.DBF: no such file"},
      {"dump --for 'QTY >' T.DBF", 2, "ovdbf: T.DBF: --for QTY >: "},
      {"dump --for 'NOSUCH = 1' T.DBF", 2, "ovdbf: T.DBF: --for NOSUCH = 1: "},
      {"dump --order NOTAG T.DBF", 2, "ovdbf: T.DBF: no tag NOTAG"},
      {"dump D.DBF", 1, "ovdbf: D.DBF: Error # 5"},
      {"info G.DBF", 1, "ovdbf: G.DBF: Error # 210"},
      {"dump G.DBF", 1, "ovdbf: G.DBF: Error # 210"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), c.status) << c.args;
    EXPECT_EQ(err_.rfind(c.err, 0), 0u) << c.args << "\n" << err_;
    EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 1) << c.args << "\n" << err_;
    EXPECT_EQ(out_, "") << c.args;
  }
  EXPECT_EQ(Run("dump --help"), 0);
  EXPECT_NE(out_.find("usage: ovdbf dump"), std::string::npos);
}

}  // namespace
}  // namespace ov
