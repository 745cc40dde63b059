// The persistent mode against a CGI process of the same program: the same bytes for the same
// request, whatever earlier requests did and whatever the process's own environment holds; the
// script's folder as working directory; a stop signal that waits for the running request.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/fastcgi.h"
#include "tests/support/cgi_runner.h"
#include "tests/support/fastcgi_client.h"

namespace kvo::testing {
namespace {

std::string CurrentFolder() {
  return std::filesystem::current_path().string();
}

// Drives whose two configuration files differ, so that an answer shows which one was chosen.
void WriteConfigFiles(const std::string& drives) {
  WriteFile(drives + "/C/KVO/KVO.Net/Config/KVO.Intranet.Config",
            "[KVO.Net]\r\nURLBase=http://intranet.example\r\n");
  WriteFile(drives + "/C/KVO/KVO.Net/Config/KVO.Extranet.Config",
            "[KVO.Net]\r\nURLBase=http://extranet.example\r\n");
}

struct Case {
  const char* name;
  const char* method;
  const char* path;  // nullptr: no PATH_INFO at all
  const char* query;
  const char* body;
  const char* remoteHost;  // nullptr: no REMOTE_HOST
};

const Case kCases[] = {
    {"config from outside", "GET", "/config", "app=AppNet", "", "10.1.2.3"},
    {"config from the private network", "GET", "/config", "app=AppNet", "", "192.168.254.20"},
    {"config without a host name", "GET", "/config", "app=AppNet", "", nullptr},
    {"script", "GET", "/script", "", "", "10.1.2.3"},
    {"no path", "GET", nullptr, "", "", "10.1.2.3"},
    {"action without handler", "GET", "/loginx", "", "", "10.1.2.3"},
    {"posted form", "POST", "/rdp", "", "server_rdp=srv.local&user_rdp=ana&width_rdp=800",
     "1.2.3.4"},
    {"site page", "GET", "/site", "loja=Mercado&usuario=Ana", "", "10.1.2.3"},
    {"site page without texts", "GET", "/site", "", "", "10.1.2.3"},
    {"information page", "GET", "/info", "", "", "10.1.2.3"},
    {"badly encoded field", "POST", "/rdp", "", "server_rdp=%zz", "10.1.2.3"},
    {"unknown path", "GET", "/nada", "", "", "10.1.2.3"},
};

Params CaseParams(const Case& c, const std::string& folder) {
  Params p = RequestParams(c.method, c.path ? c.path : "", folder, c.body, c.query);
  if (!c.path) p.erase("PATH_INFO");
  if (c.remoteHost)
    p["REMOTE_HOST"] = c.remoteHost;
  else
    p.erase("REMOTE_HOST");
  return p;
}

TEST(FastCgi, SameBytesAsACgiProcessRequestAfterRequest) {
  TempDir drives;
  WriteConfigFiles(drives.path());
  const std::string folder = CurrentFolder();
  // What a web server gives the process must not stand in for what a request lacks.
  FastCgiProcess process({{"KVO_DRIVES", drives.path()},
                          {"REMOTE_HOST", "192.168.254.7"},
                          {"HTTP_REMOTE_HOST", "192.168.254.8"},
                          {"PATH_INFO", "/script"},
                          {"HTTP_PATH_INFO", "/teste"},
                          {"QUERY_STRING", "loja=Vazou&app=AppNet"},
                          {"REQUEST_METHOD", "POST"},
                          {"CONTENT_LENGTH", "3"}});
  for (int round = 0; round < 2; ++round) {
    for (const Case& c : kCases) {
      SCOPED_TRACE(std::string(c.name) + ", round " + std::to_string(round));
      Params params = CaseParams(c, folder);
      Params cgiEnv = params;
      cgiEnv["KVO_DRIVES"] = drives.path();
      const CgiResult cgi = RunCgi(cgiEnv, c.body);
      const CgiResult fcgi = process.Request(params, c.body);
      EXPECT_EQ(fcgi.exitCode, 0);
      EXPECT_EQ(fcgi.output, cgi.output);
    }
  }
  // The configuration choice really differs, so the comparisons above say something.
  const CgiResult outside = process.Request(CaseParams(kCases[0], folder));
  const CgiResult inside = process.Request(CaseParams(kCases[1], folder));
  EXPECT_NE(outside.Body(), inside.Body());
}

std::string WorkingFolderOf(pid_t pid) {
  return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/cwd").string();
}

TEST(FastCgi, EachRequestRunsInTheFolderOfItsScript) {
  TempDir start, scripts;
  FastCgiProcess process({}, start.path());
  struct {
    const char* name;
    std::string scriptFilename;  // empty: the web server sends none
    std::string expected;
  } cases[] = {
      {"script in another folder", scripts.path() + "/kvowebserver.exe", scripts.path()},
      {"no script file named", "", start.path()},
      {"script in a folder that is gone", start.path() + "/gone/kvowebserver.exe", start.path()},
      {"script back in the other folder", scripts.path() + "/ikvowebserver.dll", scripts.path()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Params params = RequestParams("GET", "/script", start.path());
    if (c.scriptFilename.empty())
      params.erase("SCRIPT_FILENAME");
    else
      params["SCRIPT_FILENAME"] = c.scriptFilename;
    ASSERT_EQ(process.Request(params).exitCode, 0);
    EXPECT_EQ(WorkingFolderOf(process.pid()), std::filesystem::canonical(c.expected).string());
  }
}

TEST(FastCgi, StopSignalLetsTheRunningRequestFinish) {
  const std::string folder = CurrentFolder();
  const std::string body = "server_rdp=srv.local&user_rdp=ana&width_rdp=800";
  const Params params = RequestParams("POST", "/rdp", folder, body);
  const CgiResult expected = RunCgi(params, body);
  // Where the accepted request waits when the signal comes: its parameters are read while it
  // starts, its body while it is served.
  for (const bool waitsForParameters : {true, false}) {
    SCOPED_TRACE(waitsForParameters ? "waiting for its parameters" : "waiting for its body");
    FastCgiProcess process;
    const int connection =
        waitsForParameters ? process.Begin() : process.Send(params, body.substr(0, 10), false);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(::kill(process.pid(), SIGTERM), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (waitsForParameters)
      process.SendParams(connection, params, body);
    else
      process.SendBody(connection, body.substr(10));
    const CgiResult answer = process.Receive(connection);
    EXPECT_EQ(answer.exitCode, 0);
    EXPECT_EQ(answer.output, expected.output);
    EXPECT_EQ(process.WaitExit(5), 0);
  }
}

// The loop with a stop signal sent to itself at each of its places: a request accepted before
// the signal is answered in full, none is accepted after it, and the process ends at once.
TEST(FastCgi, StopSignalAtEachPointOfTheLoop) {
  const std::string folder = CurrentFolder();
  const std::string body = "server_rdp=srv.local&user_rdp=ana&width_rdp=800";
  const Params params = RequestParams("POST", "/rdp", folder, body);
  const CgiResult expected = RunCgi(params, body);
  using app::LoopPoint;
  const struct {
    const char* name;
    LoopPoint point;
    int occurrence;  // the signal comes the n-th time the loop is there
    bool answered;
  } kCases[] = {
      {"waiting, before any request", LoopPoint::Waiting, 1, false},
      {"waiting, after a request (idle attachments just dropped)", LoopPoint::Waiting, 2, true},
      {"between a ready connection and its accept", LoopPoint::Accepting, 1, true},
      {"accepted, before it is served", LoopPoint::Serving, 1, true},
      {"just answered", LoopPoint::Answered, 1, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FastCgiProcess process([&c] {
      int seen = 0;
      return app::ServeFastCgi([&](LoopPoint point) {
        if (point != c.point || ++seen != c.occurrence) return;
        // A signal that must win over a waiting connection comes once the connection waits.
        pollfd listening{app::kListeningSocket, POLLIN, 0};
        if (!c.answered) ::poll(&listening, 1, 5000);
        ::kill(::getpid(), SIGTERM);
      });
    });
    // The first request arrives while the process still waits for its parameters.
    const int connection = process.Begin();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    process.SendParams(connection, params, body);
    const CgiResult answer = process.Receive(connection);
    if (c.answered) {
      EXPECT_EQ(answer.exitCode, 0);
      EXPECT_EQ(answer.output, expected.output);
    } else {
      EXPECT_EQ(answer.output, "");
    }
    EXPECT_EQ(process.WaitExit(5), 0) << "the signal was lost";
  }
}

TEST(FastCgi, StopSignalEndsAnIdleProcess) {
  FastCgiProcess process;
  ASSERT_EQ(process.Request(RequestParams("GET", "/script", CurrentFolder())).exitCode, 0);
  ASSERT_EQ(::kill(process.pid(), SIGTERM), 0);
  EXPECT_EQ(process.WaitExit(5), 0);
}

TEST(LeanStart, TheServerLoadsNoHttpClientLibrary) {
  // The dynamic linker lists every library it would load at start-up, and nothing runs.
  const std::string command =
      std::string("LD_TRACE_LOADED_OBJECTS=1 '") + KVO_SERVER_BINARY + "' </dev/null 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string listing;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) listing.append(buffer, n);
  EXPECT_EQ(::pclose(pipe), 0);
  EXPECT_NE(listing.find("libfbclient"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("libcurl"), std::string::npos) << listing;
}

}  // namespace
}  // namespace kvo::testing
