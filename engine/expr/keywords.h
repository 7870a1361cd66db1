// The keyword table of the expression language: function names with their
// abbreviations, the logical literals and the logical operators.
//
// Each entry carries the token number the scanner returns and the result
// space: the bytes a use of the keyword adds to the compiled expression's
// result buffer. Lookup runs in table order and stops at "$EOT$", whose
// token no grammar rule accepts, so an unknown name answers that entry.
#pragma once

#include <cstdint>
#include <string_view>

namespace ov {

struct Keyword {
  std::string_view name;  // upper case, at most 10 characters
  int32_t token;
  uint16_t result_space;
};

// The entry for `name` (upper case), or the "$EOT$" entry.
const Keyword& LookupKeyword(std::string_view name);

}  // namespace ov
