// Restores state when a scope ends, however it ends.
//
// A multi-step edit (a record and its index keys, a flag in memory and on
// disk) must leave everything as it was when a step fails, and a report
// may raise at any step. The guard runs its clean-up on every exit unless
// the steps all succeeded and the caller dismissed it. A clean-up that
// itself reports while another report is unwinding is dropped: the first
// report is the one the caller sees.
#pragma once

#include <exception>
#include <utility>

namespace ov {

template <typename Cleanup>
class [[nodiscard]] ScopeGuard {
 public:
  explicit ScopeGuard(Cleanup cleanup) : cleanup_(std::move(cleanup)) {}
  ~ScopeGuard() noexcept(false) {
    if (!active_) return;
    if (std::uncaught_exceptions() <= unwinding_) {
      cleanup_();
      return;
    }
    try {
      cleanup_();
    } catch (...) {
    }
  }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

  // The steps succeeded: keep their result.
  void Dismiss() { active_ = false; }

 private:
  Cleanup cleanup_;
  bool active_ = true;
  int unwinding_ = std::uncaught_exceptions();
};

}  // namespace ov
