#include "dataset/ovfields.h"

#include "dataset/db_error.h"
#include "dataset/ucommon.h"

namespace ov {

namespace {

void CheckNumberWidth(int size) {
  if (size < 0 || size > kMaxNumberWidth) DatabaseError("Invalid field size");
}

}  // namespace

void TOvIntegerField::CheckTypeSize(int size) const { CheckNumberWidth(size); }

void TOvFloatField::CheckTypeSize(int size) const { CheckNumberWidth(size); }

std::string TOvDateField::DisplayText() const {
  const std::string text = AsString();
  return text.empty() ? text : DateFieldDisplayText(text);
}

void TOvDateField::SetAsString(const std::string& value) {
  TDateTime dt = 0;
  if (DateFieldTextToValue(value, dt)) {
    SetAsDateTime(dt);
  } else {
    Clear();
  }
}

}  // namespace ov
