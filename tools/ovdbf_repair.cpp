#include "tools/ovdbf_repair.h"

#include <algorithm>
#include <iostream>
#include <memory>
#include <vector>

#include "engine/dbf/dbf_check.h"
#include "engine/memo/memo_area.h"
#include "engine/support/error_codes.h"
#include "engine/support/ovcommon.h"
#include "engine/support/platform.h"
#include "engine/support/scope_guard.h"
#include "tools/ovdbf_info.h"

namespace ov::cli {
namespace {

constexpr size_t kChunk = size_t{1} << 20;

// One file of the set: the original (held open while the repair runs), its
// copy under the temporary name and the backup name it moves to.
struct SetFile {
  std::string path;
  std::string copy;
  std::string backup;
  std::unique_ptr<File> held;
  bool moved = false;   // the original is at `backup`
  bool placed = false;  // the copy is at `path`
};

[[noreturn]] void Raise(uint16_t code, const std::string& context) {
  ReportError(code, context);
  throw EOrvelError(context);  // only when reports do not raise
}

uint16_t CopyOut(File& from, const std::string& to) {
  std::unique_ptr<File> out;
  uint16_t code = CurrentEnv()->Open(to, fmode::kReadWrite | fmode::kDenyAll, Disposition::kCreateNew, out);
  std::vector<char> buf(kChunk);
  for (uint64_t at = 0; code == 0;) {
    size_t got = 0;
    code = from.ReadAt(at, buf.data(), buf.size(), got);
    if (code != 0 || got == 0) break;
    code = out->WriteAt(at, buf.data(), got);
    at += got;
  }
  if (code == 0) code = out->Sync();
  if (out != nullptr && code == 0) code = out->Close();
  return code;
}

// Whether the copy still holds the original's bytes (no repair touched it).
bool Unchanged(File& original, const std::string& copy) {
  std::unique_ptr<File> other;
  if (CurrentEnv()->Open(copy, fmode::kRead | fmode::kDenyNone, Disposition::kOpenExisting, other) != 0) return false;
  uint64_t a = 0, b = 0;
  if (original.Size(a) != 0 || other->Size(b) != 0 || a != b) return false;
  std::vector<char> x(kChunk), y(kChunk);
  for (uint64_t at = 0; at < a;) {
    size_t gx = 0, gy = 0;
    if (original.ReadAt(at, x.data(), x.size(), gx) != 0 || other->ReadAt(at, y.data(), y.size(), gy) != 0 ||
        gx != gy || gx == 0 || !std::equal(x.begin(), x.begin() + static_cast<ptrdiff_t>(gx), y.begin())) {
      return false;
    }
    at += gx;
  }
  return true;
}

class SetRepair {
 public:
  explicit SetRepair(const std::string& table) {
    Add(ResolveName(DefaultExt(table, "DBF")), "~BF");
    for (const char* ext : {"DBT", "FPT"}) {
      if (const std::string memo = ResolveName(ForceExt(files_[0].path, ext)); CurrentEnv()->Exists(memo)) {
        Add(memo, "~BT");
        break;
      }
    }
    if (const std::string index = ResolveName(ForceExt(files_[0].path, "MDX")); CurrentEnv()->Exists(index)) {
      Add(index, "~DX");
    }
    PickTemporaryStem();
  }

  ~SetRepair() { RemoveTemporaryFiles(); }

  // The repairs on the copies; the lines that say what changed.
  std::vector<std::string> Run() {
    Hold();
    for (SetFile& f : files_) {
      if (const uint16_t code = CopyOut(*f.held, f.copy); code != 0) Raise(code, "Error copying " + f.path);
    }
    const std::string copy = files_[0].copy;
    const size_t before = Findings(copy, nullptr).size();
    std::vector<std::string> changes = RepairTable(copy);
    for (std::string& line : ReturnUnreachableMemoBlocks(copy)) changes.push_back(std::move(line));
    for (std::string& line : changes) {
      for (const SetFile& f : files_) Rename(line, f.copy, f.path);
      if (line.starts_with("repair failed")) Raise(err::kWriteFault, files_[0].path + ": " + line);
    }
    // A repair that left more faults than it found is not put in place.
    if (const size_t after = Findings(copy, nullptr).size(); after > before) {
      Raise(err::kInternal,
            "the repaired copy has " + std::to_string(after) + " findings, the original " + std::to_string(before));
    }
    Place();
    return changes;
  }

 private:
  void Add(std::string path, const char* backup) {
    SetFile f;
    f.backup = ForceExt(path, backup);
    f.path = std::move(path);
    files_.push_back(std::move(f));
  }

  // "<name>~R<n>", the first n for which no file of the set is there.
  void PickTemporaryStem() {
    const NameParts table = SplitName(files_[0].path);
    for (int n = 1;; ++n) {
      stem_ = table.name + "~R" + std::to_string(n);
      bool free = true;
      for (SetFile& f : files_) {
        f.copy = table.dir + stem_ + SplitName(f.path).ext;
        free = free && !CurrentEnv()->Exists(f.copy);
      }
      if (free) return;
    }
  }

  // The table exclusively, so that no writer changes it between the copy
  // and the renames; memo file and index only for reading.
  void Hold() {
    for (SetFile& f : files_) {
      const uint16_t mode = &f == &files_[0] ? fmode::kReadWrite | fmode::kDenyAll : fmode::kRead | fmode::kDenyNone;
      if (const uint16_t code = CurrentEnv()->Open(f.path, mode, Disposition::kOpenExisting, f.held); code != 0) {
        Raise(code, "Error opening " + f.path);
      }
    }
  }

  // The copies that changed go in place, the originals to their backups;
  // a failing rename puts back what had moved.
  void Place() {
    Env* env = CurrentEnv();
    for (SetFile& f : files_) {
      if (Unchanged(*f.held, f.copy)) continue;
      uint16_t code = env->Rename(f.path, f.backup);
      f.moved = code == 0;
      if (code == 0) code = env->Rename(f.copy, f.path);
      f.placed = f.moved && code == 0;
      if (code != 0) {
        Undo();
        Raise(code, "Error renaming " + f.path);
      }
    }
  }

  void Undo() {
    Env* env = CurrentEnv();
    for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
      if (it->placed) (void)env->Delete(it->path);
      if (it->moved) (void)env->Rename(it->backup, it->path);
    }
  }

  // Every file named after the temporary stem: the copies not placed and
  // whatever opening them made beside them.
  void RemoveTemporaryFiles() {
    for (SetFile& f : files_) f.held.reset();
    const NameParts table = SplitName(files_[0].path);
    Env* env = CurrentEnv();
    const std::string dir = table.dir.size() > 1 ? table.dir.substr(0, table.dir.size() - 1) : table.dir;
    for (const std::string& name : env->ListDir(dir)) {
      if (name.starts_with(stem_ + ".")) (void)env->Delete(table.dir + name);
    }
  }

  static void Rename(std::string& line, const std::string& from, const std::string& to) {
    for (size_t at; (at = line.find(from)) != std::string::npos;) line.replace(at, from.size(), to);
  }

  std::vector<SetFile> files_;
  std::string stem_;
};

}  // namespace

int Repair(const std::string& path) {
  std::vector<std::string> changes;
  {
    SetRepair repair(path);
    changes = repair.Run();
  }
  for (const std::string& line : changes) std::cout << "repaired: " << line << "\n";
  return Check(path);
}

}  // namespace ov::cli
