// Encoding and decoding of table headers and field descriptors, kept apart
// from file access so the byte layout can be tested on its own.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/dbf/ovdbflow.h"

namespace ov {

inline constexpr uint16_t kDbase2HeaderLength = 521;
inline constexpr int kLevel7Prefix = 68;  // 32-byte header + 36-byte driver area
inline constexpr char kLanguageDriver[] = "DBWINWE0";

// Where a descriptor keeps its pieces.
struct DescriptorLayout {
  size_t name_width, type_at, length_at, decimals_at;
};
inline constexpr DescriptorLayout kDbase2Descriptor{11, 11, 12, 15};
inline constexpr DescriptorLayout kDbase3Descriptor{11, 11, 16, 17};
inline constexpr DescriptorLayout kLevel7Descriptor{32, 32, 33, 34};

// Layout of an accepted version byte under the current settings.
DbfLayout LayoutOf(uint8_t version);
// Whether the table has memo fields, from its header image.
bool HasMemoFlag(const uint8_t* header);
// The record count a header image holds (16 bits at 1 for dBASE II, 32 at 4
// otherwise).
int64_t HeaderRecordCount(const uint8_t* header, DbfLayout layout);
// A descriptor as a field entry: name up to 10 characters (stopping at the
// first zero) in upper case, B/G/P read as M. The offset is left 0.
FieldEntry DecodeDescriptor(const uint8_t* d, const DescriptorLayout& lay);

// The complete header image of a new table, and what it implies.
struct CreatePlan {
  uint8_t version = 0;
  bool level7 = false;
  bool has_memo = false;
  uint16_t record_length = 1;
  std::vector<FieldEntry> fields;
  std::vector<uint8_t> image;  // header length bytes, terminator included
};
// Validates and lays out field definitions; false on the first invalid one.
[[nodiscard]] bool PlanTable(std::span<const FieldDef> defs, CreatePlan& plan);

}  // namespace ov
