#include "dataservice/statement_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>

#include "config/text_lines.h"
#include "platform/replace_file.h"
#include "platform/unique_fd.h"
#include "platform/winpath.h"

namespace kvo::dataservice {

namespace {

constexpr mode_t kLogMode = 0644;

std::string Format(std::time_t t, const char* pattern) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  size_t n = std::strftime(buf, sizeof buf, pattern, &tm);
  return std::string(buf, n);
}

// Reads a whole file; nullopt when it does not exist; throws nothing, reports other failures
// through `failed`. Anything but a regular file (a FIFO would block, a device stream without
// end) is a failure, found without blocking.
std::optional<std::string> ReadFile(const std::string& path, bool& failed) {
  failed = false;
  platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    failed = errno != ENOENT;
    return std::nullopt;
  }
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    failed = true;
    return std::nullopt;
  }
  std::string bytes;
  if (platform::ReadAll(fd.Get(), bytes) != 0) {
    failed = true;
    return std::nullopt;
  }
  return bytes;
}

// Saves the rotated copy under the first free name from `now` on: a copy made in the same
// second (possible only when requests overlap) is never overwritten. link() fails on an
// existing name, so taking a name and filling it is one step.
bool SaveRotated(const std::string& folder, std::time_t now, std::string_view bytes) {
  const std::string temp = folder + "Log_rotating.tmp" + std::to_string(::getpid());
  if (platform::WriteSyncedFile(temp, bytes, kLogMode) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  bool saved = false;
  for (int i = 0; i < 120 && !saved; ++i) {
    std::string name = folder + "Log_" + StatementLog::RotationStamp(now + i) + ".txt";
    if (::link(temp.c_str(), name.c_str()) == 0) {
      saved = true;
    } else if (errno != EEXIST) {
      break;
    }
  }
  ::unlink(temp.c_str());
  // The emptied log is renamed in after this: the copy must be on disk first.
  if (saved) platform::SyncFolderOf(temp);
  return saved;
}

// The log's lines, split at CR LF, CR or LF. Unlike other text files a NUL byte does not end
// the reading: a statement posted with %00 in it would otherwise cut off every later entry
// at the next rewrite.
config::TextLines SplitLog(std::string_view bytes) {
  config::TextLines lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') continue;
    lines.emplace_back(bytes.substr(start, i - start));
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < bytes.size()) lines.emplace_back(bytes.substr(start));
  return lines;
}

}  // namespace

StatementLog::StatementLog(std::string logPath) : logPath_(std::move(logPath)) {}

std::string StatementLog::EntryStamp(std::time_t t) {
  return Format(t, "%d/%m/%Y %H:%M:%S");
}

std::string StatementLog::RotationStamp(std::time_t t) {
  return Format(t, "%Y_%m_%d_%H_%M_%S");
}

void StatementLog::Add(std::string_view text) {
  std::string entry = EntryStamp(std::time(nullptr));
  entry += " - ";
  entry += text;
  entries_.push_back(std::move(entry));
}

void StatementLog::Save() noexcept {
  try {
    Merge();
  } catch (...) {
    // The log never changes the answer.
  }
}

void StatementLog::Merge() {
  std::optional<std::string> host = platform::HostPath(logPath_);
  if (!host) return;
  const std::string& log = *host;
  std::string folder = log.substr(0, log.rfind('/') + 1);

  // Without the lock the merge still runs, as the single-request log would.
  platform::UniqueFd lock(::open((folder + "Log.lck").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kLogMode));
  if (lock) {
    while (::flock(lock.Get(), LOCK_EX) != 0 && errno == EINTR) {
    }
  }

  bool unreadable = false;
  std::optional<std::string> old = ReadFile(log, unreadable);
  if (unreadable) {
    // A log that exists but cannot be read is not replaced (it would be lost): the entries are
    // appended to it instead.
    platform::UniqueFd fd(
        ::open(log.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (fd && ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode))
      platform::WriteAll(fd.Get(), config::JoinLines(entries_));
    return;
  }
  config::TextLines lines;
  if (old) lines = SplitLog(*old);
  old.reset();
  if (lines.size() >= kRotateAt &&
      SaveRotated(folder, std::time(nullptr), config::JoinLines(lines)))
    lines.clear();
  lines.insert(lines.end(), entries_.begin(), entries_.end());
  platform::ReplaceFileDurably(log, config::JoinLines(lines), kLogMode);
}

}  // namespace kvo::dataservice
