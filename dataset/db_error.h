// Errors of the dataset framework. Every failure of the framework and of
// the dataset components above it leaves as `EDatabaseError`; `EAbort` is
// the silent variant that ends an operation a handler chose to abort.
#pragma once

#include <stdexcept>
#include <string>

namespace ov {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& text) : std::runtime_error(text) {}
};

class EAbort : public EDatabaseError {
 public:
  EAbort() : EDatabaseError("Operation aborted") {}
};

[[noreturn]] inline void DatabaseError(const std::string& text) { throw EDatabaseError(text); }
[[noreturn]] inline void Abort() { throw EAbort(); }

}  // namespace ov
