// Packing a memo file: every memo a record references is copied into a
// fresh file ("$$$"), which then replaces the old one. Records are
// renumbered only once every memo has been copied, so a failure leaves the
// table and its old memo file as they were.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "engine/memo/memo.h"
#include "engine/memo/memo_internal.h"
#include "engine/memo/memo_ops.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/scope_guard.h"

namespace ov {

using namespace memo_detail;

namespace {

struct Renumbered {
  int32_t record = 0;
  size_t field = 0;
  int32_t block = 0;  // in the new file
  int32_t old = 0;    // in the old file
};

// Removes the "$$$" file unless it was put in place; reports may raise, so
// the clean-up cannot wait for a return value.
class FreshFileGuard {
 public:
  explicit FreshFileGuard(std::string name) : name_(std::move(name)) {}
  ~FreshFileGuard() {
    if (!kept_) (void)CurrentEnv()->Delete(ResolveName(name_));
  }
  FreshFileGuard(const FreshFileGuard&) = delete;
  FreshFileGuard& operator=(const FreshFileGuard&) = delete;
  void Keep() { kept_ = true; }

 private:
  std::string name_;
  bool kept_ = false;
};

// The record's bytes as the engine sees them (read filter applied, no
// code page conversion: block numbers are plain digits).
bool ReadRecordBytes(DbfFile& t, int32_t n, std::vector<char>& rec) {
  rec.assign(t.record_length, ' ');
  size_t got = 0;
  uint16_t code = t.file->ReadAt(t.RecordOffset(n), rec.data(), rec.size(), got);
  if (code == 0 && got < rec.size()) code = 100;
  if (code != 0) {
    ReportError(code, "File: " + t.path + " [PackMemofile]");
    return false;
  }
  if (t.read_filter) t.read_filter(rec.data() + 1, rec.size() - 1);
  return true;
}

bool WriteRecordBytes(DbfFile& t, int32_t n, std::vector<char> rec) {
  if (t.write_filter) t.write_filter(rec.data() + 1, rec.size() - 1);
  uint16_t code = t.file->WriteAt(t.RecordOffset(n), rec.data(), rec.size());
  if (code != 0) ReportError(code, "File: " + t.path + " [PackMemofile]");
  return code == 0;
}

int32_t FieldBlock(const std::vector<char>& rec, const FieldEntry& f) {
  const std::string text = TrimText(std::string(rec.data() + f.offset, f.length));
  return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

void PutFieldBlock(std::vector<char>& rec, const FieldEntry& f, int32_t block) {
  std::string text = std::to_string(block);
  text.insert(0, f.length > text.size() ? f.length - text.size() : 0, ' ');
  std::copy(text.end() - f.length, text.end(), rec.begin() + f.offset);
}

}  // namespace

namespace memo_detail {

int32_t CopyToFresh(MemoState& old, MemoState& fresh, int32_t block, int32_t record) {
  uint64_t size = 0;
  if (old.file->Size(size) != 0) size = 0;
  const std::string ctx =
      old.name + " Memo block # " + std::to_string(block) + " Record # " + std::to_string(record) + " [PackMemo]";
  if (uint64_t(std::llabs(int64_t{block})) * old.block_size >= size) {
    ReportError(err::kMemoAddress, ctx);
    return 0;
  }
  MemoTransfer t{&old, &fresh, block, MemoAppendOffset(fresh), ctx, fresh.name + " [PackMemo]"};
  bool headered = false;
  if (!TransferMemo(t, headered)) return 0;
  return DestBlock(t, headered);
}

}  // namespace memo_detail

namespace {

// Copies every referenced memo, last record and last field first.
bool CopyAll(DbfFile& t, MemoState& old, MemoState& fresh, std::vector<Renumbered>& out) {
  std::vector<char> rec;
  for (int32_t n = t.record_count; n >= 1; --n) {
    if (!ReadRecordBytes(t, n, rec)) return false;
    for (size_t i = t.fields.size(); i-- > 0;) {
      if (t.fields[i].type != 'M') continue;
      const int32_t block = FieldBlock(rec, t.fields[i]);
      if (block == 0) continue;
      const int32_t moved = CopyToFresh(old, fresh, block, n);
      if (moved == 0) return false;
      out.push_back({n, i, moved, block});
    }
  }
  return true;
}

bool Renumber(DbfFile& t, const std::vector<Renumbered>& moves, bool to_new) {
  std::vector<char> rec;
  for (size_t k = 0; k < moves.size(); ++k) {
    const int32_t n = moves[k].record;
    if (!ReadRecordBytes(t, n, rec)) return false;
    for (; k < moves.size() && moves[k].record == n; ++k) {
      PutFieldBlock(rec, t.fields[moves[k].field], to_new ? moves[k].block : moves[k].old);
    }
    --k;
    if (!WriteRecordBytes(t, n, rec)) return false;
  }
  return true;
}

// Puts the old numbers back after a failed renumbering; the first report
// is the one that stays.
void RestoreNumbers(DbfFile& t, const std::vector<Renumbered>& moves) {
  const ErrorState saved = Errors();
  {
    QuietErrors quiet;
    (void)Renumber(t, moves, false);
  }
  Errors() = saved;
}

bool RenumberOrRestore(DbfFile& t, const std::vector<Renumbered>& moves) {
  ScopeGuard restore([&] { RestoreNumbers(t, moves); });
  if (!Renumber(t, moves, true)) return false;
  restore.Dismiss();
  return true;
}

// Builds the "$$$" file; false after a report.
bool BuildFresh(DbfFile& t, MemoState& old, const std::string& fresh_name, std::vector<Renumbered>& moves) {
  CreateMemofileOfKind(fresh_name, old.kind, old.block_size, "PackMemofile");
  if (Errors().DbfError != 0) return false;
  MemoState fresh;
  fresh.kind = old.kind;
  fresh.block_size = old.block_size;
  fresh.name = fresh_name;
  uint16_t code = OpenResolved(fresh_name, fmode::kReadWrite | fmode::kDenyAll, Disposition::kOpenExisting, fresh.file);
  if (code != 0) ReportError(code, fresh_name + " [PackMemofile]");
  bool ok = code == 0 && CopyAll(t, old, fresh, moves) && WriteNextFree(fresh, fresh_name + " [PackMemo]");
  if (fresh.file) {
    code = fresh.file->Close();
    if (ok && code != 0) ReportError(code, fresh_name + " [PackMemofile]");
    ok = ok && code == 0;
  }
  return ok;
}

}  // namespace

namespace memo_detail {

bool WriteNextFree(MemoState& s, const std::string& context) {
  uint64_t size = 0;
  if (s.file->Size(size) != 0) size = 0;
  uint32_t next = static_cast<uint32_t>((size + s.block_size - 1) / s.block_size);
  if (s.kind == MemoKind::kDbase3 && size <= 513) next = 1;
  uint8_t b[4];
  if (s.kind == MemoKind::kFox)
    PutBe32(b, next);
  else
    PutLe32(b, next);
  return WriteExact(s, 0, b, 4, context);
}

}  // namespace memo_detail

bool HasPackSpace(const MemoState& s) {
  uint64_t size = 0;
  if (s.file->Size(size) != 0) size = 0;
  if (DiskFreeKB(SplitName(ExpandName(s.name)).dir) >= size / 1024) return true;
  ReportError(err::kMemoPackSpace, s.name + " [PackMemofile]");
  return false;
}

bool RebuildMemoFile(DbfFile& table, MemoState& old, const std::string& fresh_name) {
  std::vector<Renumbered> moves;
  FreshFileGuard guard(fresh_name);
  if (!BuildFresh(table, old, fresh_name, moves) || !RenumberOrRestore(table, moves)) return false;
  guard.Keep();
  return true;
}

}  // namespace ov
