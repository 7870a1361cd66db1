#include "engine/index/mdx_build.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/index/index_engine.h"
#include "engine/index/mdx_runs.h"
#include "engine/index/mdx_tree.h"
#include "engine/support/codepage.h"
#include "engine/support/ovcommon.h"
#include "engine/support/scope_guard.h"

namespace ov {

namespace {

constexpr size_t kReadChunk = 65280;
constexpr size_t kMinPointers = 256;
constexpr uint16_t kDivideByZero = err::kExprDivideByZero;

// Reports progress about `steps` times over the scan and again over the
// tree write, the rest at the end.
class Progress {
 public:
  explicit Progress(int64_t records) {
    const IndexEngineState& s = IndexEngine();
    if (!s.progress || s.progress_steps <= 0) return;
    proc_ = s.progress;
    steps_ = s.progress_steps;
    const int64_t per = records / steps_;
    every_ = per == 0 ? 2 : 2 * per;
  }
  void Tick() {
    if (proc_ && ++count_ % every_ == 0 && done_ < steps_) proc_(++done_);
  }
  void End() {
    while (proc_ && done_ < steps_) proc_(++done_);
  }

 private:
  std::function<void(int)> proc_;
  int steps_ = 0;
  int64_t every_ = 1, count_ = 0;
  int done_ = 0;
};

// The record as a record read presents it: the same filters and code-page
// translation, so keys are made from the text every other path sees.
void Present(DbfFile& t, const char* raw) {
  std::memcpy(t.record.data(), raw, t.record_length);
  char* body = t.record.data() + 1;
  const size_t len = t.record_length - 1u;
  if (t.read_filter) t.read_filter(body, len);
  if (t.oem) OemToAnsiBuf(body, len);
}

// Free space of the file system holding `path` against what the build needs.
bool EnoughSpace(const std::string& path, uint64_t needed, BuildFailure& f) {
  const uint32_t free_kb = CurrentEnv()->FreeSpaceKB(path);
  if (free_kb == 0xFFFFFFFFu || free_kb >= needed / 1024) return true;
  f = {err::kDiskSpace, "Available_disk_space_colon_" + std::to_string(free_kb) + " KBytes;" + "needed_colon_" +
                            std::to_string(needed / 1024) + " KBytes [MakeIndex]"};
  return false;
}

uint64_t NeededBytes(uint64_t records, uint16_t key_length) {
  const uint16_t max_keys = mdx::MaxKeys(key_length);
  uint64_t needed = records * (key_length + 4u);
  int levels = 2;
  for (uint64_t n = records / max_keys; n > 0; n /= max_keys) ++levels;
  uint64_t n = records;
  for (int d = 1; d <= levels; ++d) {
    n /= max_keys;
    needed += mdx::kBlockSize * (n + 1);
  }
  return needed;
}

class Builder {
 public:
  Builder(WorkArea& area, const BuildSpec& spec, MdxTarget& target, BuildFailure& failure)
      : area_(area),
        spec_(spec),
        target_(target),
        f_(failure),
        records_(area.table.record_count),
        progress_(records_),
        tree_(*target.file, mdx::NextBlock(target.size), spec.format, spec.unique) {}

  bool Run(BuildResult& result) {
    // A pair, its pointer and, while sorting, the pointer with its key's
    // first bytes.
    const size_t per_pair = spec_.format.length + 4u + 4u + 16u;
    const int64_t pointers = IndexEngine().BuildMemory / static_cast<int64_t>(per_pair);
    if (pointers < static_cast<int64_t>(kMinPointers)) {
      f_ = {err::kNoMemory, "_to_allocate_at_least_256_s_ptrs [MakeIndex]"};
      return false;
    }
    if (!EnoughSpace(target_.path, NeededBytes(static_cast<uint64_t>(records_), spec_.format.length), f_)) return false;
    batch_.emplace(spec_.format, static_cast<size_t>(std::min<int64_t>(pointers, std::max<int32_t>(records_, 1))));
    if (!Scan()) return false;
    if (runs_.empty()) {
      batch_->Sort();
      if (!batch_->ForEach([this](const uint8_t* p) { return Emit(p); })) return false;
    } else {
      if (!Spill()) return false;
      batch_.reset();
      if (!runs_.Merge(
              IndexEngine().BuildMemory, [this](const uint8_t* p) { return Emit(p); }, f_))
        return false;
    }
    if (!Check(tree_.Finish(result.root))) return false;
    target_.size = mdx::BlockOffset(tree_.next_block());
    result.has_keys = tree_.has_keys();
    progress_.End();
    return true;
  }

