// Fields on the dataset side: definition lines and the table made from
// them, the per-table field list, the field data area of a record buffer
// with its conversions to and from the work area's typed record, the
// structure listing, and the locale set-up of the dataset layer.
//
// Definition line (one per field): "name, T, length, decimals". Items are
// separated by commas and trimmed of characters below 33; the name keeps
// its first 10 characters, the type its first character; length and
// decimals are lenient integers (blanks, one "+", "$" and thousands
// separators dropped, cut at the first character that is not part of one).
// Type "X" skips the line; "B", "G" and "P" mean memo.
//
// Field data area of a record buffer (offset 0 is the deletion mark, then
// one slot per named field, in table order):
//   C           length + 1   length byte and characters      string
//   D           8            date-time double, 0 = empty      date
//   L           2            0 or 1, then 0                   boolean
//   M           4            int32 memo block number          memo
//   N/F dec>0   8            double                           float
//   N/F dec=0   4            int32                            integer
//   other       0            nothing                          unknown
//
// Corrections and warnings go through ShowWarning (dataset/warnings.h);
// engine failures through the engine's error state.
//
// Single-threaded, process-wide state (the logical words and the engine's
// date settings).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dataset/field_type.h"
#include "dataset/tstrings.h"
#include "engine/dbf/ovdbflow.h"

namespace ov {

// ---- Definition lines ----

// The definition a line describes, checked; nullopt for an "X" line.
// `component` names the component in the correction warning.
std::optional<FieldDef> ParseFieldLine(const std::string& component, const std::string& line);
// Applies the corrections to a definition and warns when one changed it.
FieldDef CheckFieldDef(const std::string& component, FieldDef def);
// Creates the table `file_name` from definition lines; false (with a
// warning for a missing or empty list, silently for a malformed line or
// an engine failure, whose code stays in DbfError) when it could not.
bool CreateTableFromFields(const std::string& component, const std::string& file_name, const TStrings* fields);

// ---- Field list of an open table ----

struct TDTField {
  std::string name;
  char type = 'C';
  uint16_t length = 0;
  uint16_t decimals = 0;
  uint16_t offset = 0;  // of the value in the typed record
};

// The fields of the table in the current work area and its typed record.
// A live dataset shares the work area's own record; otherwise the list
// keeps a private copy. A shared record is answered only while the area
// still holds it (nullptr after the table was closed).
class TDbfFieldProps {
 public:
  // Built from the current work area (which must hold a table).
  static std::unique_ptr<TDbfFieldProps> FromCurrentArea(bool live);

  int Count() const { return static_cast<int>(fields_.size()); }
  // Accessors by field number 1..Count; out of range gives neutral values.
  std::string Name(int n) const;
  char Type(int n) const;
  int Length(int n) const;
  int Decimals(int n) const;
  int Offset(int n) const;
  // Record + offset; 0 gives the deletion mark. nullptr when unavailable.
  uint8_t* Address(int n) const;
  uint8_t* Record() const;
  uint16_t OwnedSize() const { return static_cast<uint16_t>(owned_.size()); }
  // Bytes of the typed record Address(0) points at.
  uint16_t RecordSize() const { return shared_ != nullptr ? shared_size_ : OwnedSize(); }
  const std::vector<TDTField>& Fields() const { return fields_; }

