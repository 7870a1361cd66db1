#include "dataset/tfield.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "dataset/format_settings.h"
#include "dataset/tdataset.h"
#include "engine/support/ascii.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

bool SameText(const std::string& a, const std::string& b) { return EqualsIgnoringAsciiCase(a, b); }

bool StartsWithNoCase(const std::string& word, const std::string& text) {
  return !text.empty() && text.size() <= word.size() && SameText(word.substr(0, text.size()), text);
}

[[noreturn]] void ConvertError(const std::string& text, const char* what) {
  DatabaseError("'" + text + "' is not a valid " + what);
}

int32_t StrToInt(const std::string& text) {
  const std::string t = TrimText(text);
  int32_t value = 0;
  const char* end = t.data() + t.size();
  auto [p, ec] = std::from_chars(t.data() + (!t.empty() && t[0] == '+' ? 1 : 0), end, value);
  if (t.empty() || ec != std::errc() || p != end) ConvertError(text, "integer value");
  return value;
}

double StrToFloat(const std::string& text) {
  double value = 0;
  if (!TryStrToFloat(text, value)) ConvertError(text, "floating point value");
  return value;
}

int32_t RoundToInt32(double value, const std::string& field) {
  const double r = std::round(value);
  if (!(r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max())) {
    DatabaseError(FloatToStr(value) + " is not a valid value for field '" + field + "'");
  }
  return static_cast<int32_t>(r);
}

}  // namespace

// ---- Free helpers ----

std::string VarToStr(const TVarValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) return FloatToStr(*d);
  if (const auto* b = std::get_if<bool>(&v)) return *b ? "True" : "False";
  return std::string();
}

std::string FloatToStr(double value) {
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string text(buf, ec == std::errc() ? p : buf);
  const char sep = FormatSettings().DecimalSeparator;
  for (char& c : text) {
    if (c == '.') c = sep;
    if (c == 'e') c = 'E';
  }
  return text;
}

bool TryStrToFloat(const std::string& text, double& out) {
  std::string t = TrimText(text);
  const char sep = FormatSettings().DecimalSeparator;
  for (char& c : t) {
    if (c == sep) c = '.';
  }
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  const char* end = t.data() + t.size();
  auto [p, ec] = std::from_chars(t.data(), end, out);
  return !t.empty() && ec == std::errc() && p == end && std::isfinite(out);
}

std::string DateToStr(TDateTime value) { return FormatDateTime(FormatSettings().ShortDateFormat, value); }

const TFieldDef* TFieldDefs::Find(const std::string& name) const {
  for (const TFieldDef& def : items_) {
    if (SameText(def.name, name)) return &def;
  }
  return nullptr;
}

// ---- TField ----

// Size and kind shape the record buffer, which is laid out at open.
void TField::CheckInactive() const {
  if (dataset_ != nullptr && dataset_->Active()) DatabaseError("Cannot perform this operation on an open dataset");
}

void TField::SetFieldKind(TFieldKind kind) {
  CheckInactive();
  kind_ = kind;
}

void TField::SetSize(int size) {
  CheckInactive();
  CheckTypeSize(size);
  size_ = size;
}

void TField::CheckTypeSize(int size) const {
  if (size != 0) DatabaseError("Invalid field size");
}

void TField::SetLookup(TDataSet* lookup, std::string key_fields, std::string lookup_keys, std::string result_field) {
  kind_ = TFieldKind::fkLookup;
  lookup_dataset_ = lookup;
  key_fields_ = std::move(key_fields);
  lookup_keys_ = std::move(lookup_keys);
  lookup_result_ = std::move(result_field);
}

TDataSet& TField::NoDataSet() const { DatabaseError("Field '" + DisplayName() + "' has no dataset"); }

void TField::AccessError(const char* type_name) const {
  DatabaseError("Cannot access field '" + DisplayName() + "' as type " + type_name);
}

bool TField::GetData(void* buffer) const {
  if (validating_) {
    if (pending_ == nullptr) return false;
    if (buffer != nullptr) std::memcpy(buffer, pending_, static_cast<size_t>(DataSize()));
    return true;
  }
  return RequireDataSet().GetFieldData(const_cast<TField*>(this), buffer);
}

