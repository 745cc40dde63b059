// The counts of this process since its last write, and the host's state file they are added to.
// State file (kvowebserver.state), one record a line, fields separated by one blank:
//   kvowebserver-metrics 1                         the first line; any other: counting restarts
//   event <name> <count>
//   action <name> <requests> <failures> <seconds> <bucket counts, cumulative, one per bound>
//   kept <pid> <attachments>                       per live process that keeps some
// A line of another shape is skipped.
#include "platform/metrics.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/replace_file.h"
#include "platform/unique_fd.h"

namespace kvo::platform::metrics {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kHeader = "kvowebserver-metrics 1";
constexpr auto kInterval = std::chrono::seconds(1);

// Upper bounds of the latency buckets, in seconds, as the file writes them.
constexpr std::array<std::string_view, 14> kBounds = {"0.005", "0.01", "0.025", "0.05", "0.1",
                                                      "0.25",  "0.5",  "1",     "2.5",  "5",
                                                      "10",    "30",   "60",    "120"};
constexpr std::array<double, 14> kBoundValues = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5,
                                                 1,     2.5,  5,     10,   30,  60,   120};

struct EventInfo {
  std::string_view key;  // in the state file
  std::string_view metric;
  std::string_view help;
};
constexpr std::array<EventInfo, 6> kEvents = {{
    {"attached", "kvo_attachments_opened_total",
     "Database attachments made for requests (not taken from the kept ones)."},
    {"kept_reused", "kvo_kept_attachments_reused_total",
     "Requests served by an attachment kept from an earlier request."},
    {"kept_replaced", "kvo_kept_attachments_replaced_total",
     "Kept attachments found broken at their next use and attached anew."},
    {"login_refused", "kvo_login_failures_total",
     "Logins the Firebird server refused (unknown user name or wrong password)."},
    {"statement_cancelled", "kvo_statements_cancelled_total",
     "Statements cancelled for running past MaxStatementSeconds."},
    {"result_refused", "kvo_results_refused_total",
     "Results refused for being larger than MaxPacketBytes."},
}};

struct ActionCounts {
  uint64_t requests = 0, failures = 0;
  double seconds = 0;
  std::array<uint64_t, kBounds.size()> buckets{};  // cumulative: requests at or below each bound

  void Add(const ActionCounts& other) {
    requests += other.requests;
    failures += other.failures;
    seconds += other.seconds;
    for (size_t i = 0; i < buckets.size(); ++i) buckets[i] += other.buckets[i];
  }
};

struct Counts {
  std::array<uint64_t, kEvents.size()> events{};
  std::map<std::string, ActionCounts, std::less<>> actions;
};

struct Process {
  std::string folder;
  Counts pending;
  bool dirty = false;
  size_t kept = 0;
  bool keptChanged = false;
  Clock::time_point lastWrite{};
};

Process& TheProcess() {
  static Process process;
  return process;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  while (!line.empty()) {
    const size_t blank = line.find(' ');
    fields.push_back(line.substr(0, blank));
    if (blank == std::string_view::npos) break;
    line.remove_prefix(blank + 1);
  }
  return fields;
}

template <typename T>
bool Parse(std::string_view text, T& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

template <typename T>
void Append(std::string& out, T value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec == std::errc()) out.append(buffer, end);
}

struct HostState {
  Counts counts;
  std::map<long, uint64_t> kept;  // by process id
};

HostState ParseState(std::string_view text) {
  HostState state;
  const size_t firstEnd = text.find('\n');
  if (text.substr(0, firstEnd) != kHeader || firstEnd == std::string_view::npos) return state;
  text.remove_prefix(firstEnd + 1);
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::vector<std::string_view> f = Fields(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (f.size() == 3 && f[0] == "event") {
      for (size_t i = 0; i < kEvents.size(); ++i) {
        uint64_t value = 0;
        if (f[1] == kEvents[i].key && Parse(f[2], value)) state.counts.events[i] = value;
      }
    } else if (f.size() == 5 + kBounds.size() && f[0] == "action") {
      ActionCounts a;
      bool good = Parse(f[2], a.requests) && Parse(f[3], a.failures) && Parse(f[4], a.seconds);
      for (size_t i = 0; good && i < kBounds.size(); ++i) good = Parse(f[5 + i], a.buckets[i]);
      if (good) state.counts.actions[std::string(f[1])] = a;
    } else if (f.size() == 3 && f[0] == "kept") {
      long pid = 0;
      uint64_t open = 0;
      if (Parse(f[1], pid) && Parse(f[2], open) && pid > 0) state.kept[pid] = open;
    }
  }
  return state;
}

std::string RenderState(const HostState& state) {
  std::string out(kHeader);
  out += '\n';
  for (size_t i = 0; i < kEvents.size(); ++i) {
    out.append("event ").append(kEvents[i].key).append(" ");
    Append(out, state.counts.events[i]);
    out += '\n';
  }
  for (const auto& [name, a] : state.counts.actions) {
    out.append("action ").append(name).append(" ");
    Append(out, a.requests);
    out += ' ';
    Append(out, a.failures);
    out += ' ';
    Append(out, a.seconds);
    for (uint64_t b : a.buckets) {
      out += ' ';
      Append(out, b);
    }
    out += '\n';
  }
  for (const auto& [pid, open] : state.kept) {
    out.append("kept ");
    Append(out, pid);
    out += ' ';
    Append(out, open);
    out += '\n';
  }
  return out;
}

