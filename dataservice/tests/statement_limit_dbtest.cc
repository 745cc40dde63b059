// MaxStatementSeconds through the real CGI program: a statement that runs or fetches past the
// bound is cancelled, its action answers the failure naming the bound, and nothing it did stays.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "platform/error_page.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::dataservice {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::Form;
using testing::TempDatabase;

const char kCancelled[] =
    "The statement ran longer than this server allows (MaxStatementSeconds = 1) and was "
    "cancelled.";

// A select whose first row takes far longer than the bound.
const char kLongSelect[] =
    "select count(*) as nome from rdb$fields a, rdb$fields b, rdb$fields c, rdb$fields d";

TEST(MaxStatementSeconds, APastStatementIsCancelledAndRolledBack) {
  KVO_REQUIRE_FIREBIRD();
  TempDatabase db;
  db.Execute({"create table t (id integer primary key, v integer)", "create table w (id integer)",
              "insert into t values (1, 0)"});
  // An insert, then an update of the row another connection holds: it waits until cancelled.
  const std::string blocked =
      "execute block as begin insert into w values (1); update t set v = 2 where id = 1; end";
  struct Case {
    const char* what;
    const char* settings;
    const char* action;
    std::string q;
    bool cancelled;
  } cases[] = {
      {"/sql, a lock wait", "MaxStatementSeconds=1", "/sql", blocked, true},
      {"/sql, a long fetch", "MaxStatementSeconds=1", "/sql", kLongSelect, true},
      {"/criarib, a lock wait", "MaxStatementSeconds=1", "/criarib", blocked, true},
      {"/criarib, a long export", "MaxStatementSeconds=1", "/criarib", kLongSelect, true},
      {"/sql, a short statement", "MaxStatementSeconds=1", "/sql", "insert into w values (2)",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir drives;
    testing::WriteFile(drives.path() + "/C/KVO/KVO.Net/Logs/Log.txt", "");
    testing::WriteFile(drives.path() + "/C/KVO/KVO.Net/Config/KVO.Server.Config",
                       std::string("[Server]\r\n") + c.settings + "\r\n");
    fb::Attachment locker = db.Attach();
    fb::Transaction held = locker.StartTransaction();
    locker.ExecuteImmediate(held, "update t set v = 1 where id = 1");

    const std::string action = c.action;
    const std::string login = "user_name=" + db.user() + "\r\npassword=" + db.password();
    const auto start = Clock::now();
    testing::CgiResult r =
        action == "/sql"
            ? testing::PostCgi("/sql",
                               Form({{"db", db.connection()},
                                     {"u", db.user()},
                                     {"p", db.password()},
                                     {"z", "false"},
                                     {"q", c.q}}),
                               {{"KVO_DRIVES", drives.path()}})
            : testing::PostCgi("/criarib",
                               Form({{"db", db.connection()}, {"p", login}, {"q", c.q}}),
                               {{"KVO_DRIVES", drives.path()}});
    const auto took = Clock::now() - start;
    held.Rollback();
    locker.Close();

    const std::string body = r.Body();
    if (!c.cancelled) {
      EXPECT_EQ(body.find(kCancelled), std::string::npos) << body;
      EXPECT_LT(took, 1s);
      db.Execute("delete from w");
      continue;
    }
    EXPECT_GE(took, 1s);
    EXPECT_LT(took, 10s);
    if (action == "/sql") {
      EXPECT_EQ(body, platform::BuildErrorPage(kCancelled));
      const std::string log = testing::ReadFile(drives.path() + "/C/KVO/KVO.Net/Logs/Log.txt");
      EXPECT_NE(log.find(c.q), std::string::npos) << log;
      EXPECT_NE(log.find(kCancelled), std::string::npos) << log;
    } else {
      EXPECT_EQ(r.output.substr(0, 16), "Status: 500 Inte") << r.output;
      EXPECT_NE(body.find(std::string("<p>") + kCancelled), std::string::npos) << body;
    }
    // The insert before the wait was rolled back.
    fb::Attachment a = db.Attach();
    fb::Transaction t = a.StartTransaction();
    fb::ResultSet rows = a.Prepare(t, "select count(*) from w").Open();
    rows.Fetch();
    EXPECT_EQ(rows.GetInt64(0), 0);
  }
}

}  // namespace
}  // namespace kvo::dataservice
