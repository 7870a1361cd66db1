// Small helpers for table-file tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/dbf/ovdbflow.h"
#include "engine/support/coding.h"

namespace ov::test {

inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) { return GetLe32(b.data() + at); }
inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return GetLe16(b.data() + at); }
bool Exists(const std::string& path);

// Creates a table and opens it read/write (deny none).
DbfFile MakeTable(const std::string& name, const std::vector<FieldDef>& defs);
// Sets the whole record buffer (flag included); the text must fit.
void SetRecord(DbfFile& dbf, const std::string& text);
std::string RecordText(const DbfFile& dbf);

}  // namespace ov::test
