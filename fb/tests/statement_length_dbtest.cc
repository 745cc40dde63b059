// Statements at Firebird's length limit: what the layer lets through, the server prepares;
// what it refuses never reaches the server.
#include <gtest/gtest.h>

#include "fb/fb.h"
#include "tests/support/fb_testdb.h"

namespace kvo::fb {
namespace {

// "insert ..." padded with blanks to `bytes`, then `tail`.
std::string Padded(size_t bytes, const std::string& tail) {
  std::string sql = "insert into t values (1)";
  sql.resize(bytes, ' ');
  return sql + tail;
}

TEST(StatementLength, TheServerTakesWhatTheLayerLetsThrough) {
  KVO_REQUIRE_FIREBIRD();
  testing::TempDatabase db;
  db.Execute("create table t (id integer)");
  Attachment a = db.Attach();
  {
    Transaction t = a.StartTransaction();
    for (std::string tail : {"", ";", ";  "}) {
      SCOPED_TRACE("tail \"" + tail + "\"");
      a.Prepare(t, Padded(kMaxStatementBytes, tail)).Execute();
    }
    a.ExecuteImmediate(t, Padded(kMaxStatementBytes, ""));
    t.Commit();
  }
  const std::string refused =
      "Dynamic SQL Error\n-SQL error code = -902\n-Implementation limit exceeded\n"
      "-SQL statement is too long. Maximum size is 10485760 bytes.";
  Transaction t = a.StartTransaction();
  for (std::string tail : {" ", ";;"}) {
    SCOPED_TRACE("tail \"" + tail + "\"");
    try {
      a.Prepare(t, Padded(kMaxStatementBytes, tail));
      ADD_FAILURE() << "prepared";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), refused);
    }
  }
  try {
    a.ExecuteImmediate(t, Padded(50 << 20, ""));
    ADD_FAILURE() << "executed";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), refused);
  }
  ResultSet rs = a.Prepare(t, "select count(*) from t").Open();
  ASSERT_TRUE(rs.Fetch());
  EXPECT_EQ(rs.GetInt64(0), 4);
}

}  // namespace
}  // namespace kvo::fb
