// /login on the private Firebird server: "true" only when the posted fields open the database.
#include <gtest/gtest.h>

#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::pages {
namespace {

using testing::Form;
using testing::ServerPath;
using testing::TempDatabase;

std::string LoginBody(const std::string& db, const std::string& u, const std::string& p) {
  return Form({{"db", db}, {"u", u}, {"p", p}});
}

TEST(LoginAction, TrueOnlyForAWorkingLogin) {
  KVO_REQUIRE_FIREBIRD();
  KVO_REQUIRE_ENV(clientConfig, "FIREBIRD");
  TempDatabase db;
  struct Case {
    const char* what;
    std::string body;
    std::string answer;
  } cases[] = {
      {"good login", LoginBody(db.connection(), db.user(), db.password()), "true"},
      {"plain path", LoginBody(db.path(), db.user(), db.password()), "true"},
      {"user in lower case", LoginBody(db.connection(), "sysdba", db.password()), "true"},
      {"wrong password", LoginBody(db.connection(), db.user(), "wrong"), "false"},
      {"wrong password, plain path", LoginBody(db.path(), db.user(), "wrong"), "false"},
      {"unknown user", LoginBody(db.connection(), "NOBODY", db.password()), "false"},
      {"missing database", LoginBody(ServerPath(db.path() + "x"), db.user(), db.password()),
       "false"},
      {"unreachable server", LoginBody("localhost/1:" + db.path(), db.user(), db.password()),
       "false"},
      {"empty fields", "db=&u=&p=", "false"},
      {"no body", "", "false"},
      {"malformed body", "db=%zz&u=x", "false"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = testing::PostCgi("/login", c.body);
    EXPECT_EQ(r.output,
              "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
              "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent-Length: " +
                  std::to_string(c.answer.size()) + "\r\nContent:\r\n\r\n" + c.answer);
  }

  // The fields count only in the body: in the query string they are not looked at.
  auto r =
      testing::RunCgi({{"SERVER_PROTOCOL", "HTTP/1.1"},
                       {"REQUEST_METHOD", "GET"},
                       {"PATH_INFO", "/login"},
                       {"QUERY_STRING", LoginBody(db.connection(), db.user(), db.password())}});
  EXPECT_EQ(r.Body(), "false");
}

}  // namespace
}  // namespace kvo::pages