bool TField::GetText(std::string& text) const {
  if (validating_) {
    if (pending_ == nullptr) return false;
    const char* value = static_cast<const char*>(pending_);
    text.assign(value, strnlen(value, static_cast<size_t>(std::max(DataSize() - 1, 0))));
    return true;
  }
  return RequireDataSet().GetFieldString(const_cast<TField*>(this), text);
}

bool TField::GetDate(int& year, int& month, int& day) const {
  if (validating_) {
    int32_t number = 0;
    if (!GetData(&number)) return false;
    DecodeDate(static_cast<TDateTime>(number) - kDateDelta, year, month, day);
    return true;
  }
  return RequireDataSet().GetFieldDate(const_cast<TField*>(this), year, month, day);
}

void TField::SetData(const void* buffer) { RequireDataSet().SetFieldData(this, buffer); }

void TField::Validate(const void* buffer) {
  if (!OnValidate) return;
  struct Pending {
    TField& f;
    ~Pending() {
      f.validating_ = false;
      f.pending_ = nullptr;
    }
  } reset{*this};
  validating_ = true;
  pending_ = buffer;
  OnValidate(*this);
}

bool TField::IsNull() const {
  std::vector<uint8_t> scratch(static_cast<size_t>(DataSize()) + 1);
  return !GetData(scratch.data());
}

