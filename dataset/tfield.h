// Field objects and field definitions of the dataset framework.
//
// A `TField` presents one column of its dataset's current record. It holds
// no value itself: every read and write goes through the dataset's
// GetFieldData/SetFieldData in the field's native form:
//   string    characters, NUL-terminated, Size + 1 bytes
//   integer   int32
//   float     double
//   boolean   16-bit word, 0 or 1
//   date      int32 day number counted from 1 January of year 1 (= 1)
//   memo      none here: the text goes through the dataset's blob hooks
// Calculated and lookup fields live in the calculated-fields area of the
// record buffer at `Offset`: one has-value byte, then DataSize bytes.
//
// Conversion failures raise `EDatabaseError`.
//
// Single-threaded.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "dataset/field_type.h"

namespace ov {

class TDataSet;

// A value in its loosest form: null, text, whole number, real, logical.
// Dates travel as their date-time double.
using TVarValue = std::variant<std::monostate, std::string, int64_t, double, bool>;

inline bool VarIsNull(const TVarValue& v) { return std::holds_alternative<std::monostate>(v); }
// Text form of a value for messages and comparisons ("" for null).
std::string VarToStr(const TVarValue& v);

enum class TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc };

struct TFieldDef {
  std::string name;
  TFieldType type = TFieldType::ftUnknown;
  int size = 0;
  int field_no = 0;  // the table's field number (1-based)
  bool required = false;
};

class TFieldDefs {
 public:
  void Clear() { items_.clear(); }
  void Add(TFieldDef def) { items_.push_back(std::move(def)); }
  int Count() const { return static_cast<int>(items_.size()); }
  const TFieldDef& operator[](int i) const { return items_.at(static_cast<size_t>(i)); }
  // The definition named `name` ignoring ASCII case; nullptr when absent.
  const TFieldDef* Find(const std::string& name) const;
  const std::vector<TFieldDef>& Items() const { return items_; }

 private:
  std::vector<TFieldDef> items_;
};

class TField {
 public:
  virtual ~TField() = default;
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  TFieldType DataType() const { return type_; }
  const std::string& FieldName() const { return name_; }
  void SetFieldName(std::string name) { name_ = std::move(name); }
  // The label when one is set, else the field name.
  std::string DisplayName() const { return label_.empty() ? name_ : label_; }
  void SetDisplayLabel(std::string label) { label_ = std::move(label); }
  int Size() const { return size_; }
  // Raises "Invalid field size" for a size the field kind does not take.
  void SetSize(int size);
  // Bytes of the native value.
  virtual int DataSize() const { return 0; }
  virtual bool IsBlob() const { return false; }
  // The table's field number; 0 while unbound, -1 for calculated kinds.
  int FieldNo() const { return field_no_; }
  TFieldKind FieldKind() const { return kind_; }
  // Size and kind change only while the dataset is closed.
  void SetFieldKind(TFieldKind kind);
  // Calculated or lookup: the value lives in the calculated-fields area.
  bool Calculated() const { return kind_ == TFieldKind::fkCalculated || kind_ == TFieldKind::fkLookup; }
  int Offset() const { return offset_; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool on) { read_only_ = on; }
  bool Required() const { return required_; }
  void SetRequired(bool on) { required_ = on; }
  TDataSet* DataSet() const { return dataset_; }

  // Lookup fields: the value of `result_field` in `lookup` at the record
  // whose `lookup_keys` equal this dataset's `key_fields` (";"-separated).
  void SetLookup(TDataSet* lookup, std::string key_fields, std::string lookup_keys, std::string result_field);
  TDataSet* LookupDataSet() const { return lookup_dataset_; }
  const std::string& KeyFields() const { return key_fields_; }
  const std::string& LookupKeyFields() const { return lookup_keys_; }
  const std::string& LookupResultField() const { return lookup_result_; }

  // Runs with the field reading the pending value; raising refuses it.
  std::function<void(TField&)> OnValidate;

  virtual std::string AsString() const;
  virtual void SetAsString(const std::string& value);
  virtual int32_t AsInteger() const;
  virtual void SetAsInteger(int32_t value);
  virtual double AsFloat() const;
  virtual void SetAsFloat(double value);
  virtual bool AsBoolean() const;
  virtual void SetAsBoolean(bool value);
  virtual TDateTime AsDateTime() const;
  virtual void SetAsDateTime(TDateTime value);
  virtual TVarValue Value() const;
  // Null clears the field; other values go through the matching setter.
  void SetValue(const TVarValue& value);