void Family(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

// Action names are the caller's fixed set; anything outside [a-z0-9_] is left out all the same,
// so that a label value never needs escaping.
std::string LabelValue(std::string_view name) {
  std::string value;
  for (char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') value += c;
  }
  return value;
}

std::string RenderExposition(const HostState& state) {
  std::string out;
  for (size_t i = 0; i < kEvents.size(); ++i) {
    Family(out, kEvents[i].metric, "counter", kEvents[i].help);
    out.append(kEvents[i].metric).append(" ");
    Append(out, state.counts.events[i]);
    out += '\n';
  }
  uint64_t kept = 0;
  for (const auto& [pid, open] : state.kept) kept += open;
  Family(out, "kvo_kept_attachments", "gauge",
         "Attachments the host's processes keep open for later requests.");
  out.append("kvo_kept_attachments ");
  Append(out, kept);
  out += '\n';
  if (state.counts.actions.empty()) return out;
  Family(out, "kvo_requests_total", "counter", "Requests answered, by action.");
  for (const auto& [name, a] : state.counts.actions) {
    out.append("kvo_requests_total{action=\"").append(LabelValue(name)).append("\"} ");
    Append(out, a.requests);
    out += '\n';
  }
  Family(out, "kvo_request_failures_total", "counter",
         "Requests answered with a failure (an error page or a 500 answer), by action.");
  for (const auto& [name, a] : state.counts.actions) {
    out.append("kvo_request_failures_total{action=\"").append(LabelValue(name)).append("\"} ");
    Append(out, a.failures);
    out += '\n';
  }
  Family(out, "kvo_request_duration_seconds", "histogram",
         "Time from a request's start to its answer, by action.");
  for (const auto& [name, a] : state.counts.actions) {
    const std::string label = LabelValue(name);
    for (size_t i = 0; i < kBounds.size(); ++i) {
      out.append("kvo_request_duration_seconds_bucket{action=\"")
          .append(label)
          .append("\",le=\"")
          .append(kBounds[i])
          .append("\"} ");
      Append(out, a.buckets[i]);
      out += '\n';
    }
    out.append("kvo_request_duration_seconds_bucket{action=\"")
        .append(label)
        .append("\",le=\"+Inf\"} ");
    Append(out, a.requests);
    out.append("\nkvo_request_duration_seconds_sum{action=\"").append(label).append("\"} ");
    Append(out, a.seconds);
    out.append("\nkvo_request_duration_seconds_count{action=\"").append(label).append("\"} ");
    Append(out, a.requests);
    out += '\n';
  }
  return out;
}

bool Alive(long pid) {
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

// Adds `process`'s pending counts to the folder's state and replaces the host's file. False
// when the folder cannot be written (the counts stay pending).
bool Write(Process& process) {
  const std::string& folder = process.folder;
  UniqueFd lock(
      ::open((folder + "/kvowebserver.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!lock) return false;
  while (::flock(lock.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  const std::string statePath = folder + "/kvowebserver.state";
  std::string text;
  {
    UniqueFd state(::open(statePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (state && ReadAll(state.Get(), text) != 0) text.clear();
  }
  HostState host = ParseState(text);
  for (size_t i = 0; i < kEvents.size(); ++i) host.counts.events[i] += process.pending.events[i];
  for (const auto& [name, a] : process.pending.actions) host.counts.actions[name].Add(a);
  const long self = static_cast<long>(::getpid());
  for (auto it = host.kept.begin(); it != host.kept.end();) {
    it = it->first != self && !Alive(it->first) ? host.kept.erase(it) : std::next(it);
  }
  if (process.kept > 0) {
    host.kept[self] = process.kept;
  } else {
    host.kept.erase(self);
  }
  if (ReplaceFileAtomically(statePath, RenderState(host), 0644) != 0) return false;
  // The state holds the counts now: were the host's file to fail, the next write makes it.
  process.pending = Counts();
  process.dirty = false;
  process.keptChanged = false;
  ReplaceFileAtomically(folder + "/" + kFileName, RenderExposition(host), 0644);
  return true;
}

}  // namespace

void Count(Event event) noexcept {
  Process& p = TheProcess();
  ++p.pending.events[static_cast<size_t>(event)];
  p.dirty = true;
}

void SetKeptAttachments(size_t open) noexcept {
  Process& p = TheProcess();
  if (open == p.kept) return;
  p.kept = open;
  p.keptChanged = true;
}

void CountRequest(std::string_view action, double seconds, bool failed) noexcept {
  Process& p = TheProcess();
  try {
    auto it = p.pending.actions.find(action);
    if (it == p.pending.actions.end()) it = p.pending.actions.emplace(action, ActionCounts()).first;
    ActionCounts& a = it->second;
    ++a.requests;
    if (failed) ++a.failures;
    a.seconds += seconds;
    for (size_t i = 0; i < kBoundValues.size(); ++i) {
      if (seconds <= kBoundValues[i]) ++a.buckets[i];
    }
    p.dirty = true;
  } catch (...) {
    // No memory for a new action's entry: this one request goes uncounted.
  }
}

void SetFolder(std::string folder) noexcept {
  Process& p = TheProcess();
  if (folder.empty()) p.pending = Counts();
  p.folder = std::move(folder);
}

long Publish(bool now) noexcept {
  Process& p = TheProcess();
  if (p.folder.empty() || !(p.dirty || p.keptChanged)) return -1;
  const Clock::time_point at = Clock::now();
  const auto due = p.lastWrite + kInterval;
  if (!now && at < due)
    return std::chrono::duration_cast<std::chrono::milliseconds>(due - at).count() + 1;
  p.lastWrite = at;
  try {
    if (Write(p)) return -1;
  } catch (...) {
    // No memory for the texts: the counts stay pending.
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(kInterval).count();
}

}  // namespace kvo::platform::metrics
