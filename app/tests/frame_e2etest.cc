// The request frame as callers see it through the web server: both script names, the empty
// answer, a path the program does not handle, a failing action, and the caller's host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "configfiles/scramble.h"
#include "tests/support/cgi_runner.h"
#include "tests/support/http_client.h"
#include "tests/support/processes.h"

namespace kvo::testing {
namespace {

const char* const kScriptNames[] = {"ikvowebserver.dll", "kvowebserver.exe"};

TEST(FrameE2e, ScriptAnswersEmptyUnderBothScriptNames) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  for (const char* script : kScriptNames) {
    SCOPED_TRACE(script);
    for (const char* method : {"GET", "POST"}) {
      SCOPED_TRACE(method);
      HttpRequest request;
      request.method = method;
      request.url = ActionUrl(base, script, "/script");
      HttpResponse r = HttpSend(request);
      EXPECT_EQ(r.status, 200);
      EXPECT_EQ(r.Header("Content-Type"), "text/html");
      EXPECT_EQ(r.body, "");
    }
    // Matching ignores case.
    EXPECT_EQ(HttpGet(ActionUrl(base, script, "/SCRIPT")).status, 200);
  }
}

// The program writes nothing for a path it does not handle; the web server answers that with
// its own error page.
TEST(FrameE2e, UnhandledPathGetsTheWebServersError) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  for (const char* path : {"/nothing", "/script/", "/scrip", "/script/x"}) {
    SCOPED_TRACE(path);
    HttpResponse r = HttpGet(ActionUrl(base, "ikvowebserver.dll", path));
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body.find("Internal Application Error"), std::string::npos) << r.body;
  }
}

// /kml fails while its traffic file is missing (no test writes that fixed file) and the failure
// reaches the caller as the internal error page with status 500.
TEST(FrameE2e, FailingActionGetsInternalErrorPage) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  KVO_REQUIRE_ENV(drives, "KVO_HTTP_DRIVES");
  if (std::filesystem::exists(drives + "/C/KVO/KVO.Net/WebServers/trafego.xml"))
    GTEST_SKIP() << "the traffic file exists";
  for (const char* script : kScriptNames) {
    SCOPED_TRACE(script);
    HttpResponse r = HttpGet(ActionUrl(base, script, "/kml"));
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.statusLine, "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(r.body.rfind("<html><body><h1>Internal Application Error</h1>\r\n<p>", 0), 0u)
        << r.body;
    const std::string tail = "\r\n<p><hr width=\"100%\"><i>/kml</i></body></html>";
    ASSERT_GE(r.body.size(), tail.size());
    EXPECT_EQ(r.body.substr(r.body.size() - tail.size()), tail);
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
  }
}

// What the web server hands a CGI program, shown by the test helper printenv.cgi that runs
// under the same configuration.
std::string CgiEnvironment(const std::string& base, std::vector<std::string> headers) {
  HttpResponse r = HttpGet(base + "/printenv.cgi/teste", std::move(headers));
  EXPECT_EQ(r.status, 200);
  return "\n" + r.body;
}

// lighttpd gives a CGI program only the variables its configuration names: in the sanitizer
// pass the test configuration must name the sanitizers' options, or the sanitized program runs
// without its leak suppressions and reports what the Firebird client keeps.
TEST(FrameE2e, SanitizedProgramGetsTheSanitizerOptions) {
  if (FastCgiMode()) GTEST_SKIP() << "shows a CGI program's environment";
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  const std::string env = CgiEnvironment(base, {});
  bool any = false;
  for (const char* name : kSanitizerOptions) {
    const auto value = Env(name);
    if (!value) continue;
    any = true;
    EXPECT_NE(env.find("\n" + std::string(name) + "=" + *value + "\n"), std::string::npos) << env;
  }
  if (!any) GTEST_SKIP() << "no sanitizer options in this run";
}

// The program decides by REMOTE_HOST and, when that is unset, by HTTP_REMOTE_HOST, a header any
// caller can send. The web server must set the one and drop the other, whatever the spelling.
TEST(FrameE2e, CallerCannotChooseItsHostName) {
  if (FastCgiMode())
    GTEST_SKIP() << "shows a CGI program's environment; the FastCGI processes' own: FastCgiE2e";
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  const std::vector<std::vector<std::string>> headerSets = {
      {},
      {"Remote-Host: 192.168.254.1"},
      {"remote-host: 192.168.254.1"},
      {"Remote_Host: 192.168.254.1"},
      {"Remote-Host: 192.168.254.1", "REMOTE-HOST: 192.168.254.2"},
  };
  for (const auto& headers : headerSets) {
    SCOPED_TRACE(headers.empty() ? "no header" : headers.front());
    std::string env = CgiEnvironment(base, headers);
    EXPECT_NE(env.find("\nREMOTE_HOST=127.0.0.1\n"), std::string::npos) << env;
    EXPECT_EQ(env.find("HTTP_REMOTE_HOST"), std::string::npos) << env;
    EXPECT_EQ(env.find("192.168.254."), std::string::npos) << env;
  }
}

