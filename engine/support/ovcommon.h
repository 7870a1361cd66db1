// Engine-wide error reporting and the small helpers every layer shares.
//
// Every engine routine reports a failure with `ReportError(code, context)`.
// The code lands in `DbfError`, the context in `ErrorContext`; when
// `ImmediateErrors` is on, `HandleError` runs at once and either raises
// `EOrvelError` (with `RaiseErrors` on) or shows "Program halted." and ends
// the process with the code as exit status. After a report the routine
// returns a neutral value; callers that want to look at the outcome switch
// `ImmediateErrors` off around the call and read `DbfError`.
//
// Context conventions: the routine's name in square brackets at the end,
// a failing parameter inside the brackets, "File: " + path for table
// routines, "  WorkArea = n" for work-area commands.
//
// Single-threaded, process-wide state.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>

#include "engine/support/engine_state.h"
#include "engine/support/error_codes.h"
#include "engine/support/platform.h"

namespace ov {

class EOrvelError : public std::runtime_error {
 public:
  explicit EOrvelError(const std::string& text) : std::runtime_error(text) {}
};

inline ErrorState& Errors() { return Engine().errors; }

// Records the report and, with ImmediateErrors on, handles it at once.
void ReportError(uint16_t code, const std::string& context);
// Raises or halts for the pending report; does nothing once halted.
void HandleError();
// Description + CR LF + context of the last report, once; "" afterwards.
std::string ErrorText();
// "Error # <code> (<table text>)", or "" for 0.
std::string ErrorDescription(uint16_t code);
// The bare table text of a code ("Undefined error" when unlisted).
const char* ErrorTableText(uint16_t code);
bool SetRaiseErrors(bool flag);
bool SetImmediateErrors(bool flag);
// Reports and, when ImmediateErrors is off, raises at once: index failures
// always unwind.
void ReportAndRaise(uint16_t code, const std::string& context);

// Saves ImmediateErrors, switches it off, and restores it on scope exit:
// the idiom for routines that inspect an outcome themselves.
class QuietErrors {
 public:
  QuietErrors() : saved_(SetImmediateErrors(false)) {}
  ~QuietErrors() { SetImmediateErrors(saved_); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  bool saved_;
};

// Memory blocks with the engine's nil check.
using Block = std::unique_ptr<uint8_t[]>;
Block AllocBlock(uint16_t size);
void FreeBlock(Block& ref);
inline int64_t MemoryAvailable() { return 2147483647; }

// OEM (code page 437) <-> ANSI (code page 1252), same length.
std::string StrToOem(const std::string& text);
std::string OemToStr(const std::string& text);

// Trimming of characters below 33 (blank and control characters).
std::string TrimText(const std::string& text);
std::string TrimRightText(const std::string& text);
std::string TrimLeftText(const std::string& text);

// File-name pieces; "/" separates directories here.
struct NameParts {
  std::string dir;   // with a trailing "/" when not empty
  std::string name;  // without extension, at most 64 characters
  std::string ext;   // with its dot, at most 64 characters
};
NameParts SplitName(const std::string& path);
std::string DefaultExt(const std::string& path, const std::string& ext);
std::string ForceExt(const std::string& path, const std::string& ext);
std::string StripExt(const std::string& path);
std::string ExpandName(const std::string& path);
std::string BareName(const std::string& path);

// The current local date; weekday 1 = Sunday .. 7 = Saturday.
LocalDate Today();

// Modal message through the replaceable hook; text and caption are cut to
// 255 characters.
void ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags);
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr unsigned kMbIconWarning = 0x30;
inline constexpr unsigned kMbIconInformation = 0x40;

// Exit status for a halting code: the code when it lies in 1..255, else 255.
int ExitStatusFor(uint16_t code);

}  // namespace ov
