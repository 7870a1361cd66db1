// Fuzz target: arbitrary bytes as the memo file of a table.
//
// The first input byte chooses the memo kind (dBASE III, dBASE IV, level 7,
// FoxPro); a fixed table of eight records whose memo fields point at blocks
// taken from the next input bytes is written beside the memo file, then
// every memo is read, one is rewritten, one released, and the memo file is
// packed; the integrity check runs on the files before and after. The
// engine must answer with error codes, never crash or hang.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/engine.h"
#include "engine/memo/memo_check.h"
#include "engine/memo/memo_ops.h"
#include "engine/support/mem_env.h"
#include "engine/support/ovcommon.h"

namespace ov {
namespace {

constexpr int kRecords = 8;
constexpr uint8_t kKinds[] = {0x83, 0x8B, 0x8C, 0xF5};

// Files on disk made the file system, not the engine, the bottleneck.
// The capacity keeps memos at absurd offsets from eating the memory.
MemEnv& Memory() {
  static MemEnv env(DefaultEnv(), uint64_t{256} << 20);
  return env;
}

std::string Scratch(const char* ext) { return std::string("/ov-fuzz/memo") + ext; }

// A table of one memo field whose records reference the given blocks.
bool MakeTable(uint8_t version, const std::vector<int32_t>& blocks) {
  Engine().table.CreateVersion = version;
  DbfFile dbf;
  const std::vector<FieldDef> defs = {{"notes", 'M', 10, 0}};
  CreateDbf(dbf, Scratch(".dbf"), defs);
  if (Errors().DbfError != 0) return false;
  dbf.path = Scratch(".dbf");
  OpenDbf(dbf);
  if (!dbf.is_open()) return false;
  for (int32_t b : blocks) {
    std::string text = std::to_string(b);
    dbf.record.assign(dbf.record_length, ' ');
    text = std::string(10 - std::min<size_t>(10, text.size()), ' ') + text.substr(0, 10);
    std::copy(text.begin(), text.end(), dbf.record.begin() + 1);
    AppendDbfRecord(dbf);
  }
  CloseDbf(dbf);
  return Errors().DbfError == 0;
}

void Exercise() {
  USE(Scratch(".dbf") + " EXCLUSIVE");
  if (CurrentArea() == nullptr) return;
  WorkArea& a = *CurrentArea();
  for (int n = 1; n <= kRecords && Errors().DbfError == 0; ++n) {
    GO(n);
    const int32_t block = static_cast<int32_t>(GetFieldNumber(1));
    Errors().DbfError = 0;
    (void)Areas().memo.read_text(a, block);
    Errors().DbfError = 0;
    if (n == 2) (void)Areas().memo.write_text(a, std::string(700, 'x'), block);
    if (n == 3) Areas().memo.release(a, block);
    Errors().DbfError = 0;
  }
  Areas().memo.pack(a);
  Errors().DbfError = 0;
  CloseArea();
}

}  // namespace
}  // namespace ov

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ov;
  if (size < 1 + 2 * kRecords) return 0;
  SetEnv(&Memory());
  StartEngine();
  SetImmediateErrors(false);
  const uint8_t version = kKinds[data[0] % 4];
  std::vector<int32_t> blocks;
  for (int i = 0; i < kRecords; ++i) blocks.push_back(data[1 + 2 * i] | (data[2 + 2 * i] << 8));
  const size_t skip = 1 + 2 * kRecords;
  if (MakeTable(version, blocks)) {
    const std::string memo = Scratch(version == 0xF5 ? ".FPT" : ".DBT");
    if (Memory().Put(memo, data + skip, size - skip) == 0) {
      (void)CheckTableAndMemo(Scratch(".dbf"));
      Exercise();
      (void)CheckTableAndMemo(Scratch(".dbf"));
    }
  }
  StopEngine();
  Memory().Clear();
  return 0;
}
