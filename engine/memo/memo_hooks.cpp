// The memo store's operation table and its slots in the work-area layer.
#include <string>

#include "engine/memo/memo.h"
#include "engine/memo/memo_create.h"
#include "engine/memo/memo_ops.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

std::string ReadText(WorkArea& area, int32_t block) { return LoadMemoText(area, block, "ReadBlobStream"); }

// Empty text means no memo: the old one is given back.
int32_t WriteText(WorkArea& area, const std::string& text, int32_t old_block) {
  return StoreMemoText(area, text, old_block, "WriteBlobStream");
}

uint16_t Open(WorkArea& area, const std::string& name) { return OpenMemoFile(area, name); }
int32_t CopyToEnd(WorkArea& to, WorkArea& from, int32_t block) { return CopyMemoBetween(to, from, block, false); }
int32_t CopySameNumber(WorkArea& to, WorkArea& from, int32_t block) {
  return CopyMemoBetween(to, from, block, true);
}

// Filled once; the order is fixed.
constexpr MemoOperations kOperations{AssignMemo,     PackMemofileOf, Open,     CloseMemoFile,
                                     CopyToEnd,      CopySameNumber, RecreateMemofile, AddMemo};

}  // namespace

const MemoOperations& MemoOps() { return kOperations; }

void InstallMemoHooks() {
  MemoFileHooks& files = Engine().memo_files;
  files.name_for = [](const std::string& table, uint8_t version) {
    return ForceExt(table, ExtInCaseOf(table, MemoExtension(version)));
  };
  files.creatable = [](uint8_t version) {
    return MemoBlockSizeCreatable(MemoKindOf(version), Engine().table.MemoBlockSize);
  };
  files.create = [](const std::string& name, uint8_t version, const std::string& routine) {
    CreateMemofileOfKind(name, MemoKindOf(version), Engine().table.MemoBlockSize, routine);
  };
  const MemoOperations& ops = MemoOps();
  MemoHooks& h = Areas().memo;
  h.open = ops.open;
  h.close = ops.close;
  h.read_text = ReadText;
  h.write_text = WriteText;
  h.release = ReleaseMemoLocked;
  h.copy = [](WorkArea& to, WorkArea& from, int32_t block, bool same_number) {
    return same_number ? MemoOps().copy_same_number(to, from, block) : MemoOps().copy_to_end(to, from, block);
  };
  h.pack = ops.pack;
  h.recreate = ops.recreate;
}

}  // namespace ov
