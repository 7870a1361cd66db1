#include "engine/memo/memo_create.h"

#include <vector>

#include "engine/support/ascii.h"
#include "engine/support/coding.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "engine/support/platform.h"

namespace ov {

namespace {

std::vector<uint8_t> HeaderBytes(const std::string& name, MemoKind kind, uint16_t block_size) {
  std::vector<uint8_t> b;
  switch (kind) {
    case MemoKind::kDbase3:
      b.assign(513, 0);
      PutLe32(b.data(), 1);
      b[512] = 0x1A;
      break;
    case MemoKind::kFox:
      b.assign(512, 0);
      PutBe32(b.data(), 511 / block_size + 1);
      b[6] = static_cast<uint8_t>(block_size >> 8);
      b[7] = static_cast<uint8_t>(block_size);
      break;
    default: {
      b.assign(24, 0);
      PutLe32(b.data(), 1);
      std::string stem = SplitName(name).name.substr(0, 8);
      for (size_t i = 0; i < stem.size(); ++i) b[8 + i] = static_cast<uint8_t>(stem[i]);
      b[18] = 0x02;
      b[19] = 0x01;
      b[20] = static_cast<uint8_t>(block_size);
      b[21] = static_cast<uint8_t>(block_size >> 8);
      break;
    }
  }
  return b;
}

uint16_t CreatedBlockSize(MemoKind kind, uint16_t block_size) {
  if (kind == MemoKind::kDbase3) return 512;
  if (block_size != 0) return block_size;
  return kind == MemoKind::kFox ? 64 : 512;
}

}  // namespace

bool MemoBlockSizeFits(MemoKind kind, uint16_t size) {
  switch (kind) {
    case MemoKind::kDbase3: return size == 512;
    case MemoKind::kFox: return size >= 8;
    default: return size >= 40;
  }
}

bool MemoBlockSizeCreatable(MemoKind kind, uint16_t block_size) {
  return MemoBlockSizeFits(kind, CreatedBlockSize(kind, block_size));
}

std::string ExtInCaseOf(const std::string& table_path, const std::string& ext) {
  std::string own = SplitName(table_path).ext;
  if (!own.empty()) own.erase(0, 1);  // the dot
  std::string cased = ext;
  for (size_t i = 0; i < cased.size() && i < own.size(); ++i) {
    if (own[i] >= 'a' && own[i] <= 'z') cased[i] = AsciiLower(cased[i]);
  }
  return cased;
}

MemoKind MemoKindOf(uint8_t version) {
  switch (version) {
    case 0x83: return MemoKind::kDbase3;
    case 0x8B: return MemoKind::kDbase4;
    case 0x8C: return MemoKind::kLevel7;
    case 0xF5: return MemoKind::kFox;
    default: {
      uint8_t cv = Engine().table.CreateVersion;
      return (cv == 0x83 || cv == 0x8B || cv == 0x8C || cv == 0xF5) ? static_cast<MemoKind>(cv) : MemoKind::kDbase4;
    }
  }
}

void CreateMemofileOfKind(const std::string& name, MemoKind kind, uint16_t block_size, const std::string& routine) {
  const std::string ext = kind == MemoKind::kFox ? "FPT" : "DBT";
  const std::string path = DefaultExt(name, ext);
  if (!MemoBlockSizeCreatable(kind, block_size)) {
    ReportError(err::kMemoAddress, "Cannot create memo file " + path + " [" + routine + "]");
    return;
  }
  block_size = CreatedBlockSize(kind, block_size);
  std::unique_ptr<File> f;
  uint16_t code = OpenResolved(path, fmode::kReadWrite | fmode::kDenyAll, Disposition::kCreateTruncate, f);
  if (code == 0) {
    std::vector<uint8_t> bytes = HeaderBytes(path, kind, block_size);
    code = f->WriteAt(0, bytes.data(), bytes.size());
    uint16_t close_code = f->Close();
    if (code == 0) code = close_code;
  }
  if (code != 0) ReportError(code, "Cannot create memo file " + path + " [" + routine + "]");
}

void CreateMemofile(const std::string& name) {
  CreateMemofileOfKind(name, MemoKindOf(Engine().table.CreateVersion), Engine().table.MemoBlockSize, "CreateMemofile");
}

}  // namespace ov
