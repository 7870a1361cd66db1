// A list of text lines, the dataset framework's string list.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace ov {

class TStrings {
 public:
  TStrings() = default;
  TStrings(std::initializer_list<std::string> lines) : lines_(lines) {}

  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& operator[](int i) const { return lines_.at(static_cast<size_t>(i)); }
  std::string& operator[](int i) { return lines_.at(static_cast<size_t>(i)); }
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }
  void Delete(int i) { lines_.erase(lines_.begin() + i); }
  void Assign(const TStrings& other) { lines_ = other.lines_; }
  // Index of the line equal to `line` ignoring ASCII case, -1 when absent.
  int IndexOf(const std::string& line) const;
  // The lines joined with CR LF after each, as the framework's text form.
  std::string Text() const;
  const std::vector<std::string>& lines() const { return lines_; }
  bool operator==(const TStrings& other) const { return lines_ == other.lines_; }

 private:
  std::vector<std::string> lines_;
};

}  // namespace ov
