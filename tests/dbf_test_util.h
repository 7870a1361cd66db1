// Small helpers for table-file tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/dbf/ovdbflow.h"

namespace ov::test {

inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
bool Exists(const std::string& path);

// Creates a table and opens it read/write (deny none).
DbfFile MakeTable(const std::string& name, const std::vector<FieldDef>& defs);
// Sets the whole record buffer (flag included); the text must fit.
void SetRecord(DbfFile& dbf, const std::string& text);
std::string RecordText(const DbfFile& dbf);

}  // namespace ov::test
