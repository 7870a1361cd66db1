// The field classes the table datasets use for numbers and dates.
//
// A table's numeric fields carry their width (up to 20 digits) as the
// field size, which the framework's integer and float fields do not take;
// date fields show and read text through the engine's date format, so what
// a user types matches what the table stores.
#pragma once

#include <string>

#include "dataset/tfield.h"

namespace ov {

// The widest numeric field the dataset presents.
inline constexpr int kMaxNumberWidth = 20;

class TOvIntegerField : public TIntegerField {
 protected:
  // Any size from 0 to 20.
  void CheckTypeSize(int size) const override;
};

class TOvFloatField : public TFloatField {
 protected:
  // Any size from 0 to 20.
  void CheckTypeSize(int size) const override;
};

class TOvDateField : public TDateField {
 public:
  // The framework's text, normalised by the engine's date check when it
  // passes it.
  std::string DisplayText() const override;
  // Blank text or the engine's blank date clears the field; a short valid
  // text gets its century; other text goes to the framework's date reader,
  // which raises its usual error.
  void SetAsString(const std::string& value) override;
};

}  // namespace ov