  virtual bool IsNull() const;
  void Clear() { SetData(nullptr); }
  // Text for display; subclasses may present values their own way.
  virtual std::string DisplayText() const { return AsString(); }
  // Text typed by a user; the framework's rule is the string assignment.
  virtual void SetText(const std::string& text) { SetAsString(text); }

  // The native value into `buffer` (nullptr: only whether there is one).
  bool GetData(void* buffer) const;
  // The value of a string field as text, up to its first NUL; false when
  // it has none.
  bool GetText(std::string& text) const;
  // The value of a date field as a calendar date; false when it has none.
  bool GetDate(int& year, int& month, int& day) const;
  // A native value from `buffer`; nullptr clears the field.
  void SetData(const void* buffer);
  // Runs OnValidate with `buffer` as the field's pending value.
  void Validate(const void* buffer);

 protected:
  explicit TField(TFieldType type) : type_(type) {}
  // Raises "Invalid field size" unless the kind takes `size`.
  virtual void CheckTypeSize(int size) const;
  [[noreturn]] void AccessError(const char* type_name) const;
  TDataSet& RequireDataSet() const { return dataset_ != nullptr ? *dataset_ : NoDataSet(); }
  [[noreturn]] TDataSet& NoDataSet() const;
  void CheckInactive() const;

 private:
  friend class TDataSet;

  TFieldType type_;
  std::string name_;
  std::string label_;
  int size_ = 0;
  int field_no_ = 0;
  int offset_ = 0;
  TFieldKind kind_ = TFieldKind::fkData;
  bool read_only_ = false;
  bool required_ = false;
  TDataSet* dataset_ = nullptr;
  TDataSet* lookup_dataset_ = nullptr;
  std::string key_fields_, lookup_keys_, lookup_result_;
  const void* pending_ = nullptr;  // value under validation
  bool validating_ = false;
};

class TStringField : public TField {
 public:
  TStringField() : TField(TFieldType::ftString) { SetSize(20); }
  int DataSize() const override { return Size() + 1; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  // "T", "t", "Y" or "y" as first character is true.
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  TVarValue Value() const override;

 protected:
  TStringField(TFieldType type) : TField(type) {}
  void CheckTypeSize(int size) const override;
};

class TIntegerField : public TField {
 public:
  TIntegerField() : TField(TFieldType::ftInteger) {}
  int DataSize() const override { return 4; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override;
  double AsFloat() const override { return AsInteger(); }
  // Rounded; out of the 32-bit range raises.
  void SetAsFloat(double value) override;
  TVarValue Value() const override;
};

class TFloatField : public TField {
 public:
  TFloatField() : TField(TFieldType::ftFloat) {}
  int DataSize() const override { return 8; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override { SetAsFloat(value); }
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  TVarValue Value() const override;
};

class TBooleanField : public TField {
 public:
  TBooleanField() : TField(TFieldType::ftBoolean) {}
  int DataSize() const override { return 2; }
  // "True" / "False"; a text that starts either word (any case) is read.
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  TVarValue Value() const override;
};

class TDateField : public TField {
 public:
  TDateField() : TField(TFieldType::ftDate) {}
  int DataSize() const override { return 4; }
  // The framework's short date format; "" without a value.
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  double AsFloat() const override { return AsDateTime(); }
  void SetAsFloat(double value) override { SetAsDateTime(value); }
  // 0 without a value.
  TDateTime AsDateTime() const override;
  // The time part is dropped; dates outside years 1..9999 raise.
  void SetAsDateTime(TDateTime value) override;
  TVarValue Value() const override;
};

class TMemoField : public TStringField {
 public:
  TMemoField() : TStringField(TFieldType::ftMemo) {}
  int DataSize() const override { return 0; }
  bool IsBlob() const override { return true; }
  // The text through the dataset's blob hooks.
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  bool IsNull() const override { return AsString().empty(); }
  // "(MEMO)" with text, "(memo)" without.
  std::string DisplayText() const override;

 protected:
  void CheckTypeSize(int size) const override;
};

// The framework's number text: up to 15 significant digits, the decimal
// separator of the format settings.
std::string FloatToStr(double value);
// Whole text as a number (blanks around it allowed); false otherwise.
bool TryStrToFloat(const std::string& text, double& out);
// Date text in the framework's short date format ("" for no date).
std::string DateToStr(TDateTime value);

}  // namespace ov
