// Direct field access: Peek reads a field's stored bytes of any record
// without moving the area, Poke writes them; the optional Peek cache keeps
// one block of raw records in memory.
//
// Single-threaded, process-wide state.
#include <algorithm>
#include <cstdint>
#include <string>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_edit_internal.h"
#include "engine/dbf/dbf4_search.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

constexpr int64_t kLargestBlock = 65520;

bool CacheOf(const PeekCache& c, const WorkArea& area) {
  return !c.alias.empty() && c.alias == area.alias && c.path == area.table.path &&
         c.record_length == area.table.record_length;
}

bool CacheHolds(const PeekCache& c, int32_t n) { return n >= c.first && n - c.first < c.count; }

// Offset and length of a field within a record; field 0 is the flag byte.
struct FieldSpan {
  uint16_t offset = 0;
  uint16_t length = 1;
};

FieldSpan SpanOf(const WorkArea& area, int field) {
  if (field == 0) return {};
  const FieldEntry& f = area.table.fields[static_cast<size_t>(field - 1)];
  return {f.offset, f.length};
}

bool InRecordRange(WorkArea& area, int32_t n) {
  if (n > area.table.record_count) RefreshRecCount(area);
  return n >= 1 && n <= area.table.record_count;
}

bool InFieldRange(const WorkArea& area, int field) {
  return field >= 0 && field <= static_cast<int>(area.table.fields.size());
}

std::string PeekContext(const WorkArea& area, int field, int32_t n) {
  return "DBF: " + area.table.path + " [Peek(" + std::to_string(field) + "," + std::to_string(n) + ")]";
}

// Reads `count` records from n into `out`; answers the whole records read.
int32_t ReadRecords(const WorkArea& area, int32_t n, int32_t count, std::vector<char>& out, uint16_t& code) {
  const DbfFile& t = area.table;
  out.assign(static_cast<size_t>(count) * t.record_length, ' ');
  size_t got = 0;
  code = t.file->ReadAt(t.RecordOffset(n), out.data(), out.size(), got);
  const int32_t whole = static_cast<int32_t>(got / t.record_length);
  if (code == 0 && whole == 0) code = 100;
  out.resize(static_cast<size_t>(whole) * t.record_length);
  return whole;
}

// Loads a block starting at record n; false after a report.
bool LoadBlock(WorkArea& area, int field, int32_t n) {
  SearchState& s = Search();
  s.cache = PeekCache{};
  const DbfFile& t = area.table;
  int64_t size = std::min<int64_t>(s.PeekCacheSize, MemoryAvailable() / 2);
  size = std::min(size, kLargestBlock);
  const int64_t records = std::min<int64_t>(size / t.record_length, t.record_count - n + 1);
  if (records < 1) {
    ReportError(err::kNoMemory, "Insufficient memory for cache [Peek]");
    return false;
  }
  PeekCache c;
  uint16_t code = 0;
  c.count = ReadRecords(area, n, static_cast<int32_t>(records), c.bytes, code);
  if (c.count == 0) {
    ReportError(code, PeekContext(area, field, n));
    return false;
  }
  c.alias = area.alias;
  c.path = t.path;
  c.first = n;
  c.record_length = t.record_length;
  s.cache = std::move(c);
  return true;
}

std::string PeekCached(WorkArea& area, int field, int32_t n) {
  PeekCache& c = Search().cache;
  if (!c.alias.empty() && !CacheOf(c, area)) c = PeekCache{};
  if (!CacheHolds(c, n) && !LoadBlock(area, field, n)) return std::string();
  const FieldSpan span = SpanOf(area, field);
  const size_t at = static_cast<size_t>(n - c.first) * c.record_length + span.offset;
  return std::string(c.bytes.data() + at, span.length);
}

std::string PeekDirect(WorkArea& area, int field, int32_t n) {
  const FieldSpan span = SpanOf(area, field);
  std::string out(span.length, ' ');
  size_t got = 0;
  uint16_t code = area.table.file->ReadAt(area.table.RecordOffset(n) + span.offset, out.data(), out.size(), got);
  if (code == 0 && got < out.size()) code = 100;
  if (code != 0) {
    ReportError(code, PeekContext(area, field, n));
    return std::string();
  }
  return out;
}

std::string PokeContext(const std::string& text, int field, int32_t n) {
  std::string context = "[Poke(" + text + "," + std::to_string(field) + "," + std::to_string(n) + ")]";
  return context.substr(0, 100);
}

void PokeIntoCache(const WorkArea& area, const FieldSpan& span, const std::string& bytes, int32_t n) {
  PeekCache& c = Search().cache;
  if (!CacheOf(c, area) || !CacheHolds(c, n)) return;
  const size_t at = static_cast<size_t>(n - c.first) * c.record_length + span.offset;
  std::copy(bytes.begin(), bytes.end(), c.bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

SearchState& Search() {
  std::shared_ptr<SearchState>& s = Areas().search;
  if (!s) s = std::make_shared<SearchState>();
  return *s;
}

void DropPeekCacheFor(const std::string& alias) {
  PeekCache& c = Search().cache;
  if (!c.alias.empty() && c.alias == alias) c = PeekCache{};
}

void RefreshPeekCacheRecord(const WorkArea& area, int32_t n) {
  PeekCache& c = Search().cache;
  if (!CacheOf(c, area) || !CacheHolds(c, n) || !area.table.file) return;
  std::vector<char> record;
  uint16_t code = 0;
  if (ReadRecords(area, n, 1, record, code) != 1) {
    c = PeekCache{};  // better no cache than a stale one
    return;
  }
  const size_t at = static_cast<size_t>(n - c.first) * c.record_length;
  std::copy(record.begin(), record.end(), c.bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

std::string Peek(int field, int32_t n) {
  if (!CheckInUse("Peek")) return std::string();
  WorkArea& area = *CurrentArea();
  if (!InFieldRange(area, field) || !InRecordRange(area, n)) return std::string();
  if (Search().PeekCacheSize == 0) return PeekDirect(area, field, n);
  return PeekCached(area, field, n);
}

void Poke(const std::string& text, int field, int32_t n) {
  if (!CheckInUse("Poke")) return;
  Errors().DbfError = 0;
  WorkArea& area = *CurrentArea();
  const std::string context = PokeContext(text, field, n);
  if (NeedsLocks(area) && !IsLocked(n)) {
    ReportError(err::kRecordNotLocked, "Record not locked " + context);
    return;
  }
  if (!InFieldRange(area, field) || !InRecordRange(area, n) || text.empty()) return;
  const FieldSpan span = SpanOf(area, field);
  const std::string bytes = text.substr(0, span.length);
  DbfFile& t = area.table;
  DropReadWindow(t);
  const uint16_t code = t.file->WriteAt(t.RecordOffset(n) + span.offset, bytes.data(), bytes.size());
  if (code != 0) {
    ReportError(code, context);
    return;
  }
  PokeIntoCache(area, span, bytes, n);
}

}  // namespace ov
