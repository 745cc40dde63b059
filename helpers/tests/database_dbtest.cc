// The module database component connects, hands out its attachment and disconnects.
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
  EXPECT_THROW(d.attachment(), kvo::Error);
  d.Connect();
  EXPECT_TRUE(d.Connected());
  fb::Transaction t = d.attachment().StartTransaction();
  d.attachment().ExecuteImmediate(t, "insert into t values (9)");
  d.Disconnect();
  EXPECT_FALSE(d.Connected());
  d.Disconnect();
  {
    // Disconnecting committed what was open.
    fb::Attachment a = db.Attach();
    fb::Transaction check = a.StartTransaction();
    fb::ResultSet rs = a.Prepare(check, "select count(*) from t").Open();
    ASSERT_TRUE(rs.Fetch());
    EXPECT_EQ(rs.GetInt64(0), 1);
  }

  d.Params[1] = "password=wrong";
  EXPECT_THROW(d.Connect(), fb::Error);
  EXPECT_FALSE(d.Connected());
}

}  // namespace
}  // namespace kvo::helpers
