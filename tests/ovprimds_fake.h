// A record-buffer dataset over an in-memory list of rows, for the tests of
// the dataset framework and of TOvPrimDataset. Its engine operations keep
// the before-first and after-last cracks the way the table dataset does,
// and log every call so tests can check the order of the protocol.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dataset/ovprimds.h"

namespace ov::test {

struct FakeRow {
  int32_t id = 0;  // the physical record number
  std::string name;
  int32_t qty = 0;
  double price = 0;
  bool ok = false;
  int32_t day = 0;  // native day number, 0 = no date
  std::string notes;
};

// Field data area: mark, NAME (10 chars + NUL), QTY, PRICE, OK, DAY, NOTES.
inline constexpr int kNameAt = 1, kQtyAt = 12, kPriceAt = 16, kOkAt = 24, kDayAt = 26, kNotesAt = 30;
inline constexpr uint16_t kFakeDataSize = 34;

class FakeTable : public TOvPrimDataset {
 public:
  explicit FakeTable(std::vector<FakeRow> rows = {}) : rows_(std::move(rows)) {
    for (const FakeRow& r : rows_) next_id_ = std::max(next_id_, r.id + 1);
  }
  ~FakeTable() override { CloseOnDestroy(); }

  std::vector<FakeRow> rows_;
  std::vector<std::string> log_;
  uint16_t open_status_ = 0;
  uint16_t close_status_ = 0;
  uint16_t post_status_ = 0;  // answered by OviPostRecord when set
  uint16_t next_status_ = 0;  // answered by OviGetNextRecord when set
  int post_failures_ = 0;     // OviPostRecord fails this many times first
  bool with_memo_ = true;

  // Exposed for the tests.
  using TDataSet::ActiveBuffer;
  using TOvPrimDataset::Check;
  using TOvPrimDataset::GetFieldData;
  using TOvPrimDataset::GetRecord;
  using TOvPrimDataset::OviErrorText;
  using TOvPrimDataset::SetFieldData;
  size_t pos() const { return pos_; }
  bool at_begin() const { return at_begin_; }
  bool at_end() const { return at_end_; }
  void Log(const std::string& s) { log_.push_back(s); }
  std::string BaseErrorText(uint16_t code) { return TOvPrimDataset::OviErrorText(code); }
  // The log from entry `from` on, joined by blanks.
  std::string LogFrom(size_t from) const {
    std::string out;
    for (size_t i = from; i < log_.size(); ++i) out += (out.empty() ? "" : " ") + log_[i];
    return out;
  }

  std::string GetBlobText(TField*) override {
    const FakeRow* row = RowById(GetRecNo());
    return row != nullptr ? row->notes : std::string();
  }

 protected:
  void InternalInitFieldDefs() override {
    FieldDefs().Clear();
    FieldDefs().Add({"NAME", TFieldType::ftString, 10, 1, false});
    FieldDefs().Add({"QTY", TFieldType::ftInteger, 0, 2, false});
    FieldDefs().Add({"PRICE", TFieldType::ftFloat, 0, 3, false});
    FieldDefs().Add({"OK", TFieldType::ftBoolean, 0, 4, false});
    FieldDefs().Add({"DAY", TFieldType::ftDate, 0, 5, false});
    if (with_memo_) FieldDefs().Add({"NOTES", TFieldType::ftMemo, 0, 6, false});
  }

