// Failures carry the client's own text; closing commits, abandoning rolls back.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "fb/fb.h"
#include "tests/support/fb_testdb.h"

namespace kvo::fb {
namespace {

using testing::ServerPath;
using testing::TempDatabase;

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    db_.emplace();
    db_->Execute("create table t (id integer)");
  }
  int Count() {
    Attachment a = db_->Attach();
    Transaction t = a.StartTransaction();
    ResultSet rs = a.Prepare(t, "select count(*) from t").Open();
    rs.Fetch();
    return static_cast<int>(rs.GetInt64(0));
  }
  std::optional<TempDatabase> db_;
};

TEST_F(ConnectionTest, FailuresCarryTheClientsText) {
  struct Case {
    const char* what;
    std::function<void()> run;
    std::string text;  // the start of the message
  };
  const std::string user = db_->user();
  const std::vector<Case> cases = {
      {"bad SQL",
       [&] {
         Attachment a = db_->Attach();
         Transaction t = a.StartTransaction();
         a.Prepare(t, "selct 1 from rdb$database");
       },
       "Dynamic SQL Error\n-SQL error code = -104\n-Token unknown - line 1, column 1\n-selct"},
      {"unknown table",
       [&] {
         Attachment a = db_->Attach();
         Transaction t = a.StartTransaction();
         a.Prepare(t, "select * from nada");
       },
       "Dynamic SQL Error\n-SQL error code = -204\n-Table unknown\n-NADA"},
      {"wrong password",
       [&] {
         Attachment::Open(db_->connection(), {"user_name=" + user, "password=wrong"});
       },
       "Your user name and password are not defined. Ask your database administrator to set up "
       "a Firebird login."},
      {"missing database",
       [&] { Attachment::Open(ServerPath(db_->path() + ".missing"), db_->params()); },
       "I/O error during \"open\" operation for file \"" + db_->path() + ".missing\""},
      {"no server", [&] { Attachment::Open("localhost/1:" + db_->path(), db_->params()); },
       "Unable to complete network request to host \"localhost\".\n-Failed to establish a "
       "connection."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string message = MessageOf(c.run);
    EXPECT_EQ(message.substr(0, c.text.size()), c.text) << message;
  }
  // The error codes come along: the main one first.
  try {
    Attachment::Open(db_->connection(), {"user_name=" + user, "password=wrong"});
  } catch (const Error& e) {
    ASSERT_FALSE(e.codes().empty());
    EXPECT_EQ(e.codes()[0], 335544472);  // isc_login
    EXPECT_EQ(e.kind(), "EIBInterBaseError");
  }
}

TEST_F(ConnectionTest, CloseCommitsAndAbandonRollsBack) {
  {
    Attachment a = db_->Attach();
    Transaction t = a.StartTransaction();
    a.ExecuteImmediate(t, "insert into t values (1)");
    a.Close();  // commits t
    EXPECT_FALSE(t.Active());
    EXPECT_FALSE(a.IsOpen());
  }
  EXPECT_EQ(Count(), 1);
  {
    Attachment a = db_->Attach();
    Transaction t = a.StartTransaction();
    a.ExecuteImmediate(t, "insert into t values (2)");
  }  // t goes first: rolled back
  EXPECT_EQ(Count(), 1);
  {
    Attachment a = db_->Attach();
    Transaction t = a.StartTransaction();
    a.ExecuteImmediate(t, "insert into t values (3)");
    t.Rollback();
    a.Close();
  }
  EXPECT_EQ(Count(), 1);
  {
    // An attachment destroyed before its transaction commits it, as Close() does.
    std::optional<Attachment> a(db_->Attach());
    Transaction t = a->StartTransaction();
    Transaction t2 = a->StartTransaction();
    a->ExecuteImmediate(t, "insert into t values (4)");
    a->ExecuteImmediate(t2, "insert into t values (5)");
    t2.Commit();
    a.reset();
    EXPECT_FALSE(t.Active());
    EXPECT_THROW(t.Commit(), Error);
  }
  EXPECT_EQ(Count(), 3);
}

TEST_F(ConnectionTest, ObjectsOutlivingTheirConnectionFailPlainly) {
  db_->Execute({"create table b (id integer, x blob sub_type text)",
                "insert into b values (1, 'one')", "insert into b values (2, 'two')",
                "insert into b values (3, 'three')", "create table n (v numeric(9, 2))"});
  std::optional<Attachment> a(db_->Attach());
  Transaction t = a->StartTransaction();
  Statement select = a->Prepare(t, "select id, x from b");
  Statement insert = a->Prepare(t, "insert into t values (?)");
  Statement numeric = a->Prepare(t, "select v from n");
  // A cursor on its first row, with more rows waiting in the client's buffer.
  ResultSet rows = select.Open();
  ASSERT_TRUE(rows.Fetch());
  a->Close();
  // What is already in hand stays readable.
  EXPECT_EQ(rows.GetInt64(0), 1);
  const std::string closedTransaction = "The transaction is not active";
  const std::string closedConnection = "The database connection is closed";
  const struct {
    const char* what;
    std::function<void()> operation;
    const std::string& message;
    bool again = true;  // tried again once the Attachment object is gone
  } kCases[] = {
      {"open", [&] { select.Open(); }, closedTransaction},
      {"execute",
       [&] {
         insert.Execute({Scaled{1, 0}});
       },
       closedTransaction},
      {"look up precisions", [&] { numeric.LookupPrecisions(t); }, closedConnection},
      {"read a blob of the current row",
       [&] {
         std::string out;
         rows.ReadBlob(1, out);
       },
       closedTransaction, false},
      {"fetch", [&] { rows.Fetch(); }, closedTransaction, false},
      {"commit", [&] { t.Commit(); }, closedTransaction},
      {"roll back", [&] { t.Rollback(); }, closedTransaction},
      {"start a transaction", [&] { a->StartTransaction(); }, closedConnection, false},
      {"prepare", [&] { a->Prepare(t, "select id from t"); }, closedConnection, false},
      {"execute immediate", [&] { a->ExecuteImmediate(t, "delete from t"); }, closedConnection,
       false},
  };
  for (const auto& c : kCases) EXPECT_EQ(MessageOf(c.operation), c.message) << c.what;
  // The failed fetch has closed the result set: it has no more rows, and closing is nothing.
  EXPECT_FALSE(rows.Fetch());
  EXPECT_NO_THROW(rows.Close());
  EXPECT_NO_THROW(a->Close());
  a.reset();
  for (const auto& c : kCases) {
    if (!c.again) continue;
    EXPECT_EQ(MessageOf(c.operation), c.message) << c.what << ", the attachment gone";
  }
}

}  // namespace
}  // namespace kvo::fb
