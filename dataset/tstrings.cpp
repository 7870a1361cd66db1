#include "dataset/tstrings.h"

#include "engine/support/ascii.h"

namespace ov {

namespace {
bool SameIgnoringCase(const std::string& a, const std::string& b) { return EqualsIgnoringAsciiCase(a, b); }
}  // namespace

int TStrings::IndexOf(const std::string& line) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (SameIgnoringCase(lines_[i], line)) return static_cast<int>(i);
  }
  return -1;
}

std::string TStrings::Text() const {
  std::string t;
  for (const std::string& l : lines_) t += l + "\r\n";
  return t;
}

}  // namespace ov
