// Counters of what the program's processes do, published for an operator in the text format
// that node exporter's textfile collector reads (docs/metrics.md). The layers below the frame
// count their events here; the frame counts each request with its action, duration and outcome,
// names the folder, and publishes. Nothing here knows HTTP or Firebird.
//
// Every process of a host adds what it counted to one state file in the folder and rewrites the
// host's file from it, both under a lock (flock on a lock file beside them) and both replaced
// by rename: a reader never sees a file in part, and the host's counters only grow, across
// process restarts too, until the state file is removed (then they start again at 0, which
// Prometheus reads as a counter reset).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kvo::platform::metrics {

enum class Event {
  Attached,            // a fresh database attachment made for a request
  KeptReused,          // a request served by an attachment kept from an earlier one
  KeptReplaced,        // a kept attachment found broken at its first use and attached anew
  LoginRefused,        // the database server refused a login (wrong user name or password)
  StatementCancelled,  // a statement cancelled by the time limit
  ResultRefused,       // a result refused for its size (MaxPacketBytes)
};

// Adds one to `event`. Cheap: no file is touched. Never throws.
void Count(Event event) noexcept;

// The attachments this process keeps now (a gauge: the host's file shows the sum over the live
// processes).
void SetKeptAttachments(size_t open) noexcept;

// One request answered: `action` is one of a fixed set of names chosen by the caller (it
// becomes a label), `seconds` from its start to its answer, `failed` when it answered a
// failure. Never throws.
void CountRequest(std::string_view action, double seconds, bool failed) noexcept;

// The folder to publish to, a host path; empty turns publishing off and drops what is pending.
void SetFolder(std::string folder) noexcept;

// Writes what this process counted since its last write into the folder's state and replaces
// the host's file, when something is pending and either `now` or a second has passed since the
// last write. Returns the milliseconds until a write becomes due, or -1 when nothing is
// pending. A folder that cannot be written keeps the counts pending. Never throws.
long Publish(bool now) noexcept;

// The name of the host's file in the folder.
inline constexpr const char* kFileName = "kvowebserver.prom";

}  // namespace kvo::platform::metrics
