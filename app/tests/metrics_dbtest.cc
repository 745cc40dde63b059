// The host's metrics file: a known mix of requests by CGI processes and by two FastCGI
// processes of one host, against the private Firebird server, summed into one file that a strict
// reader of the text format (and promtool, where installed) accepts.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>

#include <chrono>
#include <map>
#include <regex>
#include <string>
#include <thread>

#include "tests/support/fastcgi_client.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::testing {
namespace {

// The samples of `file` as "name{labels}" -> value, read by tests/support/prom_check.py; a
// sample "fault" holding the reader's complaint when it refuses the file.
std::map<std::string, double> ReadMetrics(const std::string& file) {
  const std::string command =
      "python3 " KVO_SOURCE_ROOT "/tests/support/prom_check.py '" + file + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  size_t n;
  while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pipe ? ::pclose(pipe) : -1;
  if (status != 0) return {{"fault: " + out, 1}};
  std::map<std::string, double> samples;
  const std::regex pair("\"((?:[^\"\\\\]|\\\\.)*)\": ([-0-9.e+]+|Infinity)");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), pair); it != std::sregex_iterator();
       ++it) {
    std::string key = (*it)[1];
    key = std::regex_replace(key, std::regex("\\\\\""), "\"");
    samples[key] = std::stod((*it)[2]);
  }
  return samples;
}

TEST(Metrics, AKnownMixOfRequestsIsCountedOnceForTheHost) {
  KVO_REQUIRE_FIREBIRD();
  TempDatabase db;
  db.Execute(std::vector<std::string>{
      "create table t (id integer, s varchar(100))",
      "execute block as declare i integer = 0; begin while (i < 200) do begin "
      "insert into t values (:i, lpad('', 100, 'x')); i = i + 1; end end"});
  TempDir drives;
  const std::string folder = drives.path() + "/metrics";
  WriteFile(folder + "/.keep", "");
  WriteFile(drives.path() + "/C/KVO/KVO.Net/Logs/Log.txt", "");
  WriteFile(drives.path() + "/C/KVO/KVO.Net/Config/KVO.Server.Config",
            "[Server]\r\nMaxStatementSeconds=1\r\nMaxPacketBytes=5000\r\nMetricsFolder=" + folder +
                "\r\n");
  const std::string one = "select id from t where id = 1";
  auto sql = [&](const std::string& password, const std::string& q) {
    return Form(
        {{"db", db.connection()}, {"u", db.user()}, {"p", password}, {"z", "false"}, {"q", q}});
  };
  const Params env{{"KVO_DRIVES", drives.path()}};

  // CGI: two answers, a wrong password, a result too large; a page and an unknown path.
  PostCgi("/sql", sql(db.password(), one), env);
  PostCgi("/sql", sql(db.password(), one), env);
  PostCgi("/sql", sql(db.password() + "x", one), env);
  EXPECT_NE(PostCgi("/sql", sql(db.password(), "select * from t"), env).Body().find("MaxPacket"),
            std::string::npos);
  std::map<std::string, std::string> get = {
      {"REQUEST_METHOD", "GET"}, {"PATH_INFO", "/teste"}, {"KVO_DRIVES", drives.path()}};
  RunCgi(get);
  get["PATH_INFO"] = "/no-such-action";
  RunCgi(get);

  // FastCGI: one process attaches once and reuses it three times, the last for a statement
  // cancelled by the limit; another attaches and keeps its attachment.
  FastCgiProcess a(env, drives.path());
  FastCgiProcess b(env, drives.path());
  auto post = [&](FastCgiProcess& p, const std::string& body) {
    return p.Request(RequestParams("POST", "/sql", drives.path(), body), body);
  };
  post(a, sql(db.password(), one));
  post(a, sql(db.password(), one));
  post(a, sql(db.password(), one));
  EXPECT_NE(post(a, sql(db.password(),
                        "select count(*) from rdb$fields a, rdb$fields b, "
                        "rdb$fields c, rdb$fields d"))
                .Body()
                .find("MaxStatementSeconds"),
            std::string::npos);
  post(b, sql(db.password(), one));

  const std::map<std::string, double> expected = {
      {"kvo_requests_total{action=\"sql\"}", 9},
      {"kvo_request_failures_total{action=\"sql\"}", 3},
      {"kvo_requests_total{action=\"teste\"}", 1},
      {"kvo_request_failures_total{action=\"teste\"}", 0},
      {"kvo_requests_total{action=\"other\"}", 1},
      {"kvo_request_duration_seconds_count{action=\"sql\"}", 9},
      {"kvo_request_duration_seconds_bucket{action=\"sql\",le=\"+Inf\"}", 9},
      {"kvo_attachments_opened_total", 5},
      {"kvo_kept_attachments_reused_total", 3},
      {"kvo_kept_attachments_replaced_total", 0},
      {"kvo_login_failures_total", 1},
      {"kvo_statements_cancelled_total", 1},
      {"kvo_results_refused_total", 1},
      {"kvo_kept_attachments", 1},
  };
  // The FastCGI processes write at most once a second: the file catches up within that.
  std::map<std::string, double> samples;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (true) {
    samples = ReadMetrics(folder + "/kvowebserver.prom");
    bool all = true;
    for (const auto& [key, value] : expected)
      all = all && samples.count(key) && samples[key] == value;
    if (all || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (const auto& [key, value] : samples) {
    EXPECT_EQ(key.rfind("fault", 0), std::string::npos) << key;
  }
  for (const auto& [key, value] : expected) {
    EXPECT_EQ(samples.count(key) ? samples[key] : -1, value) << key;
  }
  // The cancelled statement took more than a second; the others less.
  EXPECT_EQ(samples["kvo_request_duration_seconds_bucket{action=\"sql\",le=\"0.5\"}"], 8);
  EXPECT_GE(samples["kvo_request_duration_seconds_sum{action=\"sql\"}"], 1.0);

  // A process told to stop writes what it still had (the second request, within a second of
  // the first); the host's counts carry on across processes.
  FastCgiProcess c(env, drives.path());
  post(c, sql(db.password(), one));
  post(c, sql(db.password(), one));
  ::kill(c.pid(), SIGTERM);
  EXPECT_EQ(c.WaitExit(5), 0);
  EXPECT_EQ(ReadMetrics(folder + "/kvowebserver.prom")["kvo_requests_total{action=\"sql\"}"], 11);
}

// Without MetricsFolder nothing is written anywhere.
TEST(Metrics, NoFolderWritesNothing) {
  TempDir drives;
  WriteFile(drives.path() + "/C/KVO/KVO.Net/Config/KVO.Server.Config",
            "[Server]\r\nLogCopies=1\r\n");
  const std::map<std::string, std::string> get = {
      {"REQUEST_METHOD", "GET"}, {"PATH_INFO", "/teste"}, {"KVO_DRIVES", drives.path()}};
  RunCgi(get);
  const std::string listing = [&] {
    std::string names;
    FILE* pipe = ::popen(("find '" + drives.path() + "' -type f").c_str(), "r");
    char buffer[4096];
    size_t n;
    while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0) names.append(buffer, n);
    if (pipe) ::pclose(pipe);
    return names;
  }();
  EXPECT_EQ(listing.find("kvowebserver."), std::string::npos) << listing;
}

}  // namespace
}  // namespace kvo::testing
