// The watchdog: one thread of the process, asleep until the earliest armed limit passes.
// Arming and disarming take one uncontended lock; the thread is woken only when a limit is
// armed that passes before the one it already waits for.
#include "fb/time_limit.h"

#include <signal.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "fb/fb_impl.h"
#include "platform/metrics.h"

namespace kvo::fb {

using Clock = std::chrono::steady_clock;

struct TimeLimit::Entry {
  api::Ref<api::IAttachment> handle;  // a reference of our own: valid however the work ends
  Clock::time_point deadline;         // of the next cancel
  bool fired = false;
};

namespace {

// A raise the server let pass is sent again this much later.
constexpr auto kRepeat = std::chrono::seconds(1);

class Watchdog {
 public:
  void Arm(TimeLimit::Entry* entry) {
    std::unique_lock lock(mutex_);
    if (!started_) Start();
    armed_.push_back(entry);
    if (entry->deadline < waitingUntil_) wake_.notify_one();
  }

  // True when the entry fired. Once this returns, the thread holds no pointer to it.
  bool Disarm(TimeLimit::Entry* entry) {
    std::unique_lock lock(mutex_);
    armed_.erase(std::remove(armed_.begin(), armed_.end(), entry), armed_.end());
    return entry->fired;
  }

 private:
  // With every signal blocked, so that none is ever delivered to this thread; it is never
  // joined, and ends with the process.
  void Start() {
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    std::thread([this] { Watch(); }).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    started_ = true;
  }

  void Watch() {
    std::unique_lock lock(mutex_);
    while (true) {
      const Clock::time_point now = Clock::now();
      waitingUntil_ = Clock::time_point::max();
      for (TimeLimit::Entry* entry : armed_) {
        if (entry->deadline <= now) {
          Cancel(*entry);
          entry->deadline = now + kRepeat;
        }
        waitingUntil_ = std::min(waitingUntil_, entry->deadline);
      }
      if (waitingUntil_ == Clock::time_point::max()) {
        wake_.wait(lock);
      } else {
        wake_.wait_until(lock, waitingUntil_);
      }
    }
  }

  // Under the lock, so that a Disarm() that returns has seen the last cancel.
  static void Cancel(TimeLimit::Entry& entry) noexcept {
    entry.fired = true;
    try {
      api::Status status;
      entry.handle->cancelOperation(&status, fb_cancel_raise);
    } catch (...) {
      // Nothing was running (the server says so), or the connection is gone: either way the
      // statement no longer runs.
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<TimeLimit::Entry*> armed_;
  Clock::time_point waitingUntil_ = Clock::time_point::max();
  bool started_ = false;
};

Watchdog& TheWatchdog() {
  // Never destroyed: its thread may still wait on it while the process ends.
  static Watchdog* watchdog = new Watchdog;
  return *watchdog;
}

}  // namespace

TimeLimit::TimeLimit(Attachment& attachment, std::chrono::microseconds limit)
    : attachment_(&attachment) {
  if (limit.count() <= 0) return;
  api::IAttachment* handle = attachment.impl_->core->Get();
  entry_ = std::make_unique<Entry>();
  entry_->handle = api::Share(handle);
  entry_->deadline = Clock::now() + limit;
  TheWatchdog().Arm(entry_.get());
}

TimeLimit::~TimeLimit() {
  Disarm();
}

void TimeLimit::Disarm() noexcept {
  if (!entry_) return;
  fired_ = TheWatchdog().Disarm(entry_.get());
  entry_.reset();
  if (!fired_) return;
  platform::metrics::Count(platform::metrics::Event::StatementCancelled);
  // A cancel may still be on its way to the server for this connection: it must not be kept.
  attachment_->impl_->core->keepKey.clear();
}

}  // namespace kvo::fb
