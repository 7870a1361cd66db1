// Warnings of the dataset components (lock failures, corrected field
// definitions). They go through a replaceable hook: standard error by
// default, a message box in the window layer, a capture in tests.
#pragma once

#include <functional>
#include <string>

namespace ov {

using WarningHook = std::function<void(const std::string& text)>;

// Installs a hook (nullptr restores the default); answers the previous one.
WarningHook SetWarningHook(WarningHook hook);
// Reads the warning mode and, given a value other than 0, sets it;
// answers the old mode. Warnings show only in mode 2, the initial one.
int WarningMode(int set = 0);
// Shows `text` (already formatted) when the mode allows; the text is in
// the OEM character set and converted for display.
void ShowWarning(const std::string& text);

}  // namespace ov
