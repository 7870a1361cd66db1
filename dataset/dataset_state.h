// The dataset framework's process-wide state, kept in the engine state so
// that start-up gives every program (and every test) a fresh one.
#pragma once

#include <cstdint>
#include <optional>

#include "dataset/format_settings.h"
#include "dataset/tdataset.h"
#include "dataset/ucommon.h"
#include "dataset/warnings.h"

namespace ov {

struct DatasetState {
  std::optional<TFormatSettings> format;  // loaded from the locale on first use
  uint64_t format_generation = 0;         // the engine's date format adopted
  TExceptionHandler exception_handler;    // empty: the default message box
  LogicalWords logical_words;
  WarningHook warning_hook;  // empty: standard error
  int warning_mode = 2;
};

// Made on first use after each start-up.
DatasetState& DatasetGlobals();

}  // namespace ov
