// The statement log of /sql: "C:\KVO\KVO.Net\Logs\Log.txt", one entry per line, CR LF after
// each, rotated to "Log_yyyy_mm_dd_hh_nn_ss.txt" when it holds 5000 lines or more. An entry holds
// at most kMaxStatementBytes of its text; the rotated copies beyond a given number are deleted,
// oldest first. The log and its lock file are created readable by their owner and group only,
// and the passwords of statements that create or change logins are not written.
//
// Requests run in separate processes and overlap. A request keeps its own entries while it
// works and, at its end, appends them under an exclusive lock (flock on "Log.lck" beside the
// log) in one write, flushed to disk after the lock is released. The lock is held only for
// that, never while SQL runs. A request's cost does not grow with the log: the lock file
// remembers the log's identity, size and line count, and the lines are counted afresh only
// when somebody else changed the file.
// Rotation renames the log. A writer killed part-way never damages earlier entries; the next
// one ends a partial last line before its own. Every failure of the log is ignored: the answer
// never depends on it.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvo::dataservice {

class StatementLog {
 public:
  static constexpr size_t kRotateAt = 5000;
  // The most of a text one entry holds: a longer one is logged by its start and its length.
  static constexpr size_t kMaxStatementBytes = 8 * 1024;

  // `logPath` is the Windows path of the log; rotated copies go beside it. With `keepCopies`,
  // a rotation deletes all but that many rotated copies (the newest by their names' time).
  explicit StatementLog(std::string logPath, std::optional<int32_t> keepCopies = std::nullopt);

  // What stands in the log for the password of a statement that creates or changes a login.
  static constexpr std::string_view kPasswordMark = "'********'";

  // Appends "dd/mm/yyyy hh:nn:ss - " and `text` (a message); of a text longer than
  // kMaxStatementBytes, its first kMaxStatementBytes bytes and " [... N bytes in all]".
  void Add(std::string_view text);
  // Adds a statement as Add() does, exactly as received but for the password of CREATE USER,
  // ALTER USER and CREATE OR ALTER USER, which becomes kPasswordMark.
  void AddStatement(std::string_view sql);

  // Appends the entries kept so far to the file as the header says, and forgets them, so that
  // a later call appends only what was added since. Never throws.
  void Save() noexcept;

  // "dd/mm/yyyy hh:nn:ss" and "yyyy_mm_dd_hh_nn_ss" of a local time.
  static std::string EntryStamp(std::time_t t);
  static std::string RotationStamp(std::time_t t);

 private:
  void Merge();
  std::string logPath_;
  std::optional<int32_t> keepCopies_;
  std::vector<std::string> entries_;
};

}  // namespace kvo::dataservice
