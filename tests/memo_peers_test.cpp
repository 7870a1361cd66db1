// Tables with memos written here, read back by independent dBASE readers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/memo/memo_area.h"
#include "tests/test_support.h"

namespace ov {
namespace {

// Memos of every size that matters around a 512-byte block, with lines.
// A record without memo holds "0", which dBASE III and FoxPro readers take
// for block 0 and read the file header as its text: only dBASE IV readers
// treat it as no memo, so only there is the empty memo compared.
// The memos that end the file (written last, and first when packing goes
// from the last record) are short ones, unpadded at the file's end.
std::vector<std::string> PeerTexts(uint8_t version) {
  std::string lines;
  for (int i = 0; lines.size() < 2500; ++i) lines += "line " + std::to_string(i) + " of the memo\r\n";
  lines.resize(2500);
  std::vector<std::string> texts{"y",
                                 "ten chars!",
                                 std::string(511, 'a'),
                                 std::string(512, 'b'),
                                 std::string(513, 'c'),
                                 lines,
                                 "first\r\nsecond\r\n",
                                 "x"};
  if (version == 0x8B) texts.insert(texts.begin(), std::string());
  return texts;
}

struct PeerCase {
  uint8_t version;
  bool through_add_memo;
  const char* name;
};

void PrintTo(const PeerCase& c, std::ostream* os) { *os << c.name; }

class MemoPeersTest : public test::EngineTest, public ::testing::WithParamInterface<PeerCase> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    AreaConfig().AnsiTables = true;
    AreaConfig().MultiUser = false;
  }

  // Writes the table through the engine; answers the texts in record order.
  std::vector<std::string> WriteTable(const std::string& name) {
    Engine().table.CreateVersion = GetParam().version;
    DbfFile dbf;
    const std::vector<FieldDef> defs{{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}};
    CreateDbf(dbf, Path(name), defs);
    USE(Path(name));
    const std::vector<std::string> texts = PeerTexts(GetParam().version);
    for (size_t i = 0; i < texts.size(); ++i) {
      ClearRecord();
      SetFieldText(1, "rec" + std::to_string(i + 1));
      int32_t block = 0;
      if (GetParam().through_add_memo) {
        block = texts[i].empty() ? 0 : AddMemo(texts[i]);
      } else {
        block = Areas().memo.write_text(*CurrentArea(), texts[i], 0);
      }
      SetFieldNumber(2, block);
      Append();
    }
    CloseArea();
    return texts;
  }
};

// Runs every reader over the table; their agreed memo texts must be `texts`.
void ExpectReadersSee(const std::string& table, const std::vector<std::string>& texts) {
  std::string out;
  const int status = test::ReadWithPeers(table, "all", &out);
  ASSERT_EQ(status, 0) << out;
  ASSERT_NE(out.find('{'), std::string::npos) << out;
  const nlohmann::json dump = nlohmann::json::parse(out.substr(out.find('{')));
  const auto& records = dump["records"];
  ASSERT_EQ(records.size(), texts.size()) << out;
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(records[i]["values"][0].get<std::string>(), "rec" + std::to_string(i + 1));
    EXPECT_EQ(records[i]["values"][1].get<std::string>(), texts[i]) << "record " << i + 1;
  }
}

// Lower-case names too: some readers want the memo file in the table's case.
TEST_P(MemoPeersTest, IndependentReadersSeeEveryMemoAsWritten) {
  const std::vector<std::string> texts = WriteTable("t.dbf");
  ExpectReadersSee(Path("t.dbf"), texts);
}

// Memos copied in from another table, then packed: both files readable.
TEST_P(MemoPeersTest, CopiedAndPackedMemosReadEverywhere) {
  const std::vector<std::string> texts = PeerTexts(GetParam().version);
  Engine().table.CreateVersion = 0x83;  // raw dBASE III memos as the source
  DbfFile dbf;
  const std::vector<FieldDef> defs{{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}};
  CreateDbf(dbf, Path("S"), defs);
  Select(1);
  USE(Path("S"));
  WorkArea& from = *CurrentArea();
  std::vector<int32_t> blocks;
  for (const std::string& t : texts) blocks.push_back(Areas().memo.write_text(from, t, 0));
  Engine().table.CreateVersion = GetParam().version;
  CreateDbf(dbf, Path("D"), defs);
  Select(2);
  USE(Path("D"));
  WorkArea& to = *CurrentArea();
  for (size_t i = 0; i < texts.size(); ++i) {
    AddMemo(std::string(700, 'g'));  // dead space for the pack
    ClearRecord();
    SetFieldText(1, "rec" + std::to_string(i + 1));
    SetFieldNumber(2, Areas().memo.copy(to, from, blocks[i], false));
    Append();
  }
  FlushDbf(to.table);
  ExpectReadersSee(Path("D.DBF"), texts);
  PackMemofile();
  FlushDbf(to.table);
  ExpectReadersSee(Path("D.DBF"), texts);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MemoPeersTest,
                         ::testing::Values(PeerCase{0x83, true, "Dbase3AddMemo"}, PeerCase{0x83, false, "Dbase3Hook"},
                                           PeerCase{0x8B, false, "Dbase4Hook"}, PeerCase{0x8B, true, "Dbase4AddMemo"},
                                           PeerCase{0xF5, false, "FoxProHook"}, PeerCase{0xF5, true, "FoxProAddMemo"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ov
