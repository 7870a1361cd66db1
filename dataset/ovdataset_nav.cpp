// TOvDataSet: cursor moves, the cracks, bookmarks and searching.
#include <cstring>

#include "dataset/ovdataset.h"
#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_search.h"

namespace ov {

namespace {

constexpr uint16_t kNotOpen = 1103;

int32_t LoadInt32(const uint8_t* p) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(p[i]) << (8 * i);
  return static_cast<int32_t>(u);
}

void StoreInt32(uint8_t* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}

}  // namespace

uint16_t TOvDataSet::OviSetToBegin() {
  return EngineCall([this]() -> uint16_t {
    if (IsLive()) {
      if (!SelectArea("OviSetToBegin")) return kNotOpen;
      GoTop();
    }
    at_beginning_ = true;
    at_end_ = false;
    return 0;
  });
}

uint16_t TOvDataSet::OviSetToEnd() {
  return EngineCall([this]() -> uint16_t {
    if (IsLive()) {
      if (!SelectArea("OviSetToEnd")) return kNotOpen;
      GoBottom();
    }
    at_end_ = true;
    at_beginning_ = false;
    return 0;
  });
}

int32_t TOvDataSet::OviGetRecordCount() {
  if (!IsLive()) return 1;
  return EngineCall([this]() -> int32_t { return SelectArea("OviGetRecordCount") ? RecCount() : 0; });
}

uint16_t TOvDataSet::OviForceReread() {
  if (!IsLive()) return 0;
  return EngineCall([this]() -> uint16_t {
    if (!SelectArea("OviForceReread")) return kNotOpen;
    SKIP(0);
    return 0;
  });
}

// The work area's record into the buffer. The phantom record past the end
// is no record: answering it would show a blank row that is not there.
uint16_t TOvDataSet::ReadCurrent(TRecordBuffer buffer, int32_t& recno) {
  if (buffer != nullptr) SKIP(0);
  if (dEOF()) return kOviAtEnd;
  if (buffer != nullptr) CopyFromRecord(buffer);
  recno = ov::RecNo();
  KnownNotEmpty();
  return 0;
}

uint16_t TOvDataSet::OviGetRecord(TRecordBuffer buffer, int32_t& recno) {
  if (at_beginning_) return kOviAtBeginning;
  if (at_end_) return kOviAtEnd;
  return EngineCall([&]() -> uint16_t {
    if (!SelectArea("OviGetRecord")) return kNotOpen;
    return ReadCurrent(buffer, recno);
  });
}

uint16_t TOvDataSet::OviGetNextRecord(TRecordBuffer buffer, int32_t& recno) {
  if (at_end_) return kOviAtEnd;
  return EngineCall([&]() -> uint16_t {
    if (!SelectArea("OviGetNextRecord")) return kNotOpen;
    if (at_beginning_) {
      SKIP(0);  // the area already stands on the first record
      at_beginning_ = false;
    } else if (!dEOF()) {
      SKIP(1);
    }
    if (!dEOF()) {
      if (buffer != nullptr) CopyFromRecord(buffer);
      recno = ov::RecNo();
      KnownNotEmpty();
      return 0;
    }
    if (!dBOF()) SKIP(-1);  // back onto the last record
    at_end_ = true;
    return kOviAtEnd;
  });
}

uint16_t TOvDataSet::OviGetPriorRecord(TRecordBuffer buffer, int32_t& recno) {
  if (at_beginning_) return kOviAtBeginning;
  return EngineCall([&]() -> uint16_t {
    if (!SelectArea("OviGetPriorRecord")) return kNotOpen;
    if (at_end_) {
      SKIP(0);
      at_end_ = false;
    } else if (!dBOF()) {
      SKIP(-1);
    }
    if (!dBOF()) {
      if (buffer != nullptr) CopyFromRecord(buffer);
      recno = ov::RecNo();
      KnownNotEmpty();
      return 0;
    }
    at_beginning_ = true;
    return kOviAtBeginning;
  });
}

uint16_t TOvDataSet::OviGoToRecord(int32_t recno) { return SafeGo(recno); }

bool TOvDataSet::OviLocateRecord(const std::string& key_fields, const std::vector<TVarValue>& key_values,
                                 TLocateOptions options, bool synchronise) {
  if (!IsLive()) return false;
  const std::vector<std::string> names = SplitFieldNames(key_fields);
  std::vector<SearchValue> values;
  for (size_t i = 0; i < key_values.size(); ++i) {
    const TVarValue& v = key_values[i];
    const TField* field = i < names.size() ? FindField(names[i]) : nullptr;
    const bool is_date = field != nullptr && field->DataType() == TFieldType::ftDate;
    if (const auto* s = std::get_if<std::string>(&v)) {
      values.emplace_back(*s);
    } else if (const auto* n = std::get_if<int64_t>(&v)) {
      values.emplace_back(static_cast<double>(*n) + (is_date ? kJulianOfDateTimeZero : 0.0));
    } else if (const auto* d = std::get_if<double>(&v)) {
      // Dates travel as date-times; the engine searches Julian day numbers.
      values.emplace_back(*d + (is_date ? kJulianOfDateTimeZero : 0.0));
    } else if (const auto* b = std::get_if<bool>(&v)) {
      values.emplace_back(*b);
    } else {
      values.emplace_back(std::monostate{});
    }
  }
  return EngineCall([&] {
    if (!SelectArea("OviLocateRecord")) return false;
    const bool found = LocateFields(key_fields, values, options.case_insensitive, !options.partial_key, synchronise);
    if (synchronise && found) at_beginning_ = at_end_ = false;
    return found;
  });
}

// ---- Bookmarks: the record number, 4 bytes ----

uint16_t TOvDataSet::OviGotoBookmark(const uint8_t* bookmark) { return SafeGo(LoadInt32(bookmark)); }

uint16_t TOvDataSet::OviSetToBookmark(uint8_t* destination) {
  return EngineCall([&]() -> uint16_t {
    int32_t value = 1;
    if (IsLive()) {
      if (!SelectArea("OviSetToBookmark")) return kNotOpen;
      value = ov::RecNo();
    }
    StoreInt32(destination, value);
    return 0;
  });
}

uint16_t TOvDataSet::OviBookmarkOf(int32_t recno, uint8_t* destination) {
  if (!IsLive()) return OviSetToBookmark(destination);
  StoreInt32(destination, recno);
  return 0;
}

uint16_t TOvDataSet::OviCompareBookmarks(const uint8_t* b1, const uint8_t* b2, int& result) {
  const int32_t n1 = LoadInt32(b1);
  const int32_t n2 = LoadInt32(b2);
  result = n1 < n2 ? -1 : (n1 > n2 ? 1 : 0);
  return 0;
}

}  // namespace ov
