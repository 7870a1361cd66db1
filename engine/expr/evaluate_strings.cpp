// String opcodes. Results are built in the scratch area (or are pieces of
// the popped operand, still in place at the pool top) and pushed from
// there; every result is cut at kMaxExprText characters.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/expr/evaluate_internal.h"

namespace ov::eval_detail {

namespace {

// Appends to the scratch area up to the string limit.
class ScratchText {
 public:
  void Append(std::string_view s) {
    const size_t take = std::min(s.size(), kMaxExprText - n_);
    std::memcpy(Machine::Scratch() + n_, s.data(), take);
    n_ += take;
  }
  void Fill(char c, size_t count) {
    const size_t take = std::min(count, kMaxExprText - n_);
    std::memset(Machine::Scratch() + n_, c, take);
    n_ += take;
  }
  bool full() const { return n_ == kMaxExprText; }
  void Push(Machine& m) const { m.PushScratch(n_); }

 private:
  size_t n_ = 0;
};

// Pieces keep pointing into their string, never at null.
std::string_view TrimRight(std::string_view s) {
  const size_t end = s.find_last_not_of(' ');
  return s.substr(0, end == std::string_view::npos ? 0 : end + 1);
}

std::string_view TrimLeft(std::string_view s) {
  const size_t start = s.find_first_not_of(' ');
  return s.substr(start == std::string_view::npos ? s.size() : start);
}

void Concat(Machine& m, const CodeItem&) {
  const std::string_view b = m.PopText();
  const std::string_view a = m.PopText();
  ScratchText out;
  out.Append(a);
  out.Append(b);
  out.Push(m);
}

// The left string's trailing blanks move behind the right string.
void ConcatTrimmed(Machine& m, const CodeItem&) {
  const std::string_view b = m.PopText();
  const std::string_view a = m.PopText();
  const std::string_view core = TrimRight(a);
  ScratchText out;
  out.Append(core);
  out.Append(b);
  out.Fill(' ', a.size() - core.size());
  out.Push(m);
}

void MapCase(Machine& m, const char* map) {
  const std::string_view s = m.PopText().substr(0, kMaxExprText);
  char* out = Machine::Scratch();
  for (size_t i = 0; i < s.size(); ++i) out[i] = map[static_cast<unsigned char>(s[i])];
  m.PushScratch(s.size());
}

void Upper(Machine& m, const CodeItem&) { MapCase(m, UpperCaseMap()); }
void Lower(Machine& m, const CodeItem&) { MapCase(m, LowerCaseMap()); }

// Pieces of the popped string are still in place; PushText moves them down.
void Rtrim(Machine& m, const CodeItem&) { m.PushText(TrimRight(m.PopText())); }
void Ltrim(Machine& m, const CodeItem&) { m.PushText(TrimLeft(m.PopText())); }

void Left(Machine& m, const CodeItem&) {
  const size_t n = CountArg(m.PopNumber());
  const std::string_view s = m.PopText();
  m.PushText(s.substr(0, n));
}

void Right(Machine& m, const CodeItem&) {
  const size_t n = CountArg(m.PopNumber());
  const std::string_view s = m.PopText();
  m.PushText(s.substr(s.size() - std::min(n, s.size())));
}

// A 1-based position clipped to 1..length + 1, as a 0-based index.
size_t ClipPosition(double p, size_t length) {
  const int64_t pos = TruncToInt(p);
  if (pos < 1) return 0;
  return static_cast<size_t>(std::min<int64_t>(pos - 1, static_cast<int64_t>(length)));
}

void Substr(Machine& m, const CodeItem&) {
  const double n = m.PopNumber();
  const double p = m.PopNumber();
  const std::string_view s = m.PopText();
  m.PushText(s.substr(ClipPosition(p, s.size()), CountArg(n)));
}

void Stuff(Machine& m, const CodeItem&) {
  const std::string_view r = m.PopText();
  const double n = m.PopNumber();
  const double p = m.PopNumber();
  const std::string_view s = m.PopText();
  const size_t at = ClipPosition(p, s.size());
  const int64_t count = std::clamp<int64_t>(TruncToInt(n), 0, static_cast<int64_t>(s.size() - at));
  ScratchText out;
  out.Append(s.substr(0, at));
  out.Append(r);
  out.Append(s.substr(at + static_cast<size_t>(count)));
  out.Push(m);
}

void Replicate(Machine& m, const CodeItem&) {
  const int64_t n = TruncToInt(m.PopNumber());
  const std::string_view s = m.PopText();
  ScratchText out;
  // Stops at the string limit, so a huge count costs nothing.
  for (int64_t i = 0; i < n && !s.empty() && !out.full(); ++i) out.Append(s);
  out.Push(m);
}

void Space(Machine& m, const CodeItem&) {
  ScratchText out;
  out.Fill(' ', CountArg(m.PopNumber()));
  out.Push(m);
}

void Chr(Machine& m, const CodeItem&) {
  Machine::Scratch()[0] = static_cast<char>(static_cast<uint64_t>(TruncToInt(m.PopNumber())) & 0xFF);
  m.PushScratch(1);
}

void SoundexCode(Machine& m, const CodeItem&) {
  Soundex(m.PopText(), Machine::Scratch());
  m.PushScratch(4);
}

// STR(x [, width [, decimals]]): width 10 and no decimals by default.
void Str(Machine& m, const CodeItem& item) {
  const double decimals = item.argc >= 3 ? m.PopNumber() : 0.0;
  const double width = item.argc >= 2 ? m.PopNumber() : 10.0;
  const double x = m.PopNumber();
  m.PushScratch(FormatNumber(x, width, decimals, Machine::Scratch()));
}

// All three arguments are evaluated; the chosen branch is copied down.
void Iif(Machine& m, const CodeItem&) {
  const std::string_view b = m.PopText();
  const std::string_view a = m.PopText();
  const bool c = m.PopLogical();
  const std::string_view pick = (c ? a : b).substr(0, kMaxExprText);
  std::memcpy(Machine::Scratch(), pick.data(), pick.size());
  m.PushScratch(pick.size());
}

void At(Machine& m, const CodeItem&) {
  const std::string_view b = m.PopText();
  const std::string_view a = m.PopText();
  const size_t pos = a.empty() ? std::string_view::npos : b.find(a);
  m.PushNumber(pos == std::string_view::npos ? 0.0 : static_cast<double>(pos + 1));
}

void Asc(Machine& m, const CodeItem&) {
  const std::string_view s = m.PopText();
  m.PushNumber(s.empty() ? 0.0 : static_cast<double>(static_cast<unsigned char>(s[0])));
}

void Len(Machine& m, const CodeItem&) { m.PushNumber(static_cast<double>(m.PopText().size())); }
void Val(Machine& m, const CodeItem&) { m.PushNumber(TextToNumber(TrimRight(m.PopText()))); }

}  // namespace

void AddStringOps(OpTable& table) {
  table[op::kAddCC] = Concat;
  table[op::kSubCC] = ConcatTrimmed;
  table[tok::kUpper] = Upper;
  table[tok::kLower] = Lower;
  table[tok::kRtrim] = Rtrim;
  table[tok::kTrim] = Rtrim;
  table[tok::kLtrim] = Ltrim;
  table[tok::kLeft] = Left;
  table[tok::kRight] = Right;
  table[tok::kSubstr] = Substr;
  table[tok::kStuff] = Stuff;
  table[tok::kReplicate] = Replicate;
  table[tok::kSpace] = Space;
  table[tok::kChr] = Chr;
  table[tok::kSoundex] = SoundexCode;
  table[tok::kStr] = Str;
  table[tok::kIif] = Iif;
  table[tok::kAt] = At;
  table[tok::kAsc] = Asc;
  table[tok::kLen] = Len;
  table[tok::kVal] = Val;
}

}  // namespace ov::eval_detail