  uint16_t OviSetToBegin() override {
    Log("SetToBegin");
    at_begin_ = true;
    at_end_ = false;
    pos_ = 0;
    return 0;
  }
  uint16_t OviSetToEnd() override {
    Log("SetToEnd");
    at_end_ = true;
    at_begin_ = false;
    pos_ = rows_.empty() ? 0 : rows_.size() - 1;
    return 0;
  }
  uint16_t OviOpen() override {
    Log("Open");
    return open_status_;
  }
  uint16_t OviClose() override {
    Log("Close");
    return close_status_;
  }
  int32_t OviGetRecordCount() override { return static_cast<int32_t>(rows_.size()); }
  uint16_t OviForceReread() override {
    Log("ForceReread");
    return 0;
  }
  uint16_t OviAppendRecord(TRecordBuffer buffer) override { return Add(buffer, "Append"); }
  uint16_t OviInsertRecord(TRecordBuffer buffer) override { return Add(buffer, "Insert"); }
  uint16_t OviDeleteRecord() override {
    Log("Delete");
    if (at_begin_ || at_end_ || rows_.empty()) return kOviAtEnd;
    rows_.erase(rows_.begin() + static_cast<long>(pos_));
    if (pos_ >= rows_.size()) pos_ = rows_.empty() ? 0 : rows_.size() - 1;
    if (rows_.empty()) at_begin_ = at_end_ = true;
    return 0;
  }
  uint16_t OviInitRecord(TRecordBuffer) override {
    Log("InitRecord");
    return 0;
  }
  uint16_t OviPostRecord(TRecordBuffer buffer) override {
    Log("Post");
    if (post_failures_ > 0) {
      --post_failures_;
      return 1005;
    }
    if (post_status_ != 0) return post_status_;
    if (at_begin_) return kOviAtBeginning;
    if (at_end_) return kOviAtEnd;
    FromBuffer(buffer, rows_[pos_]);
    return 0;
  }
  uint16_t OviGetRecordSize() override { return with_memo_ ? kFakeDataSize : kFakeDataSize - 4; }
  uint16_t OviGetRecord(TRecordBuffer buffer, int32_t& recno) override {
    if (at_begin_) return kOviAtBeginning;
    if (at_end_ || rows_.empty()) return kOviAtEnd;
    return Deliver(buffer, recno);
  }
  uint16_t OviGetNextRecord(TRecordBuffer buffer, int32_t& recno) override {
    if (next_status_ != 0) return next_status_;
    if (at_end_) return kOviAtEnd;
    if (at_begin_) {
      at_begin_ = false;
      pos_ = 0;
    } else {
      ++pos_;
    }
    if (pos_ < rows_.size()) return Deliver(buffer, recno);
    pos_ = rows_.empty() ? 0 : rows_.size() - 1;
    at_end_ = true;
    return kOviAtEnd;
  }
  uint16_t OviGetPriorRecord(TRecordBuffer buffer, int32_t& recno) override {
    if (at_begin_) return kOviAtBeginning;
    if (at_end_) {
      at_end_ = false;
      pos_ = rows_.size();  // stepped back below
    }
    if (pos_ > 0 && !rows_.empty()) {
      --pos_;
      return Deliver(buffer, recno);
    }
    pos_ = 0;
    at_begin_ = true;
    return kOviAtBeginning;
  }
  uint16_t OviGetFieldData(TField* field, TRecordBuffer record, bool& is_null, void* value) override {
    is_null = false;
    if (value == nullptr) return 0;
    const uint8_t* slot = record + SlotOf(field->FieldNo());
    std::memset(value, 0, static_cast<size_t>(field->DataSize()));
    std::memcpy(value, slot, static_cast<size_t>(field->DataSize()));
    if (field->DataType() == TFieldType::ftDate) {
      int32_t day = 0;
      std::memcpy(&day, slot, 4);
      is_null = day == 0;
    }
    return 0;
  }
  uint16_t OviSetFieldData(TField* field, TRecordBuffer record, const void* value) override {
    uint8_t* slot = record + SlotOf(field->FieldNo());
    const size_t size = static_cast<size_t>(field->DataSize());
    if (value == nullptr) {
      std::memset(slot, 0, size);
    } else {
      std::memcpy(slot, value, size);
    }
    return 0;
  }
  uint16_t OviGoToRecord(int32_t recno) override {
    Log("GoTo " + std::to_string(recno));
    for (size_t i = 0; i < rows_.size(); ++i) {
      if (rows_[i].id == recno) {
        pos_ = i;
        at_begin_ = at_end_ = false;
        return 0;
      }
    }
    OviSetToEnd();
    return 0;
  }
  bool OviLocateRecord(const std::string& key_fields, const std::vector<TVarValue>& key_values, TLocateOptions options,
                       bool synchronise) override {
    Log(std::string("Locate ") + (synchronise ? "sync" : "nosync"));
    const std::vector<std::string> names = SplitFieldNames(key_fields);
    for (size_t i = 0; i < rows_.size(); ++i) {
      bool match = names.size() == key_values.size();
      for (size_t k = 0; match && k < names.size(); ++k) {
        match = Matches(TextOf(rows_[i], names[k]), VarToStr(key_values[k]), options);
      }
      if (!match) continue;
      if (synchronise) {
        pos_ = i;
        at_begin_ = at_end_ = false;
      }
      return true;
    }
    return false;
  }
  uint16_t OviBookmarkSize() override { return 4; }
  uint16_t OviGotoBookmark(const uint8_t* bookmark) override {
    int32_t recno = 0;
    std::memcpy(&recno, bookmark, 4);
    return OviGoToRecord(recno);
  }
  uint16_t OviSetToBookmark(uint8_t* destination) override {
    const int32_t recno = rows_.empty() ? 1 : rows_[pos_].id;
    std::memcpy(destination, &recno, 4);
    return 0;
  }
  uint16_t OviCompareBookmarks(const uint8_t* b1, const uint8_t* b2, int& result) override {
    int32_t a = 0, b = 0;
    std::memcpy(&a, b1, 4);
    std::memcpy(&b, b2, 4);
    result = a < b ? -1 : (a > b ? 1 : 0);
    return 0;
  }
  std::string OviErrorText(uint16_t code) override { return "engine code " + std::to_string(code); }

