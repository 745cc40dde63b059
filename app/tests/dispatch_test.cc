// Path matching and what the program writes for handled, failing and unhandled requests (the
// real program, run as the web server runs it).
#include <gtest/gtest.h>

#include <cctype>

#include "app/wm.h"
#include "helpers/helpers.h"
#include "tests/support/cgi_runner.h"

namespace kvo::app {
namespace {

TEST(PathMatching, WholePathWithoutCase) {
  EXPECT_TRUE(PathMatches("/teste", "/teste"));
  EXPECT_TRUE(PathMatches("/teste", "/TESTE"));
  for (const char* p : {"/teste/", "/teste/x", "/tes", "", "teste", "/t\xC9STE"})
    EXPECT_FALSE(PathMatches("/teste", p)) << p;
}

std::map<std::string, std::string> Get(const std::string& path, const std::string& method = "GET") {
  std::map<std::string, std::string> env = {{"SERVER_PROTOCOL", "HTTP/1.1"},
                                            {"REQUEST_METHOD", method}};
  if (path != "(unset)") env["PATH_INFO"] = path;
  return env;
}

TEST(Program, ScriptAnswersEmpty) {
  for (const char* path : {"/script", "/SCRIPT", "/Script"}) {
    auto r = testing::RunCgi(Get(path));
    EXPECT_EQ(r.output,
              "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
              "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n")
        << path;
    EXPECT_EQ(r.exitCode, 0);
  }
  for (const char* method : {"POST", "HEAD", "OPTIONS", ""})
    EXPECT_EQ(testing::RunCgi(Get("/script", method)).Body(), "") << method;
}

TEST(Program, EveryActionPathIsAnsweredAndNothingElse) {
  // Each path reaches an action, which answers (a refused or failing request included) in any
  // letter case; /loginx and /abrirwebmodulo have no handler and the search goes on past them.
  const char* answered[] = {"teste",
                            "sql",
                            "tabelas",
                            "criarib",
                            "versaokvomobile",
                            "script",
                            "listakvomodulos",
                            "versaoarquivo",
                            "versaokvo",
                            "usermanager",
                            "versaokvomobileupdate",
                            "config",
                            "site",
                            "kml",
                            "login",
                            "versaokvocd",
                            "versaokvocdupdate",
                            "memo",
                            "rdp",
                            "rdptools",
                            "info"};
  testing::TempDir drives;
  auto run = [&](const std::string& path) {
    auto env = Get(path);
    env["KVO_DRIVES"] = drives.path();
    return testing::RunCgi(env);
  };
  for (const char* name : answered) {
    std::string upper = std::string("/") + name;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const std::string& path : {std::string("/") + name, upper}) {
      auto r = run(path);
      EXPECT_EQ(r.output.rfind("Status: ", 0), 0u) << path << ": " << r.output;
      EXPECT_EQ(r.exitCode, 0) << path;
    }
  }
  for (const char* path : {"/teste/", "/script/x", "/scrip", "", "(unset)", "/loginx", "/LOGINX",
                           "/abrirwebmodulo", "/nothing"}) {
    auto r = run(path);
    EXPECT_EQ(r.output, "") << path;
    EXPECT_EQ(r.exitCode, 0) << path;
  }
}

TEST(Program, FailingActionGetsInternalErrorPage) {
  // /criarib has no guard of its own: a refused attach leaves the handler.
  testing::TempDir drives;
  auto r = testing::PostCgi("/criarib", "db=&p=&q=x", {{"KVO_DRIVES", drives.path()}});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output.rfind("Status: 500 Internal Server Error\r\nContent-Type: text/html\r\n", 0),
            0u)
      << r.output;
  EXPECT_NE(r.Body().find("<p><hr width=\"100%\"><i>/criarib</i></body></html>"),
            std::string::npos);
}

TEST(ChooseConfigFile, ByCallerHost) {
  struct Case {
    std::map<std::string, std::string> env;
    bool intranet;
  } cases[] = {
      {{{"REMOTE_HOST", "192.168.254.17"}}, true},
      {{{"REMOTE_HOST", "192.168.25.4"}}, false},
      {{{"REMOTE_HOST", "10.192.168.254.9"}}, true},
      {{{"REMOTE_HOST", "host.example"}}, false},
      {{}, false},
      {{{"HTTP_REMOTE_HOST", "192.168.254.3"}}, true},
      {{{"REMOTE_HOST", ""}, {"HTTP_REMOTE_HOST", "192.168.254.3"}}, true},
  };
  for (const auto& c : cases) {
    cgi::CgiInput in;
    in.getenv = [&](const std::string& n) -> std::optional<std::string> {
      auto it = c.env.find(n);
      return it == c.env.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    cgi::TWebRequest r(in);
    EXPECT_EQ(helpers::ChooseConfigFile(r), c.intranet
                                                ? "C:\\KVO\\KVO.Net\\Config\\KVO.Intranet.Config"
                                                : "C:\\KVO\\KVO.Net\\Config\\KVO.Extranet.Config");
  }
}

}  // namespace
}  // namespace kvo::app