// Every variable the program reads with an HTTP_ fallback: a request header that lighttpd would
// hand on under that name must be gone, whatever its case and separator; the request's own
// Content-Length still gives CONTENT_LENGTH.
TEST(FrameE2e, HeadersCannotStandInForCgiVariables) {
  if (FastCgiMode())
    GTEST_SKIP() << "shows a CGI program's environment; through the program in either mode: "
                    "HeadersCannotSteerTheProgram";
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  const char* const kVariables[] = {"REQUEST_METHOD", "SERVER_PROTOCOL", "URL",
                                    "QUERY_STRING",   "PATH_INFO",       "PATH_TRANSLATED",
                                    "REMOTE_ADDR",    "REMOTE_HOST",     "SCRIPT_NAME",
                                    "SERVER_PORT",    "CONTENT_LENGTH"};
  auto spellings = [](std::string name) {
    std::string dashed = name, lower = name, mixed = name;
    for (char& c : dashed)
      if (c == '_') c = '-';
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (size_t i = 0; i < mixed.size(); ++i)
      if (i > 0 && mixed[i - 1] != '_') mixed[i] = static_cast<char>(std::tolower(mixed[i]));
    for (char& c : mixed)
      if (c == '_') c = '-';
    return std::vector<std::string>{name, dashed, lower, mixed};
  };
  for (const char* variable : kVariables) {
    for (const std::string& header : spellings(variable)) {
      // The request's own Content-Length header: curl sends the true one for the body below.
      if (std::string_view(variable) == "CONTENT_LENGTH" && header.find('_') == std::string::npos)
        continue;
      SCOPED_TRACE(header);
      HttpRequest request;
      request.method = "POST";
      request.url = base + "/printenv.cgi/teste";
      request.body = "abcdefghijklmnop";
      request.headers = {header + ": 7"};
      HttpResponse r = HttpSend(request);
      ASSERT_EQ(r.status, 200);
      const std::string env = "\n" + r.body;
      // lighttpd hands the true Content-Length on as HTTP_CONTENT_LENGTH too; the sent value 7
      // must appear nowhere.
      EXPECT_EQ(env.find("\nHTTP_" + std::string(variable) + "=7\n"), std::string::npos) << env;
      EXPECT_NE(env.find("\nCONTENT_LENGTH=16\n"), std::string::npos) << env;
      EXPECT_NE(env.find("\nPATH_INFO=/teste\n"), std::string::npos) << env;
    }
  }
}

// The same through the program: a header must not choose the action, supply fields or cut the
// body.
TEST(FrameE2e, HeadersCannotSteerTheProgram) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  // No path: the program handles nothing and the web server answers 500, as without the header.
  for (const char* header : {"Path-Info: /teste", "PATH_INFO: /teste", "Url: /teste"}) {
    SCOPED_TRACE(header);
    HttpResponse r = HttpGet(base + "/ikvowebserver.dll", {header});
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body.find("Teste de Conex"), std::string::npos) << r.body;
  }
  // /rdp places posted fields in its page: an underscore Content_Length of 12 would cut the body
  // to "width_rdp=10".
  HttpResponse rdp = HttpPost(ActionUrl(base, "kvowebserver.exe", "/rdp"),
                              "width_rdp=1024&height_rdp=768", {"Content_Length: 12"});
  EXPECT_EQ(rdp.status, 200);
  EXPECT_NE(rdp.body.find("MsRdpClient.Width = 1024; "), std::string::npos) << rdp.body;
  EXPECT_NE(rdp.body.find("MsRdpClient.Height = 768; "), std::string::npos) << rdp.body;
  // /site shows its query fields; a Query-String header ("RVZJTA==" is "EVIL") adds none.
  HttpResponse site =
      HttpGet(ActionUrl(base, "kvowebserver.exe", "/site"), {"Query-String: p1=RVZJTA=="});
  EXPECT_EQ(site.status, 200);
  EXPECT_NE(site.body.find("Loja:[  ]"), std::string::npos) << site.body;
  EXPECT_EQ(site.body.find("EVIL"), std::string::npos) << site.body;
}