 private:
  static int SlotOf(int field_no) {
    static const int slots[] = {0, kNameAt, kQtyAt, kPriceAt, kOkAt, kDayAt, kNotesAt};
    return slots[field_no];
  }
  static std::string TextOf(const FakeRow& r, const std::string& name) {
    if (name == "NAME") return r.name;
    if (name == "QTY") return std::to_string(r.qty);
    return std::string();
  }
  static bool Matches(std::string have, std::string want, TLocateOptions o) {
    if (o.case_insensitive) {
      for (char& c : have) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      for (char& c : want) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (o.partial_key) return have.compare(0, want.size(), want) == 0;
    return have == want;
  }
  const FakeRow* RowById(int32_t id) const {
    for (const FakeRow& r : rows_) {
      if (r.id == id) return &r;
    }
    return nullptr;
  }
  uint16_t Deliver(TRecordBuffer buffer, int32_t& recno) {
    recno = rows_[pos_].id;
    if (buffer != nullptr) ToBuffer(rows_[pos_], buffer);
    return 0;
  }
  uint16_t Add(TRecordBuffer buffer, const char* what) {
    Log(what);
    FakeRow row;
    FromBuffer(buffer, row);
    row.id = next_id_++;
    rows_.push_back(row);
    pos_ = rows_.size() - 1;
    at_begin_ = at_end_ = false;
    return 0;
  }
  static void ToBuffer(const FakeRow& r, uint8_t* b) {
    std::memset(b, 0, kNotesAt);
    std::memcpy(b + kNameAt, r.name.data(), std::min<size_t>(r.name.size(), 10));
    std::memcpy(b + kQtyAt, &r.qty, 4);
    std::memcpy(b + kPriceAt, &r.price, 8);
    const uint16_t ok = r.ok ? 1 : 0;
    std::memcpy(b + kOkAt, &ok, 2);
    std::memcpy(b + kDayAt, &r.day, 4);
  }
  static void FromBuffer(const uint8_t* b, FakeRow& r) {
    char name[11] = {};
    std::memcpy(name, b + kNameAt, 10);
    r.name = name;
    std::memcpy(&r.qty, b + kQtyAt, 4);
    std::memcpy(&r.price, b + kPriceAt, 8);
    uint16_t ok = 0;
    std::memcpy(&ok, b + kOkAt, 2);
    r.ok = ok != 0;
    std::memcpy(&r.day, b + kDayAt, 4);
  }

  size_t pos_ = 0;
  bool at_begin_ = true;
  bool at_end_ = false;
  int32_t next_id_ = 1;
};

// Rows "r1".."rN" with qty 10*i, record numbers 1..N.
inline std::vector<FakeRow> NumberedRows(int n) {
  std::vector<FakeRow> rows;
  for (int i = 1; i <= n; ++i) {
    FakeRow r;
    r.id = i;
    r.name = "r" + std::to_string(i);
    r.qty = 10 * i;
    r.price = i + 0.5;
    rows.push_back(r);
  }
  return rows;
}

}  // namespace ov::test
