#include "engine/support/engine_state.h"

#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/support/timedate.h"

namespace ov {

namespace detail {
EngineState g_engine_state;
}  // namespace detail

namespace {

EngineState& g_state = detail::g_engine_state;

void DefaultMessageBox(const std::string& text, const std::string& caption, unsigned) {
  std::fprintf(stderr, "%s\n%s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
}

Diagnostics ReadDiagnostics() {
  Diagnostics d;
  struct utsname u {};
  if (uname(&u) == 0) {
    unsigned major = 0, minor = 0;
    if (std::sscanf(u.release, "%u.%u", &major, &minor) >= 1) {
      d.OsVersion = std::to_string(major) + "." + std::to_string(minor);
    }
  }
  struct sysinfo si {};
  if (sysinfo(&si) == 0) d.TotalMemoryKB = static_cast<uint64_t>(si.totalram) * si.mem_unit / 1024;
  d.RemovableDrives = 0;
  return d;
}

}  // namespace

void EngineStartup() {
  g_state.areas.reset();
  g_state.expr.reset();
  g_state.index.reset();
  g_state.dataset.reset();
  g_state.shutdown_steps.clear();
  g_state.errors = ErrorState{};
  g_state.table = TableSettings{};
  g_state.dates = DateSettings{};
  g_state.diagnostics = ReadDiagnostics();
  g_state.memo_files = MemoFileHooks{};
  g_state.ui.ShowMessageBox = DefaultMessageBox;
  g_state.ui.Terminate = [](int status) { std::exit(status); };
  InitDateSettings();
}

void EngineShutdown() {
  // A step may register another; run from a copy.
  const std::vector<std::function<void()>> steps = std::move(g_state.shutdown_steps);
  g_state.shutdown_steps.clear();
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) (*it)();
  g_state.areas.reset();
  g_state.index.reset();
  g_state.expr.reset();
  g_state.errors.ErrorContext.clear();
}

bool EngineStarted() { return g_state.areas != nullptr; }

void AddShutdownStep(std::function<void()> step) { g_state.shutdown_steps.push_back(std::move(step)); }

}  // namespace ov
