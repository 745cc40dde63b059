// The progress indicator of kvoclient: while one request runs longer than a moment, a spinner
// with the elapsed time on standard error, cleared when the request ends.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace kvo::kvoclient {

enum class ProgressMode { Auto, Always, Never };

// The mode in force for the process (Auto: only when standard error is a terminal).
void SetProgressMode(ProgressMode mode);

// Shows "<spinner> <label> <seconds>s" on standard error from `delayMs` after construction
// until destruction, redrawn in place; nothing at all for a request that ends sooner.
class Progress {
 public:
  explicit Progress(std::string label, int delayMs = 400);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  void Run();

  std::string label_;
  int delayMs_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace kvo::kvoclient
