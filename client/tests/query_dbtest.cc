// The direct route on the private Firebird server: the database and transaction components,
// the query's direct data set with typed parameters, the commit rules and the failures.
#include <gtest/gtest.h>

#include "kvo/client/kvo_client.h"
#include "tests/support/fb_testdb.h"

namespace kvo::client {
namespace {

class DirectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    const char* drives = getenv("KVO_DRIVES");
    if (drives) savedDrives_ = drives;
    // No client settings file: the database components stay in direct mode.
    setenv("KVO_DRIVES", emptyDrives_.path().c_str(), 1);
    db_ = std::make_unique<testing::TempDatabase>();
    db_->Execute({"create table t (id integer not null, name varchar(20), price numeric(9,2))",
                  "insert into t values (1, 'one', 1.50)",
                  "insert into t values (2, 'two', null)"});
  }
  void TearDown() override {
    if (savedDrives_) {
      setenv("KVO_DRIVES", savedDrives_->c_str(), 1);
    } else {
      unsetenv("KVO_DRIVES");
    }
  }
  void Configure(TIBDatabase& db) {
    db.DatabaseName = db_->connection();
    db.Params.Add("user_name=" + db_->user());
    db.Params.Add("password=" + db_->password());
  }

  testing::TempDir emptyDrives_;
  std::optional<std::string> savedDrives_;
  std::unique_ptr<testing::TempDatabase> db_;
};

