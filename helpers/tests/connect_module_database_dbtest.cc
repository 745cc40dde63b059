// The module database's login from the posted db, u and p, against the private server.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "helpers/helpers.h"
#include "tests/support/fb_testdb.h"

namespace kvo::helpers {
namespace {

using testing::ServerPath;
using testing::TempDatabase;

// A POST of `body` as the web server hands it over.
cgi::TWebRequest PostRequest(const std::string& body) {
  std::map<std::string, std::string> env = {
      {"REQUEST_METHOD", "POST"},
      {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
      {"CONTENT_LENGTH", std::to_string(body.size())},
  };
  auto pos = std::make_shared<size_t>(0);
  cgi::CgiInput input;
  input.getenv = [env](const std::string& name) -> std::optional<std::string> {
    auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
  };
  input.read = [body, pos](char* buffer, size_t count) -> long {
    size_t n = std::min(count, body.size() - *pos);
    std::memcpy(buffer, body.data() + *pos, n);
    *pos += n;
    return static_cast<long>(n);
  };
  return cgi::TWebRequest(input);
}

std::string Connect(Database& d, const std::string& db, const std::string& u,
                    const std::string& p) {
  cgi::TWebRequest request = PostRequest("db=" + db + "&u=" + u + "&p=" + p);
  try {
    ConnectModuleDatabase(d, request);
  } catch (const kvo::Error& e) {
    return e.what();
  }
  return "connected";
}

TEST(ConnectModuleDatabaseTest, LogsInWithThePostedFields) {
  KVO_REQUIRE_FIREBIRD();
  KVO_REQUIRE_ENV(clientConfig, "FIREBIRD");
  TempDatabase db;
  const std::string refused =
      "Your user name and password are not defined. Ask your database administrator to set up "
      "a Firebird login.";
  struct Case {
    const char* what;
    std::string db, u, p;
    std::string answer;  // the whole message, or its start for a missing file
  };
  const Case cases[] = {
      {"good login", db.connection(), db.user(), db.password(), "connected"},
      {"good login, plain path", db.path(), db.user(), db.password(), "connected"},
      {"wrong password", db.connection(), db.user(), "wrong", refused},
      // The client configuration sends plain paths through the server too, which checks the
      // password; the embedded engine would accept any.
      {"wrong password, plain path", db.path(), db.user(), "wrong", refused},
      {"missing database", ServerPath(db.path() + "x"), db.user(), db.password(),
       "I/O error during \"open\" operation for file \"" + db.path() + "x\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Database d;
    std::string answer = Connect(d, c.db, c.u, c.p);
    EXPECT_EQ(answer.substr(0, c.answer.size()), c.answer) << answer;
    EXPECT_EQ(d.Connected(), c.answer == "connected");
    // Left with the new name and exactly the two parameter lines, connected or not.
    EXPECT_EQ(d.DatabaseName, c.db);
    EXPECT_EQ(d.Params, (std::vector<std::string>{"user_name=" + c.u, "password=" + c.p}));
  }
}

}  // namespace
}  // namespace kvo::helpers
