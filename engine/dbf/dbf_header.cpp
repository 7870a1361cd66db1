#include "engine/dbf/dbf_header.h"

#include <cstring>

#include "engine/support/codepage.h"
#include "engine/support/coding.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

bool CustomSignatures() {
  const TableSettings& t = Engine().table;
  return t.CustomVersion != 0 || t.CustomMemoVersion != 0;
}

bool IsMemoLetter(char c) { return c == 'M' || c == 'B' || c == 'G' || c == 'P'; }

std::string FieldName(const std::string& raw) {
  std::string name = TrimText(raw).substr(0, 10);
  for (char& c : name) c = static_cast<char>(UpperAnsi(static_cast<uint8_t>(c)));
  return name;
}

// Checks one definition and gives its stored form; false when invalid.
bool LayOutField(const FieldDef& def, uint8_t version, const std::string& allowed, FieldEntry& out) {
  char type = static_cast<char>(UpperAnsi(static_cast<uint8_t>(def.type)));
  if (type == 'F' && version == 0x83) type = 'N';
  out.name = FieldName(def.name);
  out.type = type;
  out.decimals = 0;
  if (out.name.empty() || allowed.find(type) == std::string::npos) return false;
  switch (type) {
    case 'C':
    case 'N':
    case 'F':
      if (def.length < 1 || def.length > 255) return false;
      out.length = static_cast<uint8_t>(def.length);
      if (type != 'C') {
        if (def.decimals < 0 || def.decimals > 255) return false;
        out.decimals = static_cast<uint8_t>(def.decimals);
      }
      return true;
    case 'D': out.length = 8; return true;
    case 'L': out.length = 1; return true;
    default: out.length = 10; return true;
  }
}

uint8_t StoredVersion(uint8_t requested, bool has_memo) {
  const TableSettings& t = Engine().table;
  if (CustomSignatures()) return has_memo ? t.CustomMemoVersion : t.CustomVersion;
  if (has_memo) return requested;
  return requested == 0x8C ? 0x04 : 0x03;
}

void EncodeDescriptor(uint8_t* d, const FieldEntry& f, const DescriptorLayout& lay) {
  std::memcpy(d, f.name.data(), std::min(f.name.size(), size_t{10}));
  d[lay.type_at] = static_cast<uint8_t>(f.type);
  d[lay.length_at] = f.length;
  d[lay.decimals_at] = f.decimals;
}

}  // namespace

DbfLayout LayoutOf(uint8_t version) {
  if (CustomSignatures()) return DbfLayout::kDbase3;
  if (version == 0x04 || version == 0x8C) return DbfLayout::kLevel7;
  if (version == 0x02) return DbfLayout::kDbase2;
  return DbfLayout::kDbase3;
}

int64_t HeaderRecordCount(const uint8_t* header, DbfLayout layout) {
  if (layout == DbfLayout::kDbase2) return GetLe16(header + 1);
  return static_cast<int32_t>(GetLe32(header + 4));
}

bool HasMemoFlag(const uint8_t* header) {
  const TableSettings& t = Engine().table;
  if (t.CustomMemoVersion != 0) return header[0] == t.CustomMemoVersion;
  if (header[0] == 0x30) return (header[28] & 0x02) != 0;
  return (header[0] & 0x80) != 0;
}

FieldEntry DecodeDescriptor(const uint8_t* d, const DescriptorLayout& lay) {
  FieldEntry f;
  for (size_t i = 0; i < 10 && i < lay.name_width && d[i] != 0; ++i) {
    f.name.push_back(static_cast<char>(UpperAnsi(d[i])));
  }
  char t = static_cast<char>(d[lay.type_at]);
  if (t == 'B' || t == 'G' || t == 'P' || t == 'b' || t == 'g' || t == 'p') t = 'M';
  f.type = t;
  f.length = d[lay.length_at];
  f.decimals = d[lay.decimals_at];
  return f;
}

bool PlanTable(std::span<const FieldDef> defs, CreatePlan& plan) {
  const uint8_t requested = CustomSignatures() ? 0x8B : Engine().table.CreateVersion;
  std::string allowed = Engine().table.ValidFieldTypes;
  if (requested == 0x8B || requested == 0x8C) allowed += "BGP";
  if (defs.empty() || defs.size() > 255) return false;
  plan = CreatePlan{};
  plan.level7 = requested == 0x8C;
  uint32_t record_length = 1;
  for (const FieldDef& def : defs) {
    FieldEntry f;
    if (!LayOutField(def, requested, allowed, f)) return false;
    if (IsMemoLetter(f.type)) plan.has_memo = true;
    f.offset = static_cast<uint16_t>(record_length);
    record_length += f.length;
    if (record_length > 65535) return false;
    plan.fields.push_back(std::move(f));
  }
  plan.record_length = static_cast<uint16_t>(record_length);
  plan.version = StoredVersion(requested, plan.has_memo);
  const size_t prefix = plan.level7 ? kLevel7Prefix : 32;
  const size_t dsize = plan.level7 ? 48 : 32;
  plan.image.assign(prefix + dsize * defs.size() + 1, 0);
  uint8_t* h = plan.image.data();
  h[0] = plan.version;
  h[8] = static_cast<uint8_t>(plan.image.size());
  h[9] = static_cast<uint8_t>(plan.image.size() >> 8);
  h[10] = static_cast<uint8_t>(plan.record_length);
  h[11] = static_cast<uint8_t>(plan.record_length >> 8);
  if (plan.level7) std::memcpy(h + 32, kLanguageDriver, sizeof kLanguageDriver - 1);
  const DescriptorLayout& lay = plan.level7 ? kLevel7Descriptor : kDbase3Descriptor;
  for (size_t i = 0; i < plan.fields.size(); ++i) EncodeDescriptor(h + prefix + i * dsize, plan.fields[i], lay);
  plan.image.back() = 0x0D;
  return true;
}

}  // namespace ov
