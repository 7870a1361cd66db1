#include "tools/ovdbf_csv.h"

namespace ov::cli {

CsvReader::CsvReader(std::string_view text) : text_(text) {
  if (text_.starts_with("\xEF\xBB\xBF")) at_ = 3;
}

bool CsvReader::QuotedField(std::string& field) {
  const int opened = line_;
  for (++at_; at_ < text_.size(); ++at_) {
    const char c = text_[at_];
    if (c == '"') {
      if (at_ + 1 < text_.size() && text_[at_ + 1] == '"') {
        field += '"';
        ++at_;
        continue;
      }
      ++at_;
      if (at_ < text_.size() && text_[at_] != ',' && text_[at_] != '\r' && text_[at_] != '\n') {
        problem_ = "text after a closing quote";
        return false;
      }
      return true;
    }
    if (c == '\n') ++line_;
    field += c;
  }
  line_ = opened;
  problem_ = "quoted field not closed";
  return false;
}

bool CsvReader::Next(CsvRecord& record) {
  record.fields.clear();
  record.line = line_;
  if (at_ >= text_.size()) return false;
  while (true) {
    std::string field;
    if (at_ < text_.size() && text_[at_] == '"') {
      if (!QuotedField(field)) return false;
    } else {
      const size_t end = text_.find_first_of(",\r\n", at_);
      const std::string_view raw =
          text_.substr(at_, end == std::string_view::npos ? std::string_view::npos : end - at_);
      if (raw.find('"') != std::string_view::npos) {
        problem_ = "quote inside an unquoted field";
        return false;
      }
      field.assign(raw);
      at_ += raw.size();
    }
    record.fields.push_back(std::move(field));
    if (at_ >= text_.size()) return true;
    const char c = text_[at_++];
    if (c == ',') continue;
    if (c == '\r' && at_ < text_.size() && text_[at_] == '\n') ++at_;
    ++line_;
    return true;
  }
}

}  // namespace ov::cli
