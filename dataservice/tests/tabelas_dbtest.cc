// /tabelas through the real CGI program against the private server.
#include <gtest/gtest.h>

#include "platform/error_page.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::dataservice {
namespace {

using testing::Form;
using testing::PostCgi;
using testing::TempDatabase;

testing::CgiResult Tabelas(const std::string& db, const std::string& u, const std::string& p) {
  return PostCgi("/tabelas", Form({{"db", db}, {"u", u}, {"p", p}}));
}

TEST(TabelasTest, ListsUserTablesOnly) {
  KVO_REQUIRE_FIREBIRD();
  TempDatabase db;
  db.Execute({"create table zeta (a integer)", "create table alfa (a integer)",
              "create table \"Mixed Case\" (a integer)", "create view v_alfa as select a from alfa",
              "create procedure p as begin end"});
  testing::CgiResult r = Tabelas(db.connection(), db.user(), db.password());
  EXPECT_EQ(r.Head().substr(0, 16), "Status: 200 OK\r\n") << r.output;
  EXPECT_EQ(r.Body(), "ALFA\r\nMixed Case\r\nZETA\r\n");

  // A plain path goes through the server too (the client configuration of the test
  // environment), and a wrong password is refused there.
  EXPECT_EQ(Tabelas(db.path(), db.user(), db.password()).Body(), "ALFA\r\nMixed Case\r\nZETA\r\n");
}

TEST(TabelasTest, EmptyDatabaseAndFailures) {
  KVO_REQUIRE_FIREBIRD();
  TempDatabase db;
  EXPECT_EQ(Tabelas(db.connection(), db.user(), db.password()).output,
            "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
            "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n");

  const std::string refused = platform::BuildErrorPage(
      "Your user name and password are not defined. Ask your database administrator to set up a "
      "Firebird login.");
  EXPECT_EQ(Tabelas(db.connection(), db.user(), "wrong").Body(), refused);
  EXPECT_EQ(Tabelas(db.path(), db.user(), "wrong").Body(), refused);

  std::string missing =
      Tabelas(testing::ServerPath(db.path() + "x"), db.user(), db.password()).Body();
  EXPECT_NE(missing.find("<font face=Arial color=#990000 size=6>I/O error during \"open\" "
                         "operation for file \"" +
                         db.path() + "x\""),
            std::string::npos)
      << missing;
}

// A commit the server refuses is answered with the error page, not with the list.
TEST(TabelasTest, ARefusedCommitIsTheErrorPage) {
  KVO_REQUIRE_FIREBIRD();
  TempDatabase db;
  db.Execute({"create table alfa (a integer)", "create exception refused 'commit refused'",
              "create trigger refuse on transaction commit as begin"
              " if (rdb$get_context('SYSTEM', 'CLIENT_PROCESS') containing 'kvowebserver') then"
              " exception refused; end"});
  const std::string body = Tabelas(db.connection(), db.user(), db.password()).Body();
  EXPECT_NE(body.find("<TITLE>KVO.Net</TITLE>"), std::string::npos) << body;
  EXPECT_NE(body.find("commit refused"), std::string::npos) << body;
}

}  // namespace
}  // namespace kvo::dataservice
