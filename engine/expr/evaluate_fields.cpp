// Field reads, DELETED() and RECNO(): the opcodes that look at records.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "engine/dbf/dbf4.h"
#include "engine/expr/evaluate_internal.h"
#include "engine/memo/memo_ops.h"
#include "engine/support/timedate.h"

namespace ov::eval_detail {

namespace {

// The field of a work area as far as it can be read: `bytes` is null when
// the area has no current record (or the code names no such field).
struct FieldView {
  WorkArea* area = nullptr;
  int area_number = 0;
  size_t width = 0;
  const char* bytes = nullptr;
};

WorkArea* AreaAt(int n) {
  if (n < 1 || n > kAreaCount) return nullptr;
  return Areas().slots[static_cast<size_t>(n)].get();
}

bool HasRecord(const WorkArea& a) {
  const DbfFile& t = a.table;
  return t.is_open() && t.current_record >= 1 && t.current_record <= t.record_count && !t.record.empty();
}

FieldView Locate(int area_number, int32_t field_number) {
  FieldView v;
  v.area_number = area_number;
  v.area = AreaAt(area_number);
  if (v.area == nullptr || field_number < 1 || static_cast<size_t>(field_number) > v.area->table.fields.size()) {
    return v;
  }
  const FieldEntry& f = v.area->table.fields[static_cast<size_t>(field_number) - 1];
  v.width = f.length;
  const std::vector<char>& rec = v.area->table.record;
  if (HasRecord(*v.area) && static_cast<size_t>(f.offset) + f.length <= rec.size()) v.bytes = rec.data() + f.offset;
  return v;
}

void ReadText(Machine& m, const FieldView& v) {
  if (v.bytes != nullptr) {
    m.PushText(v.bytes, v.width);
    return;
  }
  const size_t n = std::min(v.width, kMaxExprText);
  std::memset(Machine::Scratch(), ' ', n);
  m.PushScratch(n);
}

void ReadNumber(Machine& m, const FieldView& v) {
  m.PushNumber(v.bytes != nullptr ? TextToNumber(std::string_view(v.bytes, v.width)) : 0.0);
}

void ReadDate(Machine& m, const FieldView& v) {
  m.PushNumber(v.bytes != nullptr ? RecordTextToDayNumber(std::string_view(v.bytes, v.width)) : kNoDate, kTypeD);
}

void ReadLogical(Machine& m, const FieldView& v) {
  const char c = v.bytes != nullptr && v.width > 0 ? v.bytes[0] : ' ';
  m.PushLogical(c == 'Y' || c == 'y' || c == 'T' || c == 't');
}

// Makes a work area current for the life of the object.
class AreaSelection {
 public:
  explicit AreaSelection(int n) : saved_(SelectedArea()) { SelectEngineArea(n); }
  ~AreaSelection() { SelectEngineArea(saved_); }
  AreaSelection(const AreaSelection&) = delete;
  AreaSelection& operator=(const AreaSelection&) = delete;

 private:
  int saved_;
};

// Appends the memo's lines without their line ends straight into the
// pool, up to its end; answers the length written.
size_t CopyMemoLines(Machine& m, int area_number, int32_t block, size_t room) {
  AreaSelection selected(area_number);
  MemoTextReader reader(MemoBinding{&block, area_number});
  if (!reader.loaded()) return 0;
  std::string line;
  size_t n = 0;
  char* out = m.PoolTop();
  while (n < room && reader.ReadLine(line)) {
    // A line ends in CR LF or soft-return LF, or has no end at all.
    if (line.size() >= 2 && line.back() == '\n') line.resize(line.size() - 2);
    const size_t take = std::min(line.size(), room - n);
    std::memcpy(out + n, line.data(), take);
    n += take;
  }
  return n;
}

void ReadMemo(Machine& m, const FieldView& v) {
  const double number = v.bytes != nullptr ? TextToNumber(std::string_view(v.bytes, v.width)) : 0.0;
  const int64_t block =
      std::clamp<int64_t>(TruncToInt(number), std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
  // An expression of type M normally has no pool at all: its memo reads
  // as empty text.
  if (m.PoolRoom() == 0) {
    m.PushEmpty();
    return;
  }
  const size_t room = m.PoolRoom() - 1;
  const size_t n = block == 0 || room == 0 ? 0 : CopyMemoLines(m, v.area_number, static_cast<int32_t>(block), room);
  m.PushPooled(n);
}

void ReadField(Machine& m, const CodeItem& item) {
  const bool aliased = item.opcode >= tok::kAliasFieldC;
  const int area_number = aliased ? m.PopSlot() : SelectedArea();
  const int32_t field_number = m.PopSlot();
  if (m.failed()) return;
  const FieldView v = Locate(area_number, field_number);
  switch ((item.opcode - tok::kFieldC) % 5) {
    case 0: ReadText(m, v); break;
    case 1: ReadNumber(m, v); break;
    case 2: ReadLogical(m, v); break;
    case 3: ReadDate(m, v); break;
    default: ReadMemo(m, v); break;
  }
}

void Deleted(Machine& m, const CodeItem&) {
  const WorkArea* a = CurrentArea();
  m.PushLogical(a != nullptr && HasRecord(*a) && a->table.record[0] == '*');
}

void RecordNumber(Machine& m, const CodeItem&) {
  const WorkArea* a = CurrentArea();
  m.PushNumber(a != nullptr && a->table.is_open() ? a->table.current_record : 0);
}

}  // namespace

void AddFieldOps(OpTable& table) {
  for (int32_t op = tok::kFieldC; op <= tok::kAliasFieldM; ++op) table[static_cast<size_t>(op)] = ReadField;
  table[tok::kDeleted] = Deleted;
  table[tok::kRecno] = RecordNumber;
}

}  // namespace ov::eval_detail
