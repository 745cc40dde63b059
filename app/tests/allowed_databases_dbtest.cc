// With AllowedDatabases set, every action that attaches answers another database exactly as a
// wrong password, and contacts nothing.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::app {
namespace {

using testing::Form;
using testing::TempDatabase;

// A listening socket on a free loopback port, to see whether anything tries to connect.
class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), n) != 0 || listen(fd_, 16) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) != 0)
      port_ = -1;
    else
      port_ = ntohs(a.sin_port);
  }
  ~Listener() { close(fd_); }
  int port() const { return port_; }
  bool Contacted() const {
    int c = accept(fd_, nullptr, nullptr);
    if (c >= 0) close(c);
    return c >= 0;
  }

 private:
  int fd_ = -1;
  int port_ = -1;
};

TEST(AllowedDatabases, OtherDatabasesAreAnsweredAsAWrongPassword) {
  KVO_REQUIRE_FIREBIRD();
  KVO_REQUIRE_ENV(clientConfig, "FIREBIRD");
  TempDatabase db, other;
  db.Execute("create table config_memo (caminho varchar(255))");
  Listener listener;
  ASSERT_GT(listener.port(), 0);
  testing::TempDir drives;
  testing::WriteFile(drives.path() + "/C/KVO/KVO.Net/Config/KVO.Server.Config",
                     "[Server]\r\nAllowedDatabases = nothing.fdb; " + db.connection() + "\r\n");
  auto post = [&](const char* path, const std::string& database, const std::string& password) {
    // /criarib takes its login as parameter lines in "p".
    const bool lines = std::string_view(path) == "/criarib";
    auto r = testing::PostCgi(
        path,
        Form({{"db", database},
              {"u", db.user()},
              {"p", lines ? "user_name=" + db.user() + "\npassword=" + password : password},
              {"q", "select 1 from rdb$database"},
              {"cnpj", "1"}}),
        {{"KVO_DRIVES", drives.path()}});
    return r.output;
  };
  const std::string probe = "localhost/" + std::to_string(listener.port()) + ":/x.fdb";
  // The database on the list is served as before.
  EXPECT_NE(post("/login", db.connection(), db.password()).find("\r\n\r\ntrue"), std::string::npos);
  EXPECT_NE(post("/sql", db.connection(), db.password()).find("<ROW "), std::string::npos);
  for (const char* path : {"/login", "/sql", "/tabelas", "/criarib", "/memo"}) {
    SCOPED_TRACE(path);
    const std::string wrongPassword = post(path, db.connection(), "wrong");
    const bool login = std::string(path) == "/login";
    EXPECT_NE(
        wrongPassword.find(login ? "\r\n\r\nfalse" : "Your user name and password are not defined"),
        std::string::npos)
        << wrongPassword;
    for (const std::string& refused : {probe, other.connection(), other.path(), db.path(),
                                       std::string("nothing.fdbx"), db.connection() + "\r\nx"})
      EXPECT_EQ(post(path, refused, db.password()), wrongPassword) << refused;
  }
  EXPECT_FALSE(listener.Contacted());
}

// The caller's answer tells nothing; the web server's error log says why, on one line.
TEST(AllowedDatabases, TheErrorLogSaysWhy) {
  KVO_REQUIRE_FIREBIRD();
  TempDatabase db;
  testing::TempDir drives;
  const std::string settings = drives.path() + "/C/KVO/KVO.Net/Config/KVO.Server.Config";
  auto login = [&](const std::string& database) {
    return testing::PostCgi("/login",
                            Form({{"db", database}, {"u", db.user()}, {"p", db.password()}}),
                            {{"KVO_DRIVES", drives.path()}});
  };
  struct Case {
    std::string list;
    std::string database;
    std::string log;  // empty: nothing is logged
  };
  const Case cases[] = {
      {"shop.fdb; " + db.connection(), db.connection(), ""},
      {"shop.fdb", "other.fdb\r\nforged line",
       "kvowebserver: the database \"other.fdb??forged line\" is refused: it is not in "
       "AllowedDatabases (C:\\KVO\\KVO.Net\\Config\\KVO.Server.Config, [Server])\n"},
      // What the package installs: the key present and empty.
      {"", "shop.fdb",
       "kvowebserver: the database \"shop.fdb\" is refused: AllowedDatabases is empty, so no "
       "database is allowed (C:\\KVO\\KVO.Net\\Config\\KVO.Server.Config, [Server])\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list + " / " + c.database);
    testing::WriteFile(settings, "[Server]\r\nAllowedDatabases=" + c.list + "\r\n");
    const auto r = login(c.database);
    EXPECT_NE(r.output.find(c.log.empty() ? "\r\n\r\ntrue" : "\r\n\r\nfalse"), std::string::npos)
        << r.output;
    EXPECT_EQ(r.errors, c.log);
  }
}

}  // namespace
}  // namespace kvo::app
