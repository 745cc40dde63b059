// The statement log's disk use under a flood of large statements: 1 MB statements (larger ones
// are refused by the database server but logged all the same), one entry per request, enough
// requests for a rotation, on a log folder that holds 8 rotated copies of earlier floods
// already; logged with LogCopies=2 and, as the reference in the same run, without it. Printed:
// the disk use of the log folder after each flood, the bound that the entry limit and
// LogCopies give ((copies + 1) full logs of 5000 entries, plus the requests' own entries), and
// their ratios.
// Usage: kvo_log_disk_bench [--requests N]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "configfiles/paths.h"
#include "dataservice/statement_log.h"
#include "tests/support/cgi_runner.h"

namespace {

using kvo::dataservice::StatementLog;

uint64_t FolderBytes(const std::string& folder) {
  uint64_t total = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.is_regular_file()) total += e.file_size();
  return total;
}

// Logs `requests` statements of `statement` and returns the folder's bytes afterwards.
uint64_t Flood(const std::string& drives, int requests, const std::string& statement,
               std::optional<int32_t> copies) {
  const std::string folder = drives + "/C/KVO/KVO.Net/Logs/";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  // Earlier floods' copies: full logs of entries as the entry limit leaves them.
  StatementLog one(kvo::config::kStatementLog);
  one.Add(statement);
  one.Save();
  const std::string entry = kvo::testing::ReadFile(folder + "Log.txt");
  std::string full;
  for (size_t i = 0; i < StatementLog::kRotateAt; ++i) full += entry;
  for (int i = 0; i < 8; ++i)
    kvo::testing::WriteFile(folder + "Log_2020_01_01_00_00_0" + std::to_string(i) + ".txt", full);
  std::filesystem::remove(folder + "Log.txt");
  for (int i = 0; i < requests; ++i) {
    StatementLog log(kvo::config::kStatementLog, copies);
    log.Add(statement);
    log.Save();
  }
  return FolderBytes(folder);
}

}  // namespace

int main(int argc, char** argv) {
  int requests = 6000;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--requests") == 0) requests = std::max(1, std::atoi(argv[i + 1]));
  kvo::testing::TempDir drives;
  setenv("KVO_DRIVES", drives.path().c_str(), 1);
  const std::string statement = "insert into t values ('" + std::string(1 << 20, 'x') + "')";
  const int32_t copies = 2;

  const uint64_t bounded = Flood(drives.path(), requests, statement, copies);
  const uint64_t unbounded = Flood(drives.path(), requests, statement, std::nullopt);
  // An entry: stamp, " - ", the kept start, " [... N bytes in all]", CR LF.
  const uint64_t entry = 22 + StatementLog::kMaxStatementBytes + 40;
  const uint64_t bound = ((copies + 1) * StatementLog::kRotateAt + requests) * entry;
  const double posted = double(requests) * double(statement.size());
  std::printf("flood: %d requests of %zu bytes (%.0f MB posted)\n", requests, statement.size(),
              posted / 1e6);
  std::printf("LogCopies=%d: %.1f MB on disk; bound %.1f MB; ratio to the bound %.2f\n", copies,
              bounded / 1e6, bound / 1e6, double(bounded) / double(bound));
  std::printf("LogCopies unset (reference): %.1f MB on disk; ratio bounded/unset %.2f\n",
              unbounded / 1e6, double(bounded) / double(unbounded));
  std::printf("ratio on disk/posted: %.4f with LogCopies, %.4f without\n", bounded / posted,
              unbounded / posted);
  return bounded <= bound ? 0 : 1;
}
