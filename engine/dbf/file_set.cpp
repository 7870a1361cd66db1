#include "engine/dbf/file_set.h"

#include <vector>

#include "engine/memo/memo_create.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/platform.h"

namespace ov {

namespace {

// One file of the set on its way to its target.
struct Step {
  std::string from;     // the source as it is on disk; "" when there is none
  std::string to;       // the target as it is on disk, or as named
  std::string staged;   // the copy of `from` beside `to`
  std::string aside;    // the name the former `to` moves to
  bool moved = false;   // the former `to` is at `aside`
  bool placed = false;  // `staged` is now `to`
};

// The memo file travels under its own kind's extension: "FPT" when the
// source has one and no "DBT".
const char* MemoExt(const std::string& source) {
  Env* env = CurrentEnv();
  if (env->Exists(ResolveName(ForceExt(source, "DBT")))) return "DBT";
  return env->Exists(ResolveName(ForceExt(source, "FPT"))) ? "FPT" : "DBT";
}

std::vector<Step> PlanSteps(const std::string& source, const std::string& target) {
  const char* const memo_index[] = {MemoExt(source), "MDX"};
  const char* const backups[] = {"~BF", "~BT", "~DX"};
  std::vector<Step> steps(3);
  for (size_t i = 0; i < steps.size(); ++i) {
    const std::string from = i == 0 ? source : ForceExt(source, memo_index[i - 1]);
    std::string to;
    if (target.empty()) {
      to = ForceExt(source, backups[i]);
    } else {
      // A new memo file looks like its table, as the memo store names it.
      to = i == 0 ? target : ForceExt(target, i == 1 ? ExtInCaseOf(target, memo_index[0]) : memo_index[1]);
    }
    const std::string real_from = ResolveName(from);
    steps[i].from = CurrentEnv()->Exists(real_from) ? real_from : std::string();
    steps[i].to = ResolveName(to);
  }
  return steps;
}

class FileSetCopy {
 public:
  explicit FileSetCopy(std::vector<Step> steps) : steps_(std::move(steps)) {}

  bool Run() { return Stage() && Place() && DropAsides(); }

 private:
  bool Stage() {
    for (Step& s : steps_) {
      if (s.from.empty()) continue;
      if (const uint16_t code = CopyBeside(s.from, s.to, s.staged); code != 0) {
        return Fail(code, "Error copying " + s.from + " to " + s.to);
      }
    }
    return true;
  }

  bool Place() {
    Env* env = CurrentEnv();
    for (Step& s : steps_) {
      if (env->Exists(s.to)) {
        uint16_t code = SiblingTempFile(s.to, s.aside);
        if (code == 0) code = env->Rename(s.to, s.aside);
        if (code != 0) return Fail(code, "Error renaming " + s.to);
        s.moved = true;
      }
      if (s.staged.empty()) continue;
      if (const uint16_t code = env->Rename(s.staged, s.to); code != 0) {
        return Fail(code, "Error renaming " + s.staged + " to " + s.to);
      }
      s.placed = true;
    }
    return true;
  }

  // The new set is complete; what is left are the former targets.
  bool DropAsides() {
    for (const Step& s : steps_) {
      if (!s.moved) continue;
      if (const uint16_t code = CurrentEnv()->Delete(s.aside); code != 0) {
        ReportError(code, "Error erasing " + s.aside);
        return false;
      }
    }
    return true;
  }

  // Puts every target back as it was, then reports. Undoing goes first:
  // the report may raise or end the program.
  bool Fail(uint16_t code, const std::string& context) {
    Env* env = CurrentEnv();
    for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
      Step& s = *it;
      if (s.moved) {
        (void)env->Rename(s.aside, s.to);
      } else if (s.placed) {
        (void)env->Delete(s.to);
      }
      if (!s.placed && !s.staged.empty()) (void)env->Delete(s.staged);
      if (!s.moved && !s.aside.empty()) (void)env->Delete(s.aside);
    }
    ReportError(code, context);
    return false;
  }

  std::vector<Step> steps_;
};

}  // namespace

bool CopyFileSet(const std::string& source, const std::string& target) {
  return FileSetCopy(PlanSteps(source, target)).Run();
}

}  // namespace ov
