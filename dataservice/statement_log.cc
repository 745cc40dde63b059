#include "dataservice/statement_log.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "configfiles/text_lines.h"
#include "platform/replace_file.h"
#include "platform/unique_fd.h"
#include "platform/winpath.h"
#include "sqltext/user_password.h"

namespace kvo::dataservice {

namespace {

// Statements carry data and logins: the web server's user and its group only.
constexpr mode_t kLogMode = 0640;

std::string Format(std::time_t t, const char* pattern) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  size_t n = std::strftime(buf, sizeof buf, pattern, &tm);
  return std::string(buf, n);
}

// Counts lines as the log is read back: each CR LF, lone CR or lone LF ends one, and bytes
// after the last line end make one more. Fed piece by piece.
class LineCounter {
 public:
  void Feed(std::string_view bytes) {
    for (char c : bytes) {
      if (c == '\n' && afterCr_) {
        afterCr_ = false;
        continue;
      }
      afterCr_ = c == '\r';
      if (c == '\r' || c == '\n') {
        ++lines_;
        open_ = false;
      } else {
        open_ = true;
      }
    }
  }
  uint64_t lines() const { return lines_ + (open_ ? 1 : 0); }

 private:
  uint64_t lines_ = 0;
  bool afterCr_ = false, open_ = false;
};

// The lines of an open log, read through; nullopt when it cannot be read.
std::optional<uint64_t> CountLines(int fd) {
  LineCounter counter;
  char buf[65536];
  for (off_t at = 0;;) {
    ssize_t n = ::pread(fd, buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    counter.Feed(std::string_view(buf, static_cast<size_t>(n)));
    at += n;
  }
  return counter.lines();
}

// What the lock file remembers of the log between requests: which file it was (device and
// inode), how long, and how many lines it held then. Any other size or file means somebody
// else changed it, and the lines are counted afresh.
struct LogState {
  uint64_t device = 0, inode = 0, size = 0, lines = 0;

  bool Describes(const struct stat& st) const {
    return device == static_cast<uint64_t>(st.st_dev) &&
           inode == static_cast<uint64_t>(st.st_ino) && size == static_cast<uint64_t>(st.st_size);
  }
};

std::optional<LogState> ReadState(int lockFd) {
  char buf[128];
  ssize_t n = ::pread(lockFd, buf, sizeof buf - 1, 0);
  if (n <= 0) return std::nullopt;
  buf[n] = '\0';
  LogState s;
  unsigned long long d, i, z, l;
  char end = 0;
  if (std::sscanf(buf, "%llu %llu %llu %llu%c", &d, &i, &z, &l, &end) != 5 || end != '\n')
    return std::nullopt;
  s.device = d;
  s.inode = i;
  s.size = z;
  s.lines = l;
  return s;
}

// A torn record (a writer killed while writing it) reads as none, and the lines are counted.
void WriteState(int lockFd, const LogState& s) {
  char buf[128];
  int n = std::snprintf(
      buf, sizeof buf, "%llu %llu %llu %llu\n", static_cast<unsigned long long>(s.device),
      static_cast<unsigned long long>(s.inode), static_cast<unsigned long long>(s.size),
      static_cast<unsigned long long>(s.lines));
  if (n <= 0) return;
  if (::ftruncate(lockFd, 0) != 0) return;
  (void)!::pwrite(lockFd, buf, static_cast<size_t>(n), 0);
}

// Moves the log to the first free rotated name from `now` on: a copy made in the same second
// (possible only when requests overlap) is never overwritten, because link() fails on an
// existing name. False when the log stays where it is.
bool Rotate(const std::string& folder, const std::string& log, std::time_t now) {
  for (int i = 0; i < 120; ++i) {
    std::string name = folder + "Log_" + StatementLog::RotationStamp(now + i) + ".txt";
    if (::link(log.c_str(), name.c_str()) == 0) return ::unlink(log.c_str()) == 0;
    if (errno != EEXIST) return false;
  }
  return false;
}

// True for the name of a rotated copy, "Log_yyyy_mm_dd_hh_nn_ss.txt": its time sorts as its text.
bool IsRotatedCopy(std::string_view name) {
  static constexpr std::string_view kPattern = "Log_9999_99_99_99_99_99.txt";
  if (name.size() != kPattern.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const bool digit = kPattern[i] == '9';
    if (digit ? (name[i] < '0' || name[i] > '9') : name[i] != kPattern[i]) return false;
  }
  return true;
}

// Deletes the rotated copies in `folder` but the `keep` newest.
void PruneCopies(const std::string& folder, int32_t keep) {
  std::vector<std::string> copies;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return;
  while (const dirent* e = ::readdir(dir.get()))
    if (IsRotatedCopy(e->d_name)) copies.emplace_back(e->d_name);
  if (copies.size() <= static_cast<size_t>(keep)) return;
  std::sort(copies.begin(), copies.end());
  for (size_t i = 0; i + static_cast<size_t>(keep) < copies.size(); ++i)
    ::unlink((folder + copies[i]).c_str());
}

}  // namespace

StatementLog::StatementLog(std::string logPath, std::optional<int32_t> keepCopies)
    : logPath_(std::move(logPath)), keepCopies_(keepCopies) {}

std::string StatementLog::EntryStamp(std::time_t t) {
  return Format(t, "%d/%m/%Y %H:%M:%S");
}

std::string StatementLog::RotationStamp(std::time_t t) {
  return Format(t, "%Y_%m_%d_%H_%M_%S");
}

void StatementLog::Add(std::string_view text) {
  std::string entry = EntryStamp(std::time(nullptr));
  entry += " - ";
  if (text.size() <= kMaxStatementBytes) {
    entry += text;
  } else {
    entry += text.substr(0, kMaxStatementBytes);
    entry += " [... " + std::to_string(text.size()) + " bytes in all]";
  }
  entries_.push_back(std::move(entry));
}

void StatementLog::AddStatement(std::string_view sql) {
  Add(sqltext::HidePasswords(sql, kPasswordMark));
}

void StatementLog::Save() noexcept {
  try {
    Merge();
  } catch (...) {
    // The log never changes the answer.
  }
  entries_.clear();
}

void StatementLog::Merge() {
  if (entries_.empty()) return;
  std::optional<std::string> host = platform::HostPath(logPath_);
  if (!host) return;
  const std::string& log = *host;
  std::string folder = log.substr(0, log.rfind('/') + 1);

  // Without the lock the entries are still appended, as the single-request log would; only
  // the remembered line count is left alone then.
  platform::UniqueFd lock(
      ::open((folder + "Log.lck").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kLogMode));
  if (lock.Get() >= 0) {
    while (::flock(lock.Get(), LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  std::optional<LogState> state;
  if (lock.Get() >= 0) state = ReadState(lock.Get());

  // Anything but a regular file (a FIFO would block, a device stream has no end) is left
  // alone, found without blocking.
  constexpr int kFlags = O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  platform::UniqueFd file(::open(log.c_str(), O_RDWR | O_CREAT | kFlags, kLogMode));
  if (!file) {
    // A log the program may append to but not read is still appended to.
    file.Reset(::open(log.c_str(), O_WRONLY | kFlags));
    if (!file) return;
  }
  struct stat st {};
  if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return;

  std::optional<uint64_t> lines;
  if (state && state->Describes(st)) lines = state->lines;
  if (!lines) lines = CountLines(file.Get());

  if (lines && *lines >= kRotateAt && Rotate(folder, log, std::time(nullptr))) {
    file.Reset(::open(log.c_str(), O_RDWR | O_CREAT | O_EXCL | kFlags, kLogMode));
    if (!file || ::fstat(file.Get(), &st) != 0) return;
    // The rotated name and the new log must survive a crash together.
    platform::SyncFolderOf(log);
    lines = 0;
    if (keepCopies_) PruneCopies(folder, *keepCopies_);
  }

  // A writer that died mid-line left a partial last line: it is ended first, so that the new
  // entries start lines of their own.
  std::string_view ending;
  if (st.st_size > 0) {
    char last = 0;
    if (::pread(file.Get(), &last, 1, st.st_size - 1) == 1) {
      if (last == '\r')
        ending = "\n";
      else if (last != '\n')
        ending = "\r\n";
    }
  }
  const size_t prefix = ending.size();
  // Built from the view, not assigned a literal: GCC 12 at -O3 reports a false -Wrestrict
  // overlap for the assignment (GCC bug 105651).
  std::string bytes(ending);
  bytes += config::JoinLines(entries_);
  if (platform::WriteAll(file.Get(), bytes) != 0) {
    // A full disk keeps the log as it was rather than with half an entry.
    (void)!::ftruncate(file.Get(), st.st_size);
    return;
  }
  if (lock.Get() >= 0 && lines) {
    LineCounter added;
    added.Feed(std::string_view(bytes).substr(prefix));
    LogState now;
    now.device = static_cast<uint64_t>(st.st_dev);
    now.inode = static_cast<uint64_t>(st.st_ino);
    now.size = static_cast<uint64_t>(st.st_size) + bytes.size();
    now.lines = *lines + added.lines();
    WriteState(lock.Get(), now);
  }
  // The entries are in the file and in order once written under the lock; the flush to disk
  // needs no lock, so parallel requests flush together instead of one after the other.
  lock.Reset();
  (void)::fdatasync(file.Get());
}

}  // namespace kvo::dataservice
