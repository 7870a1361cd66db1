#include "engine/support/ovcommon.h"

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "engine/support/codepage.h"

namespace ov {

namespace {

struct CodeText {
  uint16_t code;
  const char* text;
};

// Sorted by code; looked up by binary search.
constexpr CodeText kErrorTable[] = {
    {1, "Invalid DOS function code"},
    {2, "File not found"},
    {3, "Path not found"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {6, "Invalid file handle"},
    {8, "Not enough memory"},
    {9, "Memory block address invalid"},
    {10, "Environment invalid"},
    {11, "Format invalid"},
    {12, "Invalid file access code"},
    {13, "Data invalid"},
    {14, "Unknown unit"},
    {15, "Invalid drive number"},
    {16, "Cannot remove current directory"},
    {17, "Cannot rename across drives"},
    {18, "Too many open files"},
    {19, "Disk write-protected"},
    {20, "Unknown unit"},
    {21, "Drive not ready"},
    {22, "Unknown command"},
    {23, "CRC error in data"},
    {24, "Bad drive request structure length"},
    {25, "Disk seek error"},
    {26, "Unknown media type"},
    {27, "Disk sector not found"},
    {28, "Printer out of paper"},
    {29, "Device write fault"},
    {30, "Device read fault"},
    {31, "General failure"},
    {32, "File sharing violation"},
    {33, "File lock violation"},
    {34, "Disk change invalid"},
    {35, "File Control Block unavailable"},
    {36, "File sharing buffer overflow"},
    {50, "Unsupported network request"},
    {51, "Remote machine not listening"},
    {52, "Duplicate name on network"},
    {53, "Network name not found"},
    {54, "Network busy"},
    {55, "Device no longer exists on network"},
    {56, "Net-Bios command limit exceeded"},
    {57, "Error in network adapter hardware"},
    {58, "Incorrect response from network"},
    {59, "Unexpected network error"},
    {60, "Remote adapter incompatible"},
    {100, "Disk read error"},
    {101, "Disk write error (probable cause: Disk Full)."},
    {102, "File not assigned"},
    {103, "File not open"},
    {104, "File not open for input"},
    {105, "File not open for output"},
    {106, "Invalid numeric format"},
    {150, "Disk write-protected"},
    {151, "Unknown unit"},
    {152, "Drive not ready"},
    {153, "Unknown command"},
    {154, "CRC error in data"},
    {155, "Bad drive request structure length"},
    {156, "Disk seek error"},
    {157, "Unknown media type"},
    {158, "Disk sector not found"},
    {159, "Printer out of paper"},
    {160, "Device write fault"},
    {161, "Device read fault"},
    {162, "File sharing violation"},
    {200, "Division by zero error"},
    {201, "Range check error"},
    {202, "Stack overflow error"},
    {203, "Heap overflow error"},
    {204, "Invalid pointer operation"},
    {205, "Floating point overflow"},
    {206, "Floating point underflow"},
    {207, "Invalid floating point operation"},
    {208, "Overlay-manager not installed"},
    {209, "Overlay file read error"},
    {210, "Not a dBASE data file"},
    {211, "Invalid database field type encountered"},
    {212, "Request beyond range"},
    {213, "End of file found unexpectedly"},
    {214, "File already in use"},
    {215, "No database in use"},
    {216, "GP Fault"},
    {217, "Insufficient memory"},
    {218, "Invalid pointer specified"},
    {219, "Cannot duplicate file handle"},
    {220, "Invalid parameter"},
    {221, "Index file not open"},
    {222, "Corrupted index file"},
    {223, "Index version mismatch"},
    {224, "Cyclical relationship detected"},
    {225, "Exclusive Use() required"},
    {226, "BROWSE not active"},
    {227, "Insufficient disk space "},
    {228, "Unbalanced Push/Pop operation "},
    {229, "dBASE IV memo files not supported"},
    {230, "No dBASE memory variables loaded"},
    {231, "Screen library not open"},
    {239, "Missing colon in time"},
    {240, "Non-numeric character in time"},
    {241, "Invalid time specified"},
    {242, "Negative time specified"},
    {243, "TimeDiff result negative"},
    {254, "Orvel internal error"},
    {266, "Invalid size"},
    {1003, "Invalid memo address"},
    {1004, "Disk full"},
    {1005, "Memo file write error"},
    {1007, "Memo file is already open"},
    {1012, "Insufficient disk space to pack memo file"},
    {1017, "Cannot lock memo file"},
    {1018, "Cannot unlock memo file"},
    {1019, "Invalid memo operation: database not open or no memo field in database"},
    {1100, "Not a valid operation on Linked List"},
    {1102, "Virtual File Memory Management Error"},
    {1103, "Invalid Operation "},
    {1200, "Record not locked"},
    {1201, "File not locked"},
    {1202,
     "Semaphore file error. Possible solutions: log into network or load SHARE.EXE before running "
     "Windows"},
    {1300, "File format not supported"},
};

const char* LookupCode(uint16_t code) {
  if (code >= 1203 && code <= 1299) return "Network Error";
  size_t lo = 0, hi = sizeof(kErrorTable) / sizeof(kErrorTable[0]);
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (kErrorTable[mid].code == code) return kErrorTable[mid].text;
    if (kErrorTable[mid].code < code)
      lo = mid + 1;
    else
      hi = mid;
  }
  return "Undefined error";
}

bool IsSep(char c) { return c == '/'; }

}  // namespace

const char* ErrorTableText(uint16_t code) { return LookupCode(code); }

std::string ErrorDescription(uint16_t code) {
  if (code == 0) return "";
  return "Error # " + std::to_string(code) + " (" + LookupCode(code) + ")";
}

void ReportError(uint16_t code, const std::string& context) {
  ErrorState& e = Errors();
  e.DbfError = code;
  e.LastErrorCode = code;
  e.ErrorContext = context;
  if (e.ImmediateErrors) HandleError();
}

std::string ErrorText() {
  ErrorState& e = Errors();
  if (e.LastErrorCode == 0) return "";
  std::string text = std::string(LookupCode(e.LastErrorCode)) + "\r\n" + e.ErrorContext;
  e.ErrorContext.clear();
  e.LastErrorCode = 0;
  return text;
}

int ExitStatusFor(uint16_t code) { return (code >= 1 && code <= 255) ? code : 255; }

void HandleError() {
  ErrorState& e = Errors();
  if (e.Halted) return;
  e.LastErrorCode = e.DbfError;
  const uint16_t code = e.DbfError;
  if (code == 0) return;
  std::string text = ErrorDescription(code) + "\r\n" + e.ErrorContext;
  e.ErrorContext.clear();
  e.LastErrorCode = 0;
  if (e.RaiseErrors) throw EOrvelError(text);
  ShowMessageBox(text, "Program halted.", kMbIconError);
  e.Halted = true;
  Engine().ui.Terminate(ExitStatusFor(code));
}

bool SetRaiseErrors(bool flag) {
  bool prev = Errors().RaiseErrors;
  Errors().RaiseErrors = flag;
  return prev;
}

bool SetImmediateErrors(bool flag) {
  bool prev = Errors().ImmediateErrors;
  Errors().ImmediateErrors = flag;
  return prev;
}

void ReportAndRaise(uint16_t code, const std::string& context) {
  ReportError(code, context);
  if (!Errors().ImmediateErrors) throw EOrvelError(ErrorText());
}

// Uninitialised, as the callers fill it.
Block AllocBlock(uint16_t size) { return std::make_unique_for_overwrite<uint8_t[]>(size == 0 ? 1 : size); }

void FreeBlock(Block& ref) {
  if (!ref) {
    ReportError(err::kBadMemoryBlock, "Attempt to free NIL pointer [FreeMem()]");
    return;
  }
  ref.reset();
}

std::string StrToOem(const std::string& text) {
  std::string out = text;
  AnsiToOemBuf(out.data(), out.size());
  return out;
}

std::string OemToStr(const std::string& text) {
  std::string out = text;
  OemToAnsiBuf(out.data(), out.size());
  return out;
}

std::string TrimRightText(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && static_cast<unsigned char>(text[end - 1]) < 33) --end;
  return text.substr(0, end);
}

