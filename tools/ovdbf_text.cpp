#include "tools/ovdbf_text.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace ov::cli {
namespace {

// Unicode of bytes 0x80..0xFF of code page 437.
constexpr std::array<char16_t, 128> kOemHigh = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Unicode of bytes 0x80..0x9F of code page 1252; the five unassigned bytes
// keep their control-character twins so nothing is lost. 0xA0..0xFF are
// Latin-1.
constexpr std::array<char16_t, 32> kAnsiC1 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t CodePoint(uint8_t byte, CodePage page) {
  if (byte < 0x80) return byte;
  if (page == CodePage::kOem437) return kOemHigh[byte - 0x80];
  return byte < 0xA0 ? kAnsiC1[byte - 0x80] : byte;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 sequence at text[i], advancing i; a malformed byte
// answers U+FFFD.
char32_t NextCodePoint(std::string_view text, size_t& i) {
  const auto b = static_cast<uint8_t>(text[i++]);
  if (b < 0x80) return b;
  const int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
  if (more < 0) return 0xFFFD;
  char32_t cp = b & (0x3F >> more);
  for (int k = 0; k < more; ++k) {
    if (i >= text.size() || (static_cast<uint8_t>(text[i]) & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (static_cast<uint8_t>(text[i++]) & 0x3F);
  }
  return cp;
}

uint8_t ByteOf(char32_t cp, CodePage page) {
  if (cp < 0x80) return static_cast<uint8_t>(cp);
  for (int b = 0x80; b <= 0xFF; ++b) {
    if (CodePoint(static_cast<uint8_t>(b), page) == cp) return static_cast<uint8_t>(b);
  }
  return '?';
}

}  // namespace

CodePage TableCodePage(const DbfFile& dbf) {
  switch (dbf.header[29]) {
    case 0x03: case 0x57: case 0x58: case 0x59: return CodePage::kAnsi1252;
    default: break;
  }
  return dbf.layout == DbfLayout::kLevel7 ? CodePage::kAnsi1252 : CodePage::kOem437;
}

std::string ToUtf8(std::string_view bytes, CodePage page) {
  std::string out;
  AppendToUtf8(out, bytes, page);
  return out;
}

namespace {

// Length of the run of ASCII bytes at the start of `bytes`, eight bytes
// at a time: most text of most tables is ASCII and is copied whole.
size_t AsciiRun(std::string_view bytes) {
  size_t i = 0;
  for (uint64_t word; i + 8 <= bytes.size(); i += 8) {
    std::memcpy(&word, bytes.data() + i, 8);
    if ((word & 0x8080808080808080ULL) != 0) break;
  }
  while (i < bytes.size() && static_cast<uint8_t>(bytes[i]) < 0x80) ++i;
  return i;
}

// Whether a CSV field must be quoted: it holds a comma, quote, CR or LF.
// Eight bytes at a time, as memos make long fields.
bool NeedsCsvQuotes(std::string_view text) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
  const auto has_byte = [](uint64_t word, uint8_t c) {
    const uint64_t v = word ^ (kOnes * c);
    return ((v - kOnes) & ~v & kHighs) != 0;
  };
  size_t i = 0;
  for (uint64_t w; i + 8 <= text.size(); i += 8) {
    std::memcpy(&w, text.data() + i, 8);
    if (has_byte(w, ',') || has_byte(w, '"') || has_byte(w, '\r') || has_byte(w, '\n')) return true;
  }
  for (; i < text.size(); ++i) {
    if (text[i] == ',' || text[i] == '"' || text[i] == '\r' || text[i] == '\n') return true;
  }
  return false;
}

// The escapes JSON strings and the COPY format share.
const char* BackslashEscape(char c) {
  switch (c) {
    case '\\': return "\\\\";
    case '\t': return "\\t";
    case '\n': return "\\n";
    case '\r': return "\\r";
    default: return nullptr;
  }
}

}  // namespace

void AppendToUtf8(std::string& out, std::string_view bytes, CodePage page) {
  while (!bytes.empty()) {
    const size_t run = AsciiRun(bytes);
    out.append(bytes.data(), run);
    if (run == bytes.size()) return;
    AppendUtf8(out, CodePoint(static_cast<uint8_t>(bytes[run]), page));
    bytes.remove_prefix(run + 1);
  }
}

std::string_view AsUtf8(std::string_view bytes, CodePage page, std::string& scratch) {
  if (AsciiRun(bytes) == bytes.size()) return bytes;
  scratch.clear();
  AppendToUtf8(scratch, bytes, page);
  return scratch;
}

std::string FromUtf8(std::string_view text, CodePage page) {
  std::string out;
  for (size_t i = 0; i < text.size();) out += static_cast<char>(ByteOf(NextCodePoint(text, i), page));
  return out;
}

std::string CsvField(std::string_view text) {
  std::string out;
  AppendCsvField(out, text);
  return out;
}

void AppendCsvField(std::string& out, std::string_view text) {
  if (!NeedsCsvQuotes(text)) {
    out += text;
    return;
  }
  out += '"';
  for (size_t at; (at = text.find('"')) != std::string_view::npos; text.remove_prefix(at + 1)) {
    out.append(text.data(), at + 1);
    out += '"';
  }
  out += text;
  out += '"';
}

std::string JsonString(std::string_view text) {
  std::string out;
  AppendJsonString(out, text);
  return out;
}

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '"') {
      out += "\\\"";
    } else if (const char* escape = BackslashEscape(c)) {
      out += escape;
    } else if (static_cast<uint8_t>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  out += '"';
}

void AppendSqlQuoted(std::string& out, std::string_view text, char quote) {
  out += quote;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == quote) out += quote;
    out += c;
    // Line-reading SQL shells drop a carriage return that ends a line of
    // the script; a literal split after it keeps the value whole.
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') out.append(1, quote).append("||").append(1, quote);
  }
  out += quote;
}

void AppendCopyText(std::string& out, std::string_view text) {
  for (char c : text) {
    if (const char* escape = BackslashEscape(c)) {
      out += escape;
    } else {
      out += c;
    }
  }
}

}  // namespace ov::cli