 private:
  int area_ = 0;
  uint8_t* shared_ = nullptr;
  uint16_t shared_size_ = 0;
  mutable std::vector<uint8_t> owned_;  // the private copy; empty when shared
  std::vector<TDTField> fields_;
};

// ---- Field data area ----

// One field's slot in the field data area.
struct FieldSlot {
  uint16_t offset = 0;
  uint16_t size = 0;  // 0 for unnamed fields and unknown types
  TFieldType kind = TFieldType::ftUnknown;
  int framework_size = 0;
};

// The slot layout of a table's fields; `slots` is indexed by field
// number - 1 (an unnamed field keeps its place with an empty slot).
struct FieldDataLayout {
  uint16_t record_size = 1;
  std::vector<FieldSlot> slots;
  const FieldSlot* Slot(int n) const {
    return n < 1 || n > static_cast<int>(slots.size()) ? nullptr : &slots[static_cast<size_t>(n - 1)];
  }
  std::vector<uint16_t> Offsets() const;
};

FieldSlot SlotFor(char type, int length, int decimals);
FieldDataLayout LayOutFieldData(const TDbfFieldProps& props);

// One field of a typed record (`typed` points at its value) into its slot.
// `stored` is the field's stored date when the typed record is the work
// area's own, else nullptr: a date still showing it keeps its century.
void TypedFieldToSlot(const TDTField& f, const FieldSlot& slot, const uint8_t* typed, const char* stored, uint8_t* dst);
// The calendar date of a stored date of eight digits that the typed date
// text `typed` still shows, as TypedFieldToSlot and GetFieldValue give it;
// false when there is none or that path is needed.
bool StoredDateYmd(const char* stored, const uint8_t* typed, int& year, int& month, int& day);
// Work area record -> buffer, every field and the deletion mark.
void CopyRecordToBuffer(const TDbfFieldProps& props, const FieldDataLayout& layout, uint8_t* buffer);
// Buffer -> work area record: every field, one field by number, or only
// the deletion mark. A date that fails the engine's check shows
// "        Invalid date       " and is stored blank.
void CopyBufferToRecord(const TDbfFieldProps& props, const FieldDataLayout& layout, const uint8_t* buffer);
void CopyFieldToRecord(const TDbfFieldProps& props, const FieldDataLayout& layout, const uint8_t* buffer, int n);
void CopyMarkToRecord(const TDbfFieldProps& props, const uint8_t* buffer);

// Slot -> the framework's native value in `dest` (`dest_size` bytes, zeroed
// first; text is NUL-terminated within them). Native forms: string chars
// without trailing blanks; integer int32; float double; boolean 2 bytes;
// memo int32; date int32 day number from 1 January of year 1; time int32
// milliseconds of the day; date-time double milliseconds. False when the
// field has no value (a date-time slot holding 0).
bool GetFieldValue(const uint8_t* slot, const FieldSlot& info, TFieldType kind, void* dest, size_t dest_size);
// The length of a string slot's text as GetFieldValue gives it, before the
// destination's size and the text's first NUL cut it.
size_t SlotTextLength(const uint8_t* slot, const FieldSlot& info);
// Native value (nullptr = no value) -> slot.
void PutFieldValue(uint8_t* slot, const FieldSlot& info, TFieldType kind, const void* value, size_t value_size);
// PutFieldValue into field n of the buffer, then that field into the record.
void SetFieldValue(const TDbfFieldProps& props, const FieldDataLayout& layout, uint8_t* buffer, int n, TFieldType kind,
                   const void* value, size_t value_size);

// ---- Structure ----

// One line per field, "name, T, length, decimals" with the name in lower
// case; sorted ignoring case when asked. No list gives no lines.
void StructureListing(const TDbfFieldProps* props, TStrings& strings, bool sorted);
// Replaces the lines by the checked structure of the table in the current
// work area.
void RewriteDbfFields(const std::string& component, TStrings& fields);

// ---- Locale and dates ----

// The engine's Julian day number of date-time 0 (30 December 1899).
inline constexpr double kJulianOfDateTimeZero = 2415019.0;

struct LogicalWords {
  std::string Yes = "yes", No = "no", True = "True", False = "False";
};
LogicalWords& LogicalTexts();

// Loads the logical words and copies the framework's short date format and
// decimal separator into the engine's date settings (century, date type,
// decimal point).
void DatasetLocaleSetup();

// Display text of a date field from the framework's text of its value.
std::string DateFieldDisplayText(const std::string& framework_text);
// Reads typed text for a date field; false when the text means "no date".
// Text the engine cannot read goes to StrToDate, which raises EConvertError.
bool DateFieldTextToValue(const std::string& text, TDateTime& out);

}  // namespace ov