TEST_F(DirectTest, DatabaseAndTransaction) {
  TTarvoIBDatabase db;
  db.TarvoMultiTierProps().Active = true;  // LoadSettings turns it off: no settings file
  Configure(db);
  TIBTransaction tx;
  tx.DefaultDatabase = &db;
  db.SetConnected(true);
  EXPECT_FALSE(db.TarvoMultiTierProps().Active);
  EXPECT_TRUE(db.Connected());
  EXPECT_TRUE(db.Attached());
  tx.SetActive(true);
  EXPECT_TRUE(tx.Active());
  tx.Commit();
  EXPECT_FALSE(tx.Active());
  tx.StartTransaction();
  db.SetConnected(false);  // commits what is open
  EXPECT_FALSE(tx.InTransaction());
  EXPECT_FALSE(db.Connected());

  TIBDatabase wrong;
  Configure(wrong);
  wrong.Params.SetValue("password", "wrong");
  try {
    wrong.SetConnected(true);
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("password"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(wrong.Connected());
}

TEST_F(DirectTest, TarvoTransactionConnectsItsDatabase) {
  TTarvoIBDatabase db;
  Configure(db);
  TTarvoIBTransaction tx;
  tx.DefaultDatabase = &db;
  tx.SetActive(false);
  EXPECT_TRUE(db.Connected());
  EXPECT_FALSE(tx.Active());
  tx.SetActive(true);
  EXPECT_TRUE(tx.Active());
  tx.SetActive(false);  // rolls back
  EXPECT_FALSE(tx.Active());
}

TEST_F(DirectTest, QueryWithTypedParameters) {
  db_->Execute(std::vector<std::string>{
      "create table all_types (i integer, s smallint, b bigint, f double precision, "
      "n numeric(9,2), d date, tm time, ts timestamp, v varchar(20), c char(5), "
      "bo boolean, bl blob sub_type text)",
      "insert into all_types values (7, -3, 9007199254740993, 2.5, 12.50, "
      "'2024-02-29', '13:45:10', '2024-03-07 18:30:00', 'O''Brien', 'ab', true, "
      "'memo text')"});
  TTarvoIBDatabase db;
  Configure(db);
  TTarvoIBTransaction tx;
  tx.DefaultDatabase = &db;
  TTarvoIBQuery q;
  q.Database = &db;
  q.Transaction = &tx;
  q.SQL().SetText(
      "select * from all_types\r\nwhere i = :i and s = :s and b = :b and f = :f and n = :n "
      "and d = :d and tm = :tm and ts >= :ts and v = :v and c = :c and bo = :bo and i = :I");
  ASSERT_EQ(q.Params.Count(), 12u);
  q.Params.ParamByName("i").SetAsInteger(7);
  q.Params.ParamByName("s").SetAsSmallInt(-3);
  q.Params.ParamByName("b").SetAsLargeInt(9007199254740993);
  q.Params.ParamByName("f").SetAsFloat(2.5);
  TParam& n = q.Params.ParamByName("n");
  n.DataType = TFieldType::ftBCD;
  n.SetValue(std::string("12.50"));
  q.Params.ParamByName("d").SetAsDate({2024, 2, 29});
  q.Params.ParamByName("tm").SetAsTime({13, 45, 10, 0});
  q.Params.ParamByName("ts").SetAsDateTime({{2024, 3, 7}, {0, 0, 0, 0}});
  q.Params.ParamByName("v").SetAsString("O'Brien");
  q.Params.ParamByName("c").SetAsString("ab");
  q.Params.ParamByName("bo").SetAsBoolean(true);
  q.OpenQuery();
  ASSERT_TRUE(q.Active());
  ASSERT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.FieldByName("B").AsLargeInt(), 9007199254740993);
  EXPECT_EQ(q.FieldByName("N").AsString(), "12.50");
  EXPECT_EQ(q.FieldByName("C").AsString(), "ab   ");
  EXPECT_EQ(q.FieldByName("BL").AsString(), "memo text");
  EXPECT_EQ(q.FieldByName("TS").AsString(), "2024-03-07 18:30:00");
  // Committed and inactive afterwards; the direct data set is closed.
  EXPECT_FALSE(tx.Active());
  EXPECT_FALSE(q.DirectDataSet().Active());
  EXPECT_TRUE(q.ReadOnly);

  // Closing keeps the rows; a second open reruns the statement.
  q.Close();
  q.Open();
  EXPECT_EQ(q.RecordCount(), 1);
  q.Params.ParamByName("i").SetAsInteger(8);
  q.OpenQuery();
  EXPECT_TRUE(q.IsEmpty());
}

TEST_F(DirectTest, QueryRouteAndFailures) {
  // A plain TIBDatabase always takes the direct route, connected on demand.
  TIBDatabase db;
  Configure(db);
  TIBTransaction tx;
  tx.DefaultDatabase = &db;
  TTarvoIBQuery q;
  q.Name = "Query1";
  q.Database = &db;
  q.Transaction = &tx;
  q.SQL().SetText("select id, name from t where price is null or id = :id order by id");
  q.Params[0].SetAsInteger(1);
  q.OpenQuery();
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(q.RecordCount(), 2);

  // A statement error propagates; a transaction started by the open stays active.
  q.SQL().SetText("select nope from t");
  try {
    q.OpenQuery();
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("NOPE"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(tx.Active());
  tx.Rollback();

  q.SQL().SetText("update t set name = 'x' where id = :id");
  q.Params[0].SetAsInteger(1);
  try {
    q.OpenQuery();
    FAIL();
  } catch (const ENoResultSet& e) {  // by type: kvoclient runs such a statement instead
    EXPECT_STREQ(e.what(), "The statement returns no result set");
  }
  tx.Rollback();

  q.SQL().SetText("select id from t where id = :id");
  q.Params[0].DataType = TFieldType::ftInteger;
  q.Params[0].SetValue(std::string("two"));
  EXPECT_THROW(q.OpenQuery(), Error);
}

TEST_F(DirectTest, FieldReferencesLiveUntilTheStatementChanges) {
  TTarvoIBDatabase db;
  Configure(db);
  TTarvoIBTransaction tx;
  tx.DefaultDatabase = &db;
  TTarvoIBQuery q;
  q.Database = &db;
  q.Transaction = &tx;
  q.SQL().SetText("select id, name from t where id = :id");
  q.Params[0].SetAsInteger(1);
  q.OpenQuery();
  TField& name = q.FieldByName("NAME");
  EXPECT_EQ(name.AsString(), "one");
  for (int id : {2, 1}) {
    q.Close();
    q.Params[0].SetAsInteger(id);
    q.OpenQuery();  // the same statement again: the same field objects
    EXPECT_EQ(&q.FieldByName("NAME"), &name);
    EXPECT_EQ(name.AsString(), id == 1 ? "one" : "two");
  }
  // A statement with other columns: the old reference is refused, not read after free.
  q.SQL().SetText("select price, id from t where id = 1");
  q.OpenQuery();
  EXPECT_EQ(q.FieldByName("PRICE").AsString(), "1.50");
  EXPECT_THROW(name.AsString(), Error);
}

TEST_F(DirectTest, StatementsWithoutRowsRunAsWritten) {
  TTarvoIBDatabase db;
  Configure(db);
  TTarvoIBTransaction tx;
  tx.DefaultDatabase = &db;
  TIBClientDataSet direct;
  direct.DBConnection = &db;
  direct.DBTransaction = &tx;
  db.SetConnected(true);
  direct.CommandText = "delete from t -- only one row\r\nwhere id = :id";
  direct.Params.CreateParam(TFieldType::ftInteger, "id", TParamType::ptInput).SetValue(int64_t{1});
  direct.Execute();
  tx.Commit();
  direct.CommandText = "insert into t (id, name) values (:id, 'a\r\nb') -- five";
  direct.Params[0].SetValue(int64_t{5});
  direct.Execute();
  tx.Commit();

  TTarvoIBQuery q;
  q.Database = &db;
  q.Transaction = &tx;
  q.SQL().SetText("select id, name from t order by id");
  q.OpenQuery();
  std::vector<std::string> rows;
  for (q.First(); !q.Eof(); q.Next()) {
    rows.push_back(q.FieldByName("ID").AsString() + "|" + q.FieldByName("NAME").AsString());
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"2|two", "5|a\r\nb"}));
}

}  // namespace
}  // namespace kvo::client
