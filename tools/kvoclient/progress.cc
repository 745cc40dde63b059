#include "tools/kvoclient/progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace kvo::kvoclient {

namespace {
ProgressMode gMode = ProgressMode::Auto;
}

void SetProgressMode(ProgressMode mode) {
  gMode = mode;
}

Progress::Progress(std::string label, int delayMs) : label_(std::move(label)), delayMs_(delayMs) {
  const bool show =
      gMode == ProgressMode::Always || (gMode == ProgressMode::Auto && isatty(STDERR_FILENO));
  if (show) thread_ = std::thread([this] { Run(); });
}

Progress::~Progress() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void Progress::Run() {
  using Clock = std::chrono::steady_clock;
  static const char kSpinner[] = "|/-\\";
  const auto start = Clock::now();
  std::unique_lock lock(mutex_);
  if (wake_.wait_for(lock, std::chrono::milliseconds(delayMs_), [this] { return done_; })) return;
  for (int tick = 0;; ++tick) {
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::fprintf(stderr, "\r%c %s %.1fs ", kSpinner[tick % 4], label_.c_str(), seconds);
    std::fflush(stderr);
    if (wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return done_; })) break;
  }
  // Blank the line again, so that what follows starts on a clean line.
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + 16, "");
  std::fflush(stderr);
}

}  // namespace kvo::kvoclient
