#include "engine/support/ovutils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <system_error>
#include <vector>

#include "engine/support/codepage.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "engine/support/platform.h"
#include "engine/support/real48.h"

namespace ov {

namespace {

constexpr size_t kNpos = std::string::npos;
// Widths beyond a short string's length are a caller's mistake, not a
// reason to allocate gigabytes.
constexpr int kMaxWidth = 255;

uint8_t Byte(char c) { return static_cast<uint8_t>(c); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char DecimalChar() { return Engine().dates.DecimalPoint; }

// The digit-group character that number text may carry: "," beside a "."
// decimal point, "." beside any other.
char GroupChar() { return DecimalChar() == '.' ? ',' : '.'; }

int NthForward(int64_t n, const std::string& sub, const std::string& text) {
  int64_t found = 0;
  for (size_t pos = text.find(sub); pos != kNpos; pos = text.find(sub, pos + sub.size())) {
    if (++found == n) return static_cast<int>(pos + 1);
  }
  return 0;
}

// Characters that make a word continue: an option word glued to one of
// these is part of a name or a path, not an option.
bool ContinuesWord(char c) { return IsDigit(c) || c == '\\' || c == '/' || c == '_' || IsAlphaAnsi(Byte(c)); }

template <typename Int>
Int Clamped(int64_t v) {
  v = std::clamp<int64_t>(v, std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max());
  return static_cast<Int>(v);
}

// Integer value of a text that starts with an optional "-" and digits;
// stops at anything else and saturates instead of overflowing.
int64_t SaturatingParse(const std::string& t) {
  bool negative = !t.empty() && t[0] == '-';
  int64_t v = 0;
  for (size_t i = negative ? 1 : 0; i < t.size() && IsDigit(t[i]); ++i) {
    v = std::min<int64_t>(v * 10 + (t[i] - '0'), int64_t{1} << 40);
  }
  return negative ? -v : v;
}

std::string PadLeft(const std::string& s, int width) {
  width = std::min(width, kMaxWidth);
  if (width <= static_cast<int>(s.size())) return s;
  return std::string(static_cast<size_t>(width) - s.size(), ' ') + s;
}

// DOS-style wildcard match, letter case ignored: "*" any run, "?" one
// character.
bool MatchMask(const std::string& mask, const std::string& name) {
  size_t m = 0, n = 0, star = kNpos, resume = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || UpperAnsi(Byte(mask[m])) == UpperAnsi(Byte(name[n])))) {
      ++m;
      ++n;
    } else if (m < mask.size() && mask[m] == '*') {
      star = m++;
      resume = n;
    } else if (star != kNpos) {
      m = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

// "*.*" and "x.*" also take names without an extension, as on DOS.
bool MatchesPattern(const std::string& mask, const std::string& name) {
  if (MatchMask(mask, name)) return true;
  bool any_ext = mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0;
  return any_ext && name.find('.') == kNpos && MatchMask(mask.substr(0, mask.size() - 2), name);
}

bool HasWildcards(const std::string& s) { return s.find_first_of("*?") != kNpos; }

// A file whose permissions deny writing counts as read-only and is kept,
// even where the process could unlink it (as root).
uint16_t DeleteUnlessReadOnly(const std::string& path) {
  Env* env = CurrentEnv();
  if (env->Exists(path) && env->IsReadOnly(path)) return 5;
  return env->Delete(path);
}

void EraseOne(const std::string& path) {
  uint16_t code = DeleteUnlessReadOnly(ResolveName(path));
  if (code != 0) ReportError(code, "Error erasing " + path);
}

void EraseMatching(const std::string& pattern) {
  NameParts parts = SplitName(pattern);
  std::string mask = parts.name + parts.ext;
  int failed = 0;
  for (const std::string& name : CurrentEnv()->ListDir(parts.dir)) {
    if (MatchesPattern(mask, name) && DeleteUnlessReadOnly(parts.dir + name) != 0) ++failed;
  }
  if (failed != 0)
    ReportError(err::kAccessDenied, "Could not erase " + std::to_string(failed) + " files like " + pattern);
}

}  // namespace

std::string UpperText(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = UpperChar(c);
  return out;
}

bool IsAlphaText(const std::string& text) { return !text.empty() && IsAlphaAnsi(Byte(text[0])); }

char UpperChar(char c) { return static_cast<char>(UpperAnsi(Byte(c))); }
char LowerChar(char c) { return static_cast<char>(LowerAnsi(Byte(c))); }

std::string RightTrim(const std::string& text) { return TrimRightText(text); }
std::string LeftTrim(const std::string& text) { return TrimLeftText(text); }

int Occurs(const std::string& sub, const std::string& text) {
  if (sub.empty() || text.empty()) return 0;
  int count = 0;
  for (size_t pos = text.find(sub); pos != kNpos; pos = text.find(sub, pos + sub.size())) ++count;
  return count;
}

int NthAt(int n, const std::string& sub, const std::string& text) {
  if (n == 0 || sub.empty() || text.empty()) return 0;
  if (n > 0) return NthForward(n, sub, text);
  std::string rsub(sub.rbegin(), sub.rend());
  std::string rtext(text.rbegin(), text.rend());
  return NthForward(-static_cast<int64_t>(n), rsub, rtext);
}

std::string CharString(char c, int count) {
  return count <= 0 ? std::string() : std::string(static_cast<size_t>(count), c);
}

bool RemoveWord(const std::string& word, std::string& text) {
  text = UpperText(text);
  const std::string key = UpperText(word);
  bool removed = false;
  size_t pos = key.empty() ? kNpos : text.find(key);
  while (pos != kNpos) {
    size_t end = pos + key.size();
    bool alone = (end >= text.size() || !ContinuesWord(text[end])) && (pos == 0 || !ContinuesWord(text[pos - 1]));
    if (alone) {
      text.erase(pos, key.size());
      removed = true;
    }
    pos = text.find(key, alone ? pos : pos + 1);
  }
  text = TrimText(text);
  return removed;
}

void NormaliseNumberText(std::string& text) {
  const char dp = DecimalChar();
  std::erase(text, '$');
  text.erase(0, std::min(text.find_first_not_of(" +"), text.size()));
  if (!text.empty() && text[0] == '-') {
    size_t start = std::min(text.find_first_not_of(" +-", 1), text.size());
    std::string rest = text.substr(start);
    text = (!rest.empty() && rest[0] == dp) ? "-0" + rest : "-" + rest;
  }
  std::erase(text, GroupChar());
  std::replace(text.begin(), text.end(), dp, '.');
  if (!text.empty() && text[0] == '.') text.insert(0, "0");
  text.erase(std::min(text.find(' '), text.size()));
  size_t keep = 0;
  while (keep < text.size() &&
         (IsDigit(text[keep]) || text[keep] == '.' || text[keep] == ',' || (text[keep] == '-' && keep == 0))) {
    ++keep;
  }
  text.resize(keep);
  if (!text.empty() && text.back() == '.') text.pop_back();
}

double TextToFloat(const std::string& text) {
  std::string t = text;
  NormaliseNumberText(t);
  double value = 0.0;
  auto res = std::from_chars(t.data(), t.data() + t.size(), value, std::chars_format::fixed);
  if (res.ec == std::errc::result_out_of_range) {
    value = t[0] == '-' ? -HUGE_VAL : HUGE_VAL;  // saturates in the 6-byte format
  } else if (res.ec != std::errc()) {
    value = 0.0;
  }
  return RoundToReal48(value);
}

int32_t TextToInt(const std::string& text) {
  std::string t = text;
  NormaliseNumberText(t);
  t.erase(std::min(t.find('.'), t.size()));
  return Clamped<int32_t>(SaturatingParse(t));
}

int16_t TextToSmallInt(const std::string& text) {
  std::string t = text;
  t.erase(0, std::min(t.find_first_not_of(' '), t.size()));
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  std::erase(t, GroupChar());
  size_t dollar = t.find('$');
  if (dollar != kNpos) t.erase(dollar, 1);
  // SaturatingParse stops at the first blank or other character, which
  // also drops a decimal part.
  return Clamped<int16_t>(SaturatingParse(t));
}

std::string FloatToText(int width, int decimals, double x) {
  decimals = std::clamp(decimals, 0, 64);
  char buf[512];
  auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, decimals);
  std::string s(buf, res.ec == std::errc() ? res.ptr : buf);
  if (decimals > 0 && DecimalChar() != '.') std::replace(s.begin(), s.end(), '.', DecimalChar());
  return PadLeft(s, width);
}

std::string IntToText(int64_t n, int width) { return PadLeft(std::to_string(n), width); }

std::string UniqueFilename() {
  std::string name;
  uint16_t code = CurrentEnv()->TempFile(name);
  if (code == 0) return name;
  ReportError(code, "Error requesting unique file name [UniqueFilename]");
  return std::string();
}

void EraseFiles(const std::string& pattern) {
  Errors().DbfError = 0;
  if (HasWildcards(pattern)) {
    EraseMatching(pattern);
  } else {
    EraseOne(pattern);
  }
}

bool FileExists(const std::string& name) {
  if (name.empty()) return false;
  if (!HasWildcards(name)) return FileExistsResolved(name);
  NameParts parts = SplitName(name);
  std::vector<std::string> names = CurrentEnv()->ListDir(parts.dir);
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return MatchesPattern(parts.name + parts.ext, n); });
}

