// The watchdog of fb/time_limit.h against the private server: a statement past its limit is
// cancelled, and a cancel that comes as a statement ends never reaches a later one.
#include "fb/time_limit.h"

#include <gtest/gtest.h>

#include <chrono>

#include "fb/keeper.h"
#include "tests/support/fb_testdb.h"

namespace kvo::fb {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A select whose first row takes far longer than any limit here.
const char kLongSelect[] =
    "select count(*) from rdb$fields a, rdb$fields b, rdb$fields c, rdb$fields d";

TEST(TimeLimit, CancelsARunningStatementAndOnlyIt) {
  KVO_REQUIRE_FIREBIRD();
  testing::TempDatabase db;
  db.Execute(std::vector<std::string>{"create table t (id integer primary key, v integer)",
                                      "insert into t values (1, 0)"});
  struct Case {
    const char* what;
    std::vector<std::string> before;  // run first by a second connection, left uncommitted
    const char* sql;
  } cases[] = {
      {"a long fetch", {}, kLongSelect},
      {"waiting for a row lock",
       {"update t set v = 1 where id = 1"},
       "update t set v = 2 where id = 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Attachment locker = db.Attach();
    Transaction held = locker.StartTransaction();
    for (const auto& sql : c.before) locker.ExecuteImmediate(held, sql);

    Attachment a = db.Attach();
    Transaction t = a.StartTransaction();
    const auto start = Clock::now();
    std::string failure;
    try {
      TimeLimit::Run(a, 300ms, "past the limit", [&] {
        Statement s = a.Prepare(t, c.sql);
        if (s.HasCursor()) {
          s.Open().Fetch();
        } else {
          s.Execute();
        }
      });
    } catch (const Error& e) {
      failure = e.what();
    }
    const auto took = Clock::now() - start;
    EXPECT_EQ(failure, "past the limit");
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 5s);
    held.Rollback();
  }
}

// A limit that passes while the statement ends: whether the cancel came or not, a statement on
// a connection it did not fire for never fails, and with keeping on, a connection it fired for is
// never handed to a later attach (which would then fail for a cancel meant for another).
TEST(TimeLimit, ALateCancelNeverReachesALaterStatement) {
  KVO_REQUIRE_FIREBIRD();
  testing::TempDatabase db;
  KeepSettings keep;
  keep.enabled = true;
  keep.idleSeconds = 60;
  keep.maxSeconds = 60;
  SetKeepAttachments(keep);
  int fired = 0, quiet = 0;
  for (int i = 0; i < 300; ++i) {
    SCOPED_TRACE(i);
    Attachment a = Attachment::Open(db.connection(), db.params());
    Transaction t = a.StartTransaction();
    TimeLimit limit(a, std::chrono::microseconds(20 * (i % 100)));
    std::string failure;
    try {
      Statement s = a.Prepare(t, "select count(*) from rdb$relations");
      ResultSet rows = s.Open();
      while (rows.Fetch()) {
      }
    } catch (const Error& e) {
      failure = e.what();
    }
    limit.Disarm();
    if (limit.Fired()) {
      ++fired;
      a.CloseAfterFailure();
      continue;
    }
    ++quiet;
    EXPECT_EQ(failure, "");
    try {
      t.Commit();
      a.Close();
    } catch (const Error& e) {
      ADD_FAILURE() << "after a quiet limit: " << e.what();
    }
  }
  SetKeepAttachments(KeepSettings{});
  // Both sides of the race were run.
  EXPECT_GT(fired, 0);
  EXPECT_GT(quiet, 0);
}

}  // namespace
}  // namespace kvo::fb