std::string TField::AsString() const { AccessError("String"); }
void TField::SetAsString(const std::string&) { AccessError("String"); }
int32_t TField::AsInteger() const { AccessError("Integer"); }
void TField::SetAsInteger(int32_t) { AccessError("Integer"); }
double TField::AsFloat() const { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
bool TField::AsBoolean() const { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
TDateTime TField::AsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTime(TDateTime) { AccessError("DateTime"); }
TVarValue TField::Value() const { AccessError("Variant"); }

void TField::SetValue(const TVarValue& value) {
  if (VarIsNull(value)) {
    Clear();
  } else if (const auto* s = std::get_if<std::string>(&value)) {
    SetAsString(*s);
  } else if (const auto* i = std::get_if<int64_t>(&value)) {
    if (*i < std::numeric_limits<int32_t>::min() || *i > std::numeric_limits<int32_t>::max()) {
      DatabaseError(std::to_string(*i) + " is not a valid value for field '" + DisplayName() + "'");
    }
    SetAsInteger(static_cast<int32_t>(*i));
  } else if (const auto* d = std::get_if<double>(&value)) {
    if (DataType() == TFieldType::ftDate) {
      SetAsDateTime(*d);
    } else {
      SetAsFloat(*d);
    }
  } else {
    SetAsBoolean(std::get<bool>(value));
  }
}

// ---- TStringField ----

void TStringField::CheckTypeSize(int size) const {
  if (size < 0 || size > 32767) DatabaseError("Invalid field size");
}

std::string TStringField::AsString() const {
  std::string text;
  if (!GetText(text)) text.clear();
  return text;
}

void TStringField::SetAsString(const std::string& value) {
  std::vector<char> buf(static_cast<size_t>(Size()) + 1, '\0');
  std::memcpy(buf.data(), value.data(), std::min(value.size(), static_cast<size_t>(Size())));
  SetData(buf.data());
}

int32_t TStringField::AsInteger() const { return StrToInt(AsString()); }
void TStringField::SetAsInteger(int32_t value) { SetAsString(std::to_string(value)); }
double TStringField::AsFloat() const { return StrToFloat(AsString()); }
void TStringField::SetAsFloat(double value) { SetAsString(FloatToStr(value)); }

bool TStringField::AsBoolean() const {
  const std::string s = AsString();
  return !s.empty() && (AsciiLower(s[0]) == 't' || AsciiLower(s[0]) == 'y');
}

void TStringField::SetAsBoolean(bool value) { SetAsString(value ? "T" : "F"); }

TVarValue TStringField::Value() const {
  if (IsNull()) return std::monostate{};
  return AsString();
}

// ---- TIntegerField ----

int32_t TIntegerField::AsInteger() const {
  int32_t v = 0;
  return GetData(&v) ? v : 0;
}

void TIntegerField::SetAsInteger(int32_t value) { SetData(&value); }

std::string TIntegerField::AsString() const {
  int32_t v = 0;
  return GetData(&v) ? std::to_string(v) : std::string();
}

void TIntegerField::SetAsString(const std::string& value) {
  if (TrimText(value).empty()) {
    Clear();
  } else {
    SetAsInteger(StrToInt(value));
  }
}

void TIntegerField::SetAsFloat(double value) { SetAsInteger(RoundToInt32(value, DisplayName())); }

TVarValue TIntegerField::Value() const {
  int32_t v = 0;
  if (!GetData(&v)) return std::monostate{};
  return static_cast<int64_t>(v);
}

// ---- TFloatField ----

double TFloatField::AsFloat() const {
  double v = 0;
  return GetData(&v) ? v : 0;
}

void TFloatField::SetAsFloat(double value) {
  if (!std::isfinite(value))
    DatabaseError(FloatToStr(value) + " is not a valid value for field '" + DisplayName() + "'");
  SetData(&value);
}

std::string TFloatField::AsString() const {
  double v = 0;
  return GetData(&v) ? FloatToStr(v) : std::string();
}

void TFloatField::SetAsString(const std::string& value) {
  if (TrimText(value).empty()) {
    Clear();
  } else {
    SetAsFloat(StrToFloat(value));
  }
}

int32_t TFloatField::AsInteger() const { return RoundToInt32(AsFloat(), DisplayName()); }

TVarValue TFloatField::Value() const {
  double v = 0;
  if (!GetData(&v)) return std::monostate{};
  return v;
}

// ---- TBooleanField ----

bool TBooleanField::AsBoolean() const {
  uint16_t v = 0;
  return GetData(&v) && v != 0;
}

void TBooleanField::SetAsBoolean(bool value) {
  const uint16_t v = value ? 1 : 0;
  SetData(&v);
}

std::string TBooleanField::AsString() const {
  uint16_t v = 0;
  if (!GetData(&v)) return std::string();
  return v != 0 ? "True" : "False";
}

void TBooleanField::SetAsString(const std::string& value) {
  const std::string t = TrimText(value);
  if (t.empty()) {
    Clear();
  } else if (StartsWithNoCase("True", t)) {
    SetAsBoolean(true);
  } else if (StartsWithNoCase("False", t)) {
    SetAsBoolean(false);
  } else {
    ConvertError(value, "boolean value");
  }
}

TVarValue TBooleanField::Value() const {
  uint16_t v = 0;
  if (!GetData(&v)) return std::monostate{};
  return v != 0;
}

// ---- TDateField ----

TDateTime TDateField::AsDateTime() const {
  int32_t day = 0;
  if (!GetData(&day)) return 0;
  return static_cast<TDateTime>(day) - kDateDelta;
}

void TDateField::SetAsDateTime(TDateTime value) {
  const double day = std::floor(value) + kDateDelta;
  // 1 January of year 1 to 31 December 9999.
  if (!(day >= 1 && day <= 3652059)) DatabaseError(FloatToStr(value) + " is not a valid date");
  const int32_t native = static_cast<int32_t>(day);
  SetData(&native);
}

std::string TDateField::AsString() const {
  int year = 0, month = 0, day = 0;
  if (!GetDate(year, month, day)) return std::string();
  return FormatDate(FormatSettings().ShortDateFormat, year, month, day);
}

void TDateField::SetAsString(const std::string& value) {
  if (TrimText(value).empty()) {
    Clear();
    return;
  }
  TDateTime dt = 0;
  try {
    dt = StrToDate(value);
  } catch (const EConvertError& e) {
    DatabaseError(e.what());
  }
  SetAsDateTime(dt);
}

TVarValue TDateField::Value() const {
  int32_t day = 0;
  if (!GetData(&day)) return std::monostate{};
  return static_cast<TDateTime>(day) - kDateDelta;
}

// ---- TMemoField ----

void TMemoField::CheckTypeSize(int size) const {
  if (size < 0) DatabaseError("Invalid field size");
}

std::string TMemoField::AsString() const { return RequireDataSet().GetBlobText(const_cast<TMemoField*>(this)); }

void TMemoField::SetAsString(const std::string& value) { RequireDataSet().SetBlobText(this, value); }

std::string TMemoField::DisplayText() const { return IsNull() ? "(memo)" : "(MEMO)"; }

}  // namespace ov