uint16_t SiblingTempFile(const std::string& beside, std::string& name) {
  Env* env = CurrentEnv();
  const std::string dir = SplitName(beside).dir;
  // Start where the clock says, so that two programs rarely probe the same
  // names.
  const uint64_t seed = env->TickCountMs();
  for (uint32_t i = 0; i < 1000; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%05X", static_cast<unsigned>((seed + i) & 0xFFFFF));
    name = dir + "OVP" + number + ".TMP";
    if (env->Exists(name)) continue;
    std::unique_ptr<File> file;
    const uint16_t code = env->Open(name, fmode::kReadWrite | fmode::kDenyNone, Disposition::kCreateNew, file);
    if (code == 0) return file->Close();
    if (!env->Exists(name)) {  // not a race lost to another program
      name.clear();
      return code;
    }
  }
  name.clear();
  return 5;
}

uint16_t CopyBeside(const std::string& from, const std::string& to, std::string& staged) {
  staged.clear();
  std::string name;
  uint16_t code = SiblingTempFile(to, name);
  if (code == 0) code = CurrentEnv()->CopyFile(from, name);
  if (code == 0) {
    staged = name;
  } else if (!name.empty()) {
    (void)CurrentEnv()->Delete(name);
  }
  return code;
}

uint32_t DiskFreeKB(const std::string& path) {
  Env* env = CurrentEnv();
  return env->FreeSpaceKB(path.empty() ? env->CurrentDir() : path);
}

uint32_t DiskFreeKBOfDrive(int drive) {
  if (drive == 0) return DiskFreeKB(std::string());
  if (drive < 0 || drive > 26) return 0xFFFFFFFFu;
  return CurrentEnv()->FreeSpaceKB("/");
}

std::string ShortPathName(const std::string& path) {
  std::string p = path.substr(0, path.find_last_not_of(' ') + 1);
  if (p.empty()) return std::string();
  Env* env = CurrentEnv();
  std::string out = p[0] == '/' ? "/" : "";
  size_t start = out.size();
  while (start <= p.size()) {
    size_t slash = p.find('/', start);
    std::string part = p.substr(start, slash == kNpos ? kNpos : slash - start);
    if (!part.empty()) {
      out = ResolveName(out + part);
      if (!env->Exists(out)) return std::string();
    }
    if (slash == kNpos) break;
    out += '/';
    start = slash + 1;
  }
  return out;
}

}  // namespace ov
