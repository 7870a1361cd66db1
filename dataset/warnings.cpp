#include "dataset/warnings.h"

#include <cstdio>

#include "dataset/dataset_state.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

void ToStderr(const std::string& text) {
  std::fprintf(stderr, "Warning: %s\n", text.c_str());
  std::fflush(stderr);
}

WarningHook& Hook() {
  WarningHook& hook = DatasetGlobals().warning_hook;
  if (!hook) hook = ToStderr;
  return hook;
}

int& Mode() { return DatasetGlobals().warning_mode; }

}  // namespace

WarningHook SetWarningHook(WarningHook hook) {
  WarningHook old = Hook();
  Hook() = hook ? std::move(hook) : WarningHook(ToStderr);
  return old;
}

int WarningMode(int set) {
  int old = Mode();
  if (set != 0) Mode() = set;
  return old;
}

void ShowWarning(const std::string& text) {
  if (Mode() != 2) return;
  Hook()(OemToStr(text));
}

}  // namespace ov