// The shipped configuration limits the body to 64 MiB: room for the longest statement Firebird
// accepts, URL-encoded, and no more (lighttpd alone would take about 2 GiB).
TEST(FrameE2e, WebServerLimitsTheRequestBody) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  const size_t kLimit = size_t{64} << 20;
  struct Case {
    size_t size;
    long status;
  } cases[] = {{3 * 10485760 + 100, 200}, {kLimit, 200}, {kLimit + 1, 413}};
  // In FastCGI mode no CGI script runs under the base: the program's own /script takes the
  // body there.
  const bool fastcgi = FastCgiMode();
  const std::string url =
      fastcgi ? ActionUrl(base, "kvowebserver.exe", "/script") : base + "/printenv.cgi/teste";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    HttpResponse r = HttpPost(url, std::string(c.size, 'a'));
    EXPECT_EQ(r.status, c.status);
    if (c.status == 200 && !fastcgi) {
      EXPECT_NE(r.body.find("\nCONTENT_LENGTH=" + std::to_string(c.size) + "\n"),
                std::string::npos);
    }
  }
}

// The same seen by the program: /teste shows the host it decides by, and /config serves a
// loopback caller that claims a private-network host from the extranet file.
TEST(FrameE2e, ForgedRemoteHostHeaderGetsTheExtranetAnswer) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  KVO_REQUIRE_ENV(drives, "KVO_HTTP_DRIVES");
  const std::vector<std::string> forged = {"Remote-Host: 192.168.254.1"};

  HttpResponse teste = HttpGet(ActionUrl(base, "ikvowebserver.dll", "/teste"), forged);
  EXPECT_NE(teste.body.find("Host Remoto:</font>\r\n<font color=#ff0000>127.0.0.1</font>"),
            std::string::npos)
      << teste.body;

  // The configuration files have fixed paths, so this test writes them and removes them again;
  // it leaves them alone when the installation already has them.
  const std::string config = drives + "/C/KVO/KVO.Net/Config/";
  const std::string intranet = config + "KVO.Intranet.Config";
  const std::string extranet = config + "KVO.Extranet.Config";
  if (std::filesystem::exists(intranet) || std::filesystem::exists(extranet))
    GTEST_SKIP() << "the configuration files exist already";
  const std::string tag = std::to_string(getpid());
  WriteFile(intranet, "[KVO.Net]\r\nRDPUser=intranet-" + tag + "\r\n");
  WriteFile(extranet, "[KVO.Net]\r\nRDPUser=extranet-" + tag + "\r\n");
  std::string answers[2];
  for (int i = 0; i < 2; ++i) {
    HttpResponse r = HttpGet(ActionUrl(base, "kvowebserver.exe", "/config") + "?app=AppNet",
                             i == 0 ? forged : std::vector<std::string>{});
    EXPECT_EQ(r.status, 200);
    answers[i] = config::ScrambleText(r.body, config::kScrambleKey);
  }
  std::filesystem::remove(intranet);
  std::filesystem::remove(extranet);
  for (const std::string& answer : answers) {
    EXPECT_NE(answer.find("\r\nRDPUser=extranet-" + tag + "\r\n"), std::string::npos) << answer;
    EXPECT_EQ(answer.find("intranet"), std::string::npos) << answer;
  }
}

// The program gets its drives folder and a Firebird client configuration that routes every
// attach through the server.
TEST(FrameE2e, CgiEnvironmentNamesDrivesAndFirebirdClient) {
  if (FastCgiMode())
    GTEST_SKIP() << "shows a CGI program's environment; the FastCGI processes' own: FastCgiE2e";
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  KVO_REQUIRE_ENV(drives, "KVO_HTTP_DRIVES");
  KVO_REQUIRE_ENV(firebird, "FIREBIRD");
  std::string env = CgiEnvironment(base, {});
  EXPECT_NE(env.find("\nKVO_DRIVES=" + drives + "\n"), std::string::npos) << env;
  EXPECT_NE(env.find("\nFIREBIRD=" + firebird + "\n"), std::string::npos) << env;
  std::string conf = ReadFile(firebird + "/firebird.conf");
  EXPECT_NE(conf.find("Providers = Remote,Loopback"), std::string::npos) << conf;
}

}  // namespace
}  // namespace kvo::testing
