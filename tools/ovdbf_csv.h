// Reading CSV text (RFC 4180): fields separated by commas, records by CRLF
// or LF, a field in double quotes may hold commas, line breaks and doubled
// quotes. A UTF-8 byte order mark at the start is skipped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ov::cli {

struct CsvRecord {
  std::vector<std::string> fields;
  int line = 0;  // the line it begins on, from 1
};

class CsvReader {
 public:
  explicit CsvReader(std::string_view text);
  // The next record; false at the end or on malformed text (then `problem`
  // says what is wrong and `line()` where).
  bool Next(CsvRecord& record);
  const std::string& problem() const { return problem_; }
  int line() const { return line_; }

 private:
  bool QuotedField(std::string& field);

  std::string_view text_;
  size_t at_ = 0;
  int line_ = 1;
  std::string problem_;
};

}  // namespace ov::cli
