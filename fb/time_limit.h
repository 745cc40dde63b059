// A bound on how long the statements of one attachment may run or fetch. A watchdog thread of
// the process (one, started at the first use, living as long as the process) cancels the
// operation running on an attachment whose limit has passed, with the client's cancel operation
// (fb_cancel_raise): the one way to stop a Firebird 3 statement, which has no time limit of its
// own, and one that must come from another thread, never from a signal handler.
//
// A cancel may reach the server just as the statement it was meant for ends. Rather than rely
// on the server's dropping a raise that finds nothing to cancel, an attachment whose limit
// fired is never used for another request: it is detached when its work closes, instead of
// being kept (fb/keeper.h), and the limit's failure is reported even when the statement ended
// just in time. The program never turns cancelling off on a connection (fb_cancel_disable), so
// a raise is honoured as soon as the server checks for it; a raise that the server let pass (a
// phase it does not interrupt) is repeated every second while armed.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "fb/fb.h"

namespace kvo::fb {

class TimeLimit {
 public:
  // Arms the watchdog for `attachment`, which must stay open while armed and whose transaction
  // is already started (a kept connection found broken is replaced at that start, and the
  // watchdog must hold the connection that runs). A `limit` of zero or less arms nothing.
  // Throws Error when the attachment is closed.
  TimeLimit(Attachment& attachment, std::chrono::microseconds limit);
  // Disarm().
  ~TimeLimit();
  TimeLimit(const TimeLimit&) = delete;
  TimeLimit& operator=(const TimeLimit&) = delete;

  // From its return on, no cancel comes for this limit any more. When the watchdog has fired,
  // the attachment is marked never to be kept. Never throws.
  void Disarm() noexcept;
  // The watchdog has cancelled (at least tried to) what ran on the attachment.
  bool Fired() const noexcept { return fired_; }

  // Runs `body` with a limit armed on `attachment`; when the watchdog fired, an Error with
  // `message` takes the place of whatever `body` threw, and is thrown as well when `body`
  // ended without a failure.
  template <typename Body>
  static void Run(Attachment& attachment, std::chrono::microseconds limit,
                  const std::string& message, Body&& body) {
    TimeLimit armed(attachment, limit);
    try {
      std::forward<Body>(body)();
    } catch (...) {
      armed.Disarm();
      if (armed.Fired()) throw Error(message);
      throw;
    }
    armed.Disarm();
    if (armed.Fired()) throw Error(message);
  }

  struct Entry;

 private:
  Attachment* attachment_;
  std::unique_ptr<Entry> entry_;  // null when not armed
  bool fired_ = false;
};

}  // namespace kvo::fb
