// Installs the window layer into the engine's hooks: "Program halted." and
// warnings as message boxes, status and progress windows, and lock-retry
// waits that keep the application responsive. Call after StartEngine.
#pragma once

namespace ov {

// With `interactive` false (unattended runs), messages are written to
// standard error instead of opening modal boxes that nobody would close.
void InstallUiHooks(bool interactive);

}  // namespace ov
