// Fuzz target: arbitrary bytes as a table file.
//
// Each input is written to one scratch file in memory and opened twice:
// read-only as an OEM table, reading every record; then read-write with the
// record count repaired from the file size, rewriting the first record and
// appending one, so the header and end-of-file writes run on odd layouts
// too. The integrity check runs on the input as it came. The engine must
// answer with error codes, never crash or hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/dbf/dbf_check.h"
#include "engine/dbf/ovdbflow.h"
#include "engine/support/mem_env.h"
#include "engine/support/ovcommon.h"

namespace ov {
namespace {

// Bounds the time one input can take.
constexpr int32_t kMaxRecords = 100000;

// Files on disk made the file system, not the engine, the bottleneck.
// The capacity keeps appends at absurd offsets from eating the memory.
MemEnv& Memory() {
  static MemEnv env(DefaultEnv(), uint64_t{256} << 20);
  return env;
}

const std::string& ScratchPath() {
  static const std::string path = "/ov-fuzz/input.dbf";
  return path;
}

bool WriteScratch(const uint8_t* data, size_t size) { return Memory().Put(ScratchPath(), data, size) == 0; }

void ResetEngine() {
  Engine().errors = ErrorState{};
  Engine().table = TableSettings{};
  SetImmediateErrors(false);
}

bool Open(DbfFile& dbf, uint16_t mode) {
  Errors().DbfError = 0;
  dbf.path = ScratchPath();
  dbf.open_mode = mode;
  OpenDbf(dbf);
  if (Errors().DbfError == 0) return dbf.is_open();
  if (dbf.is_open() || dbf.file) std::abort();  // a failed open must leave nothing behind
  return false;
}

void ReadAll(DbfFile& dbf) {
  GetDbfRecord(dbf, 0);
  const int32_t last = dbf.record_count < kMaxRecords ? dbf.record_count : kMaxRecords;
  // Past the first failure (a count beyond the file's end) every read
  // fails the same way; stopping keeps inputs fast.
  Errors().DbfError = 0;
  for (int32_t n = 1; n <= last && Errors().DbfError == 0; ++n) GetDbfRecord(dbf, n);
  if (dbf.record_count < INT32_MAX) GetDbfRecord(dbf, dbf.record_count + 1);
}

void ReadPass() {
  DbfFile dbf;
  dbf.oem = true;
  if (!Open(dbf, fmode::kRead | fmode::kDenyNone)) return;
  ReadAll(dbf);
  CloseDbf(dbf);
}

void WritePass() {
  Engine().table.RepairRecCount = true;
  DbfFile dbf;
  if (!Open(dbf, fmode::kReadWrite | fmode::kDenyAll)) return;
  if (dbf.record_count > 0) {
    GetDbfRecord(dbf, 1);
    PutDbfRecord(dbf, 1);
  }
  if (dbf.record_count < INT32_MAX) AppendDbfRecord(dbf);
  PutDeleteFlag(dbf, 1);
  CloseDbf(dbf);
}

}  // namespace
}  // namespace ov

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ov::SetEnv(&ov::Memory());
  ov::EngineStartup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!ov::WriteScratch(data, size)) return 0;
  ov::ResetEngine();
  try {
    (void)ov::CheckTable(ov::ScratchPath());
    ov::ReadPass();
    ov::WritePass();
  } catch (const ov::EOrvelError&) {
    // Reports that always unwind are an answer, not a fault.
  }
  return 0;
}
