// The engine's process-wide state, kept in one place.
//
// Every setting, the error state and (as the upper layers grow) the
// work-area table live in one `EngineState`. `EngineStartup` puts it into
// its documented start-up values; `EngineShutdown` releases what it holds.
// Tests run both between cases, so no state leaks from one case to another.
//
// Single-threaded, process-wide state: no locking anywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ov {

struct ErrorState {
  uint16_t DbfError = 0;        // current code; 0 = success
  std::string ErrorContext;     // context of the last report
  uint16_t LastErrorCode = 0;   // code the context belongs to
  bool ImmediateErrors = true;  // handle each report at once
  bool RaiseErrors = false;     // handler raises instead of halting
  bool Halted = false;          // the handler ended the program
};

// Settings of the table-file layer.
struct TableSettings {
  uint8_t CreateVersion = 0x8B;
  uint8_t CustomVersion = 0;
  uint8_t CustomMemoVersion = 0;
  uint16_t MemoBlockSize = 512;
  bool RepairRecCount = false;
  bool FlushEachWrite = false;
  std::string ValidFieldTypes = "CDFLMN";
  // Memory per table for record pages kept for walks in index order.
  size_t RecordPageBytes = size_t{32} << 20;
};

// Date and number settings; start-up values come from the locale.
struct DateSettings {
  uint8_t DateType = 0;
  bool CenturyOn = false;
  uint16_t EpochYear = 1900;
  char DecimalPoint = '.';
  char ThousandsSeparator = ',';
  // The dataset framework's short date format and separator, which
  // `SetDateType` rewrites.
  std::string ShortDateFormat = "MM/dd/yy";
  char DateSeparator = '/';
};

// Start-up diagnostics recorded by the support unit.
struct Diagnostics {
  std::string OsVersion;  // major.minor
  uint64_t TotalMemoryKB = 0;
  int RemovableDrives = 0;
};

// Replaceable user-interface hooks of the error path.
struct UiHooks {
  // Shows a modal message; the default writes caption and text to stderr.
  std::function<void(const std::string& text, const std::string& caption, unsigned flags)> ShowMessageBox;
  // Ends the process after "Program halted."; tests replace it.
  std::function<void(int exit_status)> Terminate;
  // Short-lived status windows: a one-line message and a progress bar
  // (opened with a caption, stepped, closed). Empty: nothing is shown.
  std::function<void(const std::string& text)> ShowStatus;
  std::function<void(const std::string& caption)> ProgressOpen;
  std::function<void()> ProgressStep;
  std::function<void()> ProgressClose;
};

// What the table file needs of the memo store when it creates a table;
// the memo store fills these at start-up, so the table file does not know
// the memo store.
struct MemoFileHooks {
  // The memo file of table `table_path` of version `version`.
  std::function<std::string(const std::string& table_path, uint8_t version)> name_for;
  // Whether a memo file for `version` can be made with the current settings.
  std::function<bool(uint8_t version)> creatable;
  // Creates the empty memo file (reports on failure).
  std::function<void(const std::string& memo_path, uint8_t version, const std::string& routine)> create;
};

// Each layer keeps its process-wide state in one slot here. The slots are
// typed but opaque to this unit; each layer creates its own.
struct AreaTable;         // the work areas (engine/dbf/dbf4.h)
struct ExprState;         // the expression compiler (engine/expr/compile_state.h)
struct IndexEngineState;  // the index engine (engine/index)
struct DatasetState;      // the dataset framework (dataset/dataset_state.h)

struct EngineState {
  ErrorState errors;
  TableSettings table;
  DateSettings dates;
  Diagnostics diagnostics;
  UiHooks ui;
  MemoFileHooks memo_files;
  // Created by their layers on first use; start-up drops them all,
  // shutdown all but the dataset framework's (components may outlive the
  // engine and still show a warning).
  std::shared_ptr<ExprState> expr;
  std::shared_ptr<IndexEngineState> index;
  std::shared_ptr<DatasetState> dataset;
  // Created by StartWorkAreas; absent before start-up and after shutdown.
  // Declared last so that at exit the areas (whose indexes hold compiled
  // expressions) go before the layers they use.
  std::shared_ptr<AreaTable> areas;
  // Run in reverse order by EngineShutdown; cleared by EngineStartup.
  std::vector<std::function<void()>> shutdown_steps;
};

namespace detail {
extern EngineState g_engine_state;
}  // namespace detail

// Inline: every command and field access starts here.
inline EngineState& Engine() { return detail::g_engine_state; }

// Puts the whole state to its start-up values (error state cleared, dates
// from the locale, default hooks). Safe to call again.
void EngineStartup();
// Releases what the state holds; later layers close their areas here.
void EngineShutdown();
// Whether the work areas exist (between start-up and shutdown).
bool EngineStarted();

// Registers a routine that `EngineShutdown` runs (later layers close their
// work areas this way without the support unit knowing them).
void AddShutdownStep(std::function<void()> step);

}  // namespace ov
