// Start-up and shut-down of the whole engine, in the documented order:
// support services (error state, dates from the locale), the work-area
// table, then the optional modules filling their hook slots.
#pragma once

namespace ov {

void StartEngine();
void StopEngine();

}  // namespace ov
