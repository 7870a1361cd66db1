#include "tools/ovdbf_progress.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "engine/support/platform.h"

namespace ov::cli {
namespace {

constexpr uint64_t kRedrawMs = 100;
// Reading the clock per record would cost more than the record; every
// so many updates is often enough for ten redraws a second.
constexpr int kCallsPerClockRead = 256;
constexpr int kBarWidth = 30;

}  // namespace

Progress::Progress(std::string label, int64_t total, bool quiet)
    : label_(std::move(label)), total_(std::max<int64_t>(total, 0)), active_(!quiet && StderrIsTerminal()) {}

void Progress::Update(int64_t done) {
  if (!active_ || ++calls_ < kCallsPerClockRead) return;
  calls_ = 0;
  const uint64_t now = CurrentEnv()->TickCountMs();
  if (now < next_draw_ms_) return;
  next_draw_ms_ = now + kRedrawMs;
  Draw(done);
}

void Progress::Draw(int64_t done) {
  if (total_ == 0) {
    std::fprintf(stderr, "\r%s %lld", label_.c_str(), static_cast<long long>(done));
  } else {
    const int64_t shown = std::clamp<int64_t>(done, 0, total_);
    const int filled = static_cast<int>(shown * kBarWidth / total_);
    const std::string bar =
        std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kBarWidth - filled), ' ');
    std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar.c_str(), static_cast<int>(shown * 100 / total_));
  }
  std::fflush(stderr);
  drawn_ = true;
}

Progress::~Progress() {
  // ANSI "erase line": the terminal is left as it was before the bar.
  if (drawn_) std::fprintf(stderr, "\r\x1b[2K");
}

}  // namespace ov::cli
