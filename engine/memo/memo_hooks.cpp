// The memo store's slots in the work-area layer.
#include <string>
#include <vector>

#include "engine/memo/memo.h"
#include "engine/memo/memo_internal.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

std::string ReadText(WorkArea& area, int32_t block) {
  if (block == 0 || MemoStateOf(area) == nullptr) return std::string();
  if (OpenMemoDescriptor(area, block, 1, -1, "ReadBlobStream") == 0) return std::string();
  std::string text;
  std::vector<char> chunk(4096);
  for (;;) {
    size_t got = ReadMemoBytes(area, chunk.data(), chunk.size());
    if (got == 0) break;
    text.append(chunk.data(), got);
  }
  CloseMemoDescriptor(area);
  return area.table.oem ? OemToStr(text) : text;
}

void ReleaseLocked(WorkArea& area, int32_t block) {
  MemoState* s = MemoStateOf(area);
  if (s == nullptr || !memo_detail::IsDbase4Kind(s->kind) || block <= 0) return;
  const std::string ctx = MemoContext(area, "ReleaseMemo");
  if (LockMemoPadAndSeekEOF(area, ctx) == 0) return;
  ReleaseMemo(area, block, ctx);
  UpdateMemoHeader(area);
}

// Empty text means no memo: the old one is given back.
int32_t WriteText(WorkArea& area, const std::string& text, int32_t old_block) {
  if (MemoStateOf(area) == nullptr) return old_block;
  if (text.empty()) {
    ReleaseLocked(area, old_block);
    return 0;
  }
  const std::string bytes = area.table.oem ? StrToOem(text) : text;
  int32_t block = OpenMemoDescriptor(area, old_block, 2, static_cast<int64_t>(bytes.size()), "WriteBlobStream");
  if (block == 0) return old_block;
  if (WriteMemoBytes(area, bytes.data(), bytes.size()) != bytes.size()) return old_block;
  CloseMemoDescriptor(area);
  return block;
}

}  // namespace

void InstallMemoHooks() {
  MemoHooks& h = Areas().memo;
  h.open = [](WorkArea& area, const std::string& path) { return OpenMemoFile(area, path); };
  h.close = [](WorkArea& area) { CloseMemoFile(area); };
  h.read_text = ReadText;
  h.write_text = WriteText;
  h.release = ReleaseLocked;
}

}  // namespace ov
