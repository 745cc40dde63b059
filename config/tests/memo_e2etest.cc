// /memo with the web server: asked through lighttpd, and with a client settings file on the
// server machine that sends the directory lookup through the web server's /sql.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"
#include "tests/support/http_client.h"

namespace kvo::testing {
namespace {

std::string MemoBody(const TempDatabase& db, const std::string& cnpj) {
  return "db=" + FormEncode(db.connection()) + "&u=" + FormEncode(db.user()) +
         "&p=" + FormEncode(db.password()) + "&cnpj=" + FormEncode(cnpj);
}

TEST(MemoE2e, ThroughTheWebServer) {
  KVO_REQUIRE_FIREBIRD();
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  KVO_REQUIRE_ENV(drives, "KVO_HTTP_DRIVES");
  const std::string folder = "memo-e2e-" + std::to_string(getpid());
  TempDatabase db;
  db.Execute({"create table config_memo (caminho varchar(255))",
              "insert into config_memo values ('C:\\" + folder + "')"});
  WriteFile(drives + "/C/" + folder + "/12345678000195.rtf", "{\\rtf1\n\\par Jo\xE3o\n}");
  WriteFile(drives + "/C/secret.rtf", "secret");
  // A failure text echoes the posted cnpj, a memo is what a database user stored: a browser
  // gets both with the headers that keep it from running script or reading another type.
  struct Case {
    const char* what;
    std::string cnpj, body;
  } cases[] = {
      {"found", "12345678000195", "{\\rtf1\r\n\\par Jo\xE3o\r\n}\r\n"},
      {"missing", "1", "Cannot open file \"C:\\" + folder + "\\1.rtf\". No such file or directory"},
      {"hostile", "..\\secret", "Cannot open file \"C:\\secret.rtf\". No such file or directory"},
      {"markup", "<svg onload=alert(1)>",
       "Cannot open file \"C:\\" + folder +
           "\\<svg onload=alert(1)>.rtf\". No such file or "
           "directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HttpResponse r = HttpPost(ActionUrl(base, "ikvowebserver.dll", "/memo"), MemoBody(db, c.cnpj));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, c.body);
    EXPECT_EQ(r.Header("Content-Security-Policy"), "sandbox");
    EXPECT_EQ(r.Header("X-Content-Type-Options"), "nosniff");
  }
  std::filesystem::remove_all(drives + "/C/" + folder);
  std::filesystem::remove(drives + "/C/secret.rtf");
}

// The CGI runs here with a drives folder of its own whose client settings file turns on
// multi-tier mode: the lookup then travels to lighttpd's /sql, while the memo file is still read
// from this machine's drives.
class MemoMultiTierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
    base_ = base;
    db_ = std::make_unique<TempDatabase>();
    db_->Execute(std::vector<std::string>{"create table config_memo (caminho varchar(255))",
                                          "insert into config_memo values ('C:\\Memos')"});
    WriteFile(drives_.path() + "/C/Memos/1.rtf", "memo\n");
  }
  void Settings(const std::string& general) {
    WriteFile(drives_.path() + "/C/KVO/Bin/KVO.ini", "[General]\r\n" + general);
  }
  CgiResult Post(const std::string& cnpj) {
    return PostCgi("/memo", MemoBody(*db_, cnpj), {{"KVO_DRIVES", drives_.path()}});
  }

  std::string base_;
  TempDir drives_;
  std::unique_ptr<TempDatabase> db_;
};

TEST_F(MemoMultiTierTest, LookupThroughSql) {
  Settings("WebServerActive=1\r\nURLBase=" + base_ + "\r\n");
  CgiResult r = Post("1");
  EXPECT_EQ(r.Body(), "memo\r\n") << r.output;

  KVO_REQUIRE_ENV(proxyHost, "KVO_PROXY_HOST");
  KVO_REQUIRE_ENV(proxyPort, "KVO_PROXY_PORT");
  KVO_REQUIRE_ENV(proxyUser, "KVO_PROXY_USER");
  KVO_REQUIRE_ENV(proxyPass, "KVO_PROXY_PASS");
  Settings("WebServerActive=1\r\nURLBase=" + base_ +
           "\r\nProxyEnabled=1\r\nProxyHost=" + proxyHost + "\r\nProxyPorta=" + proxyPort +
           "\r\nProxyUsuario=" + proxyUser + "\r\nProxySenha=" + proxyPass + "\r\n");
  r = Post("1");
  EXPECT_EQ(r.Body(), "memo\r\n") << "through the proxy: " << r.output;
}

// The failures show which way the lookup went: the direct route reports the Firebird client's
// message; through /sql the server's error page carries the same message to the query, which
// raises it; an unreachable web server fails the request.
TEST_F(MemoMultiTierTest, FailuresShowTheRoute) {
  db_->Execute("drop table config_memo");
  struct Case {
    const char* what;
    std::string settings, message;
  } cases[] = {
      {"direct", "WebServerActive=0\r\nURLBase=" + base_ + "\r\n", "CONFIG_MEMO"},
      {"through /sql", "WebServerActive=1\r\nURLBase=" + base_ + "\r\n", "CONFIG_MEMO"},
      {"unreachable server", "WebServerActive=1\r\nURLBase=http://127.0.0.1:1\r\n", "127.0.0.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Settings(c.settings);
    CgiResult r = Post("1");
    EXPECT_EQ(r.output.rfind("Status: 500", 0), 0u) << r.output;
    EXPECT_NE(r.Body().find(c.message), std::string::npos) << r.output;
  }
}

}  // namespace
}  // namespace kvo::testing
