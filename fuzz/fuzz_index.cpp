// Fuzz target: arbitrary bytes as the index file of a small table.
//
// The table (character, numeric and date fields, 300 records) is made once
// in memory; each input becomes its index file, which is opened and every
// tag walked both ways, then searched, checked, and a record's keys moved
// and moved back. Damaged headers, anchors and nodes must give error codes
// or findings, never a crash, a hang or an endless walk.
//
// Started with a corpus folder, the target first puts a sound index of the
// table there (when the folder is empty), so mutations start from a real
// tree.
#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/engine.h"
#include "engine/index/index_check.h"
#include "engine/index/ovndx.h"
#include "engine/index/umakemdx.h"
#include "engine/support/mem_env.h"
#include "engine/support/ovcommon.h"

namespace ov {
namespace {

constexpr int32_t kRecords = 300;
const char* const kTable = "/ov-fuzz/t.dbf";
const char* const kIndex = "/ov-fuzz/input.mdx";

MemEnv& Memory() {
  static MemEnv env(DefaultEnv(), uint64_t{64} << 20);
  return env;
}

void MakeTable() {
  DbfFile dbf;
  CreateDbf(dbf, kTable, std::vector<FieldDef>{{"NAME", 'C', 10, 0}, {"AMOUNT", 'N', 8, 2}, {"DAY", 'D', 8, 0}});
  CloseDbf(dbf);
  USE(std::string(kTable) + " EXCLUSIVE");
  for (int32_t i = 0; i < kRecords; ++i) {
    ClearRecord();
    SetFieldText(1, "N" + std::to_string(i * 7919 % 97));
    SetFieldNumber(2, (i * 31 % 200 - 100) / 4.0);
    SetFieldText(3, "2020" + std::string(i % 2 ? "01" : "11") + std::to_string(10 + i % 18));
    Append();
  }
}

// A sound index of the table, for an empty corpus folder.
void WriteSeed(const std::string& folder) {
  DIR* d = opendir(folder.c_str());
  if (d == nullptr) return;
  int entries = 0;
  while (dirent* e = readdir(d)) entries += e->d_name[0] != '.';
  closedir(d);
  if (entries > 0) return;
  const std::vector<TagDef> tags{{"NAME", "NAME", "", false, false},
                                 {"AMOUNT", "AMOUNT", "AMOUNT > 0", true, false},
                                 {"DAY", "DAY", "", false, true}};
  if (!MakeMdx(tags, kIndex, true)) return;
  std::string bytes;
  if (!Memory().Get(kIndex, bytes)) return;
  if (FILE* f = std::fopen((folder + "/seed.mdx").c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

// Walks the active order from one end to the other, at most twice the
// record count of steps: a longer walk is an endless one.
void Walk(bool forward) {
  Errors().DbfError = 0;
  forward ? GoTop() : GoBottom();
  for (int32_t steps = 0; steps < 2 * kRecords + 32 && Errors().DbfError == 0; ++steps) {
    if (forward ? dEOF() : dBOF()) return;
    SKIP(forward ? 1 : -1);
  }
  if (Errors().DbfError == 0) std::abort();  // the walk never ended
}

}  // namespace
}  // namespace ov

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  ov::SetEnv(&ov::Memory());
  ov::StartEngine();
  ov::SetImmediateErrors(false);
  ov::MakeTable();
  for (int i = 1; i < *argc; ++i) {
    if ((*argv)[i][0] != '-') ov::WriteSeed((*argv)[i]);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ov;
  CloseIndexes();
  if (Memory().Put(kIndex, data, size) != 0) return 0;
  Errors().DbfError = 0;
  if (!SetIndexTo(kIndex)) return 0;
  for (const std::string& line : IndexTagList(kIndex)) (void)line;
  for (int order = 1; order <= 47; ++order) {
    Errors().DbfError = 0;
    Set_Order_To(order);
    if (Errors().DbfError != 0) break;
    Walk(true);
    Walk(false);
    Errors().DbfError = 0;
    (void)Find("N1");
    Errors().DbfError = 0;
    (void)FindExact("20201110");
    Errors().DbfError = 0;
    SyncIndex();
  }
  Errors().DbfError = 0;
  (void)CheckIndex();
  // Key maintenance over whatever the tree holds; the record goes back.
  Errors().DbfError = 0;
  GO(1 + static_cast<int32_t>(size % kRecords));
  if (Errors().DbfError == 0) {
    const std::string name = GetFieldText(1);
    SetFieldText(1, "Z" + std::to_string(size % 89));
    Replace();
    Errors().DbfError = 0;
    SetFieldText(1, name);
    Replace();
  }
  Errors().DbfError = 0;
  return 0;
}
