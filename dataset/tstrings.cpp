#include "dataset/tstrings.h"

namespace ov {

namespace {
bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}
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
