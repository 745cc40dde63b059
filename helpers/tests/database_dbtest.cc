// The module database component connects, hands out its unit of work and disconnects: what
// the work commits stays, what it leaves uncommitted is rolled back.
#include <gtest/gtest.h>

#include "helpers/database.h"
#include "tests/support/fb_testdb.h"

namespace kvo::helpers {
namespace {

using testing::TempDatabase;

TEST(DatabaseComponent, ConnectsAndDisconnects) {
  KVO_REQUIRE_FIREBIRD();
  TempDatabase db;
  db.Execute("create table t (id integer)");
  Database d;
  d.DatabaseName = db.connection();
  d.Params = {"user_name=" + db.user(), "password=" + db.password(), "lc_ctype=WIN1252",
              "unknown_thing=1"};
  EXPECT_FALSE(d.Connected());
  EXPECT_THROW(d.work(), kvo::Error);
  const auto count = [&] {
    fb::Attachment a = db.Attach();
    fb::Transaction check = a.StartTransaction();
    fb::ResultSet rs = a.Prepare(check, "select count(*) from t").Open();
    rs.Fetch();
    return rs.GetInt64(0);
  };
  d.Connect();
  EXPECT_TRUE(d.Connected());
  d.work().Prepare("insert into t values (9)").Execute();
  d.work().Commit();
  EXPECT_FALSE(d.Connected()) << "a committed work is done";
  d.Disconnect();
  EXPECT_EQ(count(), 1);
  d.Connect();
  d.work().Prepare("insert into t values (10)").Execute();
  d.Disconnect();
  EXPECT_FALSE(d.Connected());
  d.Disconnect();
  EXPECT_EQ(count(), 1) << "disconnecting without a commit rolled back";

  d.Params[1] = "password=wrong";
  EXPECT_THROW(d.Connect(), fb::Error);
  EXPECT_FALSE(d.Connected());
}

}  // namespace
}  // namespace kvo::helpers