 private:
  bool Check(uint16_t code) {
    if (code != 0) f_ = {code, "Error writing index file: " + target_.path + " [MakeIndex]"};
    return code == 0;
  }

  bool Emit(const uint8_t* pair) {
    progress_.Tick();
    return Check(tree_.Add(pair, GetLe32(pair + spec_.format.length)));
  }

  bool Spill() {
    if (runs_.empty() && !runs_.Create(f_)) return false;
    if (runs_.empty() && !EnoughSpace(runs_.name(), static_cast<uint64_t>(records_) * (spec_.format.length + 4u), f_)) {
      return false;
    }
    batch_->Sort();
    if (!runs_.Write(*batch_, f_)) return false;
    batch_->Clear();
    return true;
  }

  bool Scan() {
    DbfFile& t = area_.table;
    // The area's record stays as it was, however the scan ends.
    auto saved = std::make_tuple(t.record, t.current_record, t.stored, t.stored_text, t.stored_text_due);
    ScopeGuard restore(
        [&] { std::tie(t.record, t.current_record, t.stored, t.stored_text, t.stored_text_due) = std::move(saved); });
    QuietErrors quiet;
    Errors().DbfError = 0;
    t.record.resize(t.record_length);
    const size_t per = std::max<size_t>(1, kReadChunk / t.record_length);
    std::vector<char> chunk(per * t.record_length);
    std::vector<uint8_t> key(spec_.format.length);
    for (int32_t n = 1; n <= records_;) {
      const size_t want = std::min<size_t>(per, static_cast<size_t>(records_ - n + 1));
      size_t got = 0;
      uint16_t code = t.file->ReadAt(t.RecordOffset(n), chunk.data(), want * t.record_length, got);
      if (code == 0 && got < want * t.record_length) code = err::kUnexpectedEof;
      if (code != 0) {
        f_ = {code, "File: " + t.path + "  [MakeIndex]"};
        return false;
      }
      for (size_t i = 0; i < want; ++i, ++n) {
        Present(t, chunk.data() + i * t.record_length);
        t.current_record = n;
        progress_.Tick();
        const bool passes = PassesFor(spec_.cond);
        if (passes) MakeKey(spec_.key, spec_.format, key.data());
        if (!EvaluationOk()) return false;
        if (!passes) continue;
        batch_->Add(key.data(), static_cast<uint32_t>(n));
        if (batch_->full() && n < records_ && !Spill()) return false;
      }
    }
    return true;
  }

  // A division by zero goes on with its stand-in value (clamped in the
  // key); any other evaluation failure ends the build.
  bool EvaluationOk() {
    ErrorState& e = Errors();
    if (e.DbfError == 0) return true;
    if (e.DbfError == kDivideByZero) {
      e.DbfError = 0;
      return true;
    }
    f_ = {e.DbfError, e.ErrorContext};
    e.DbfError = 0;
    return false;
  }

  WorkArea& area_;
  const BuildSpec& spec_;
  MdxTarget& target_;
  BuildFailure& f_;
  int32_t records_;
  Progress progress_;
  TreeWriter tree_;
  std::optional<PairBatch> batch_;
  RunFile runs_;
};

}  // namespace

bool BuildTree(WorkArea& area, const BuildSpec& spec, MdxTarget& target, BuildResult& result, BuildFailure& failure) {
  Builder b(area, spec, target, failure);
  return b.Run(result);
}

}  // namespace ov
