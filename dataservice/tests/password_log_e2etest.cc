// /sql through the web server with statements that create or change a login: the statement log
// holds each one with its password replaced by a fixed mark, whether the statement ran or not.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "dataservice/statement_log.h"
#include "tests/support/cgi_runner.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"
#include "tests/support/http_client.h"

namespace kvo::testing {
namespace {

TEST(PasswordLog, TheLogHoldsTheMarkInsteadOfThePassword) {
  KVO_REQUIRE_FIREBIRD();
  KVO_REQUIRE_ENV(url, "KVO_HTTP_URL");
  KVO_REQUIRE_ENV(drives, "KVO_HTTP_DRIVES");
  const std::string log = drives + "/C/KVO/KVO.Net/Logs/Log.txt";
  std::filesystem::create_directories(drives + "/C/KVO/KVO.Net/Logs");
  TempDatabase db;
  const std::string tag = std::to_string(getpid());
  const std::string user = "KVO_LOGPW_" + tag;
  struct Case {
    std::string q, logged, secret;
    bool runs;
  } cases[] = {
      // Refused by the server: no such user.
      {"alter user KVO_NOBODY_" + tag + " password 'Secret1-" + tag + "'",
       "alter user KVO_NOBODY_" + tag + " password '********'", "Secret1-" + tag, false},
      {"CREATE USER " + user + " PASSWORD /* pw */ 'It''s-" + tag + "'",
       "CREATE USER " + user + " PASSWORD /* pw */ '********'", "It''s-" + tag, true},
      {"create or alter user " + user + " password q'{Secret3-" + tag + "}' firstname 'Ana'",
       "create or alter user " + user + " password '********' firstname 'Ana'", "Secret3-" + tag,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.q);
    HttpResponse r = HttpPost(
        ActionUrl(url, "kvowebserver.exe", "/sql"),
        Form({{"db", db.connection()}, {"u", db.user()}, {"p", db.password()}, {"q", c.q}}));
    EXPECT_EQ(r.body.empty(), c.runs) << r.body;
    const std::string bytes = ReadFile(log);
    EXPECT_NE(bytes.find(" - " + c.logged + "\r\n"), std::string::npos);
    EXPECT_EQ(bytes.find(c.secret), std::string::npos);
  }
  db.Execute("drop user " + user);
}

}  // namespace
}  // namespace kvo::testing
