// The host's metrics: processes writing at once add up exactly, a reader never finds the file in
// part, and a state file that is missing or damaged restarts counting cleanly.
#include "platform/metrics.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/cgi_runner.h"

namespace kvo::platform::metrics {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// The value of the sample `series` in the host's file text, or -1 when it has none.
double Sample(const std::string& text, const std::string& series) {
  const size_t at = text.find("\n" + series + " ");
  if (at == std::string::npos) return -1;
  return std::stod(text.substr(at + series.size() + 2));
}

const char kSqlRequests[] = "kvo_requests_total{action=\"sql\"}";

TEST(Metrics, ProcessesWritingAtOnceAddUpAndTheFileIsAlwaysWhole) {
  TempDir folder;
  const std::string file = folder.path() + "/" + kFileName;
  constexpr int kProcesses = 4, kRequests = 150;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      SetFolder(folder.path());
      for (int i = 0; i < kRequests; ++i) {
        CountRequest("sql", 0.001 * i, i % 10 == 0);
        Count(Event::Attached);
        Publish(true);
      }
      ::_exit(0);
    }
    children.push_back(child);
  }
  // Every reading while they write is a whole file whose counts never go back.
  double last = 0;
  int readings = 0;
  bool running = true;
  while (running) {
    running = false;
    for (pid_t child : children) running = running || ::waitpid(child, nullptr, WNOHANG) == 0;
    if (::access(file.c_str(), F_OK) != 0) continue;
    const std::string text = ReadFile(file);
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text.back(), '\n');
    const double requests = Sample(text, kSqlRequests);
    ASSERT_GE(requests, last) << text;
    ASSERT_EQ(Sample(text, "kvo_request_duration_seconds_count{action=\"sql\"}"), requests);
    last = requests;
    ++readings;
  }
  for (pid_t child : children) ::waitpid(child, nullptr, 0);
  const std::string text = ReadFile(file);
  EXPECT_EQ(Sample(text, kSqlRequests), kProcesses * kRequests);
  EXPECT_EQ(Sample(text, "kvo_request_failures_total{action=\"sql\"}"), kProcesses * 15);
  EXPECT_EQ(Sample(text, "kvo_attachments_opened_total"), kProcesses * kRequests);
  EXPECT_EQ(Sample(text, "kvo_request_duration_seconds_bucket{action=\"sql\",le=\"0.05\"}"),
            kProcesses * 51);
  EXPECT_GT(readings, 0);
}

TEST(Metrics, AMissingOrDamagedStateRestartsCleanly) {
  const pid_t gone = ::fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string header = "kvowebserver-metrics 1\n";
  const std::string good =
      header + "event attached 7\naction sql 5 1 2.5" + " 1 1 1 1 1 1 1 5 5 5 5 5 5 5\n";
  struct Case {
    const char* what;
    const char* state;  // nullptr: no state file
    std::string text;
    double requests, attached, kept;
  } cases[] = {
      {"no state file", nullptr, "", 1, 0, 0},
      {"carried on", "", good, 6, 7, 0},
      {"another version", "", "kvowebserver-metrics 2\nevent attached 7\n", 1, 0, 0},
      {"torn record", "", good + "action teste 3 0", 6, 7, 0},
      {"not a number", "", header + "event attached x\naction sql 5 1 2.5 1\n", 1, 0, 0},
      {"a process that went", "", good + "kept " + std::to_string(gone) + " 4\n", 6, 7, 0},
      {"a process still there", "", good + "kept " + std::to_string(::getppid()) + " 4\n", 6, 7, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir folder;
    if (c.state) WriteFile(folder.path() + "/kvowebserver.state", c.text);
    SetFolder(folder.path());
    CountRequest("sql", 0.2, false);
    EXPECT_EQ(Publish(true), -1);
    const std::string text = ReadFile(folder.path() + "/" + kFileName);
    EXPECT_EQ(Sample(text, kSqlRequests), c.requests) << text;
    EXPECT_EQ(Sample(text, "kvo_attachments_opened_total"), c.attached) << text;
    EXPECT_EQ(Sample(text, "kvo_kept_attachments"), c.kept) << text;
    SetFolder({});
  }
}

// A folder that cannot be written keeps the counts for a later write.
TEST(Metrics, AnUnwritableFolderKeepsTheCounts) {
  TempDir folder;
  const std::string missing = folder.path() + "/not-yet";
  SetFolder(missing);
  CountRequest("sql", 0.01, false);
  EXPECT_GT(Publish(true), 0);
  WriteFile(missing + "/.keep", "");
  CountRequest("sql", 0.01, false);
  EXPECT_EQ(Publish(true), -1);
  EXPECT_EQ(Sample(ReadFile(missing + "/" + kFileName), kSqlRequests), 2);
  SetFolder({});
}

}  // namespace
}  // namespace kvo::platform::metrics