std::string TrimLeftText(const std::string& text) {
  size_t start = 0;
  while (start < text.size() && static_cast<unsigned char>(text[start]) < 33) ++start;
  return text.substr(start);
}

std::string TrimText(const std::string& text) { return TrimLeftText(TrimRightText(text)); }

NameParts SplitName(const std::string& path) {
  NameParts parts;
  size_t slash = path.find_last_of('/');
  std::string rest = path;
  if (slash != std::string::npos) {
    parts.dir = path.substr(0, slash + 1);
    rest = path.substr(slash + 1);
  }
  if (!parts.dir.empty() && !IsSep(parts.dir.back())) parts.dir += '/';
  size_t dot = rest.find_last_of('.');
  if (dot != std::string::npos) {
    parts.ext = rest.substr(dot).substr(0, 64);
    rest = rest.substr(0, dot);
  }
  parts.name = rest.substr(0, 64);
  return parts;
}

std::string DefaultExt(const std::string& path, const std::string& ext) {
  NameParts p = SplitName(path);
  if (!p.ext.empty()) return path;
  return path + "." + ext.substr(0, 64);
}

std::string ForceExt(const std::string& path, const std::string& ext) {
  return StripExt(path) + "." + ext.substr(0, 64);
}

std::string StripExt(const std::string& path) {
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

std::string ExpandName(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::string cwd = CurrentEnv()->CurrentDir();
  if (path.empty()) return cwd;
  return (cwd.empty() || cwd.back() == '/') ? cwd + path : cwd + "/" + path;
}

std::string BareName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

LocalDate Today() { return CurrentEnv()->Today(); }

void ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  Engine().ui.ShowMessageBox(text.substr(0, 255), caption.substr(0, 255), flags);
}

}  // namespace ov
