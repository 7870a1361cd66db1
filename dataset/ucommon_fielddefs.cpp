// Definition lines, the table made from them, and the structure listing.
#include <algorithm>
#include <vector>

#include "dataset/ovfields.h"
#include "dataset/ucommon.h"
#include "dataset/warnings.h"
#include "engine/dbf/dbf4.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"

namespace ov {

namespace {

// Item n (1-based) of a comma-separated line, trimmed.
std::string Item(const std::string& line, int n) {
  size_t start = 0;
  for (int k = 1; k < n; ++k) {
    const size_t comma = line.find(',', start);
    if (comma == std::string::npos) return std::string();
    start = comma + 1;
  }
  const size_t end = line.find(',', start);
  return TrimText(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

// The type letter as text for messages ("" for none).
std::string Letter(char type) { return type == 0 ? std::string() : std::string(1, type); }

std::string DefText(const std::string& name, char type, int length, int decimals) {
  return name + "," + Letter(type) + "," + std::to_string(length) + "," + std::to_string(decimals);
}

bool IsKnownType(char type) { return std::string("CDFLMN").find(type) != std::string::npos && type != 0; }

std::string LowerName(const std::string& name) {
  std::string out = name;
  for (char& c : out) c = LowerChar(c);
  return out;
}

std::string ListingLine(const std::string& name, char type, int length, int decimals) {
  return LowerName(name) + ", " + Letter(type) + ", " + std::to_string(length) + ", " + std::to_string(decimals);
}

// The name as the table stores it: trimmed, cut to 10, upper case.
std::string StoredName(const std::string& name) { return UpperText(TrimText(name).substr(0, 10)); }

// What a table may be made of but not opened by the dataset again: a float
// wider than its field classes take, a name shared by two fields (only the
// first could be reached), a name with a blank or control character.
bool OpensAgain(const std::vector<FieldDef>& defs) {
  std::vector<std::string> names;
  for (const FieldDef& def : defs) {
    const std::string name = StoredName(def.name);
    if (def.type == 'F' && def.length > kMaxNumberWidth) return false;
    if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 33; })) return false;
    if (std::find(names.begin(), names.end(), name) != names.end()) return false;
    names.push_back(name);
  }
  return true;
}

}  // namespace

FieldDef CheckFieldDef(const std::string& component, FieldDef def) {
  if (def.type == 'B' || def.type == 'G' || def.type == 'P') def.type = 'M';
  FieldDef fixed = def;
  if (!IsKnownType(def.type)) fixed.type = 'C';
  if (def.type == 'N') {
    if (def.length > kMaxNumberWidth) fixed.length = kMaxNumberWidth;
    if (def.decimals >= 19) fixed.decimals = 18;
    // Measured against the corrected length, so a shortened field never
    // ends up with more decimals than it can hold.
    if (def.decimals > 0 && def.length - def.decimals < 2) fixed.decimals = fixed.length - 2;
  }
  if (def.type == 'C' && def.length == 255) {
    fixed.length = 254;
    fixed.decimals = 0;
  }
  if (fixed.type != def.type || fixed.length != def.length || fixed.decimals != def.decimals) {
    ShowWarning("Invalid field definition for " + component + ": " +
                DefText(def.name, def.type, def.length, def.decimals) +
                ". Will use corrected definition: " + DefText(def.name, fixed.type, fixed.length, fixed.decimals));
  }
  return fixed;
}

std::optional<FieldDef> ParseFieldLine(const std::string& component, const std::string& line) {
  FieldDef def;
  def.name = Item(line, 1).substr(0, 10);
  const std::string type = Item(line, 2);
  def.type = type.empty() ? '\0' : type[0];
  // Out-of-range numbers stay as read (not wrapped into a byte), so the
  // table layer refuses them instead of making a field of another width.
  def.length = TextToSmallInt(Item(line, 3));
  def.decimals = TextToSmallInt(Item(line, 4));
  if (def.type == 'X') return std::nullopt;
  return CheckFieldDef(component, def);
}

bool CreateTableFromFields(const std::string& component, const std::string& file_name, const TStrings* fields) {
  if (fields == nullptr) {
    ShowWarning("DbfFieldList is Nil trying to create a database");
    return false;
  }
  if (fields->Count() <= 0) {
    ShowWarning("FieldList.Count is <= 0 trying to create a database");
    return false;
  }
  std::vector<FieldDef> defs;
  for (const std::string& line : fields->lines()) {
    if (std::count(line.begin(), line.end(), ',') != 3) return false;
    if (std::optional<FieldDef> def = ParseFieldLine(component, line)) defs.push_back(*def);
  }
  QuietErrors quiet;
  if (!OpensAgain(defs)) {
    ReportError(err::kBadFieldDefinition, "Invalid dBASE field definition [CreateDBF]");
    return false;
  }
  DbfFile table;
  CreateDbf(table, file_name, defs);
  return Errors().DbfError == 0;
}

void StructureListing(const TDbfFieldProps* props, TStrings& strings, bool sorted) {
  strings.Clear();
  if (props == nullptr) return;
  std::vector<std::string> lines;
  for (int n = 1; n <= std::min(props->Count(), 255); ++n) {
    lines.push_back(ListingLine(props->Name(n), props->Type(n), props->Length(n), props->Decimals(n)));
  }
  if (sorted) {
    std::stable_sort(lines.begin(), lines.end(),
                     [](const std::string& a, const std::string& b) { return LowerName(a) < LowerName(b); });
  }
  TStrings collected;
  for (std::string& line : lines) collected.Add(std::move(line));
  strings.Assign(collected);
}

void RewriteDbfFields(const std::string& component, TStrings& fields) {
  fields.Clear();
  const int count = FieldCount();
  for (int n = 1; n <= count; ++n) {
    FieldDef def{LowerName(Field(n)).substr(0, 10), FieldType(n), FieldLen(n), FieldDec(n)};
    def = CheckFieldDef(component, def);
    fields.Add(ListingLine(def.name, def.type, def.length, def.decimals));
  }
}

}  // namespace ov
