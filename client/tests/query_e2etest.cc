// The query component on both routes against the real stack: the same statement with the same
// parameters gives the same rows directly and through the server.
#include <gtest/gtest.h>

#include "client/tests/routes_fixture.h"
#include "kvo/client/kvo_client.h"
#include "tests/support/fb_testdb.h"

namespace kvo::client {
namespace {

class QueryRoutesTest : public testing::RoutesTest {
 protected:
  void SetUp() override {
    RoutesTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db_->Execute(std::vector<std::string>{
        "create table all_types (i integer, s smallint, b bigint, f double precision, "
        "n numeric(9,2), d date, tm time, ts timestamp, v varchar(20), c char(5), "
        "bo boolean, bl blob sub_type text)",
        "insert into all_types values (7, -3, 9007199254740993, 2.5, 12.50, '2024-02-29', "
        "'13:45:10', '2024-03-07 18:30:00', 'O''Brien', 'ab', true, 'memo text')",
        "insert into all_types values (8, 1, 1, 0.25, -0.05, '1999-12-31', '00:00:01', "
        "'2024-03-08 00:00:00', 'Jo\xE3o', 'x', false, null)",
        "insert into all_types (i) values (9)"});
  }

  static void SetParams(TTarvoIBQuery& q) {
    q.SQL().SetText(
        "select * from all_types\r\nwhere (i = :i and s = :s and b = :b and f = :f and n = :n "
        "and d = :d and tm = :tm and ts >= :ts and v = :v and c = :c and bo = :bo)\r\n"
        "or i > :I\r\norder by i");
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
    // The second marker of "i" (written :I) takes the first i's value on both routes: the
    // remote route replaces every marker of the name with the first parameter's literal, the
    // direct one binds the first parameter of the name.
    q.Params[11].SetAsInteger(100);
  }
};

TEST_F(QueryRoutesTest, SameRowsOnBothRoutes) {
  std::vector<std::vector<std::string>> results;
  std::vector<std::string> packets;
  for (int route = 0; route < 3; ++route) {
    RouteQuery r;
    Wire(r, route);
    TTarvoIBDatabase& db = r.db;
    TTarvoIBTransaction& tx = r.tx;
    TTarvoIBQuery& q = r.q;
    SetParams(q);
    q.OpenQuery();
    ASSERT_TRUE(q.Active()) << "route " << route;
    results.push_back(Rows(q));
    packets.push_back(q.XmlData());
    EXPECT_FALSE(tx.Active());
    EXPECT_EQ(db.Connected(), route == 0) << "the remote route does not connect the database";
  }
  ASSERT_EQ(results[0].size(), 3u) << "i > 7: the first value of i serves :I";
  EXPECT_EQ(results[0][0],
            "I=7;S=-3;B=9007199254740993;F=2.5;N=12.50;D=2024-02-29;TM=13:45:10;"
            "TS=2024-03-07 18:30:00;V=O'Brien;C=ab   ;BO=True;BL=memo text;");
  EXPECT_EQ(results[0][2],
            "I=9;S=NULL;B=NULL;F=NULL;N=NULL;D=NULL;TM=NULL;TS=NULL;V=NULL;C=NULL;BO=NULL;"
            "BL=NULL;");
  EXPECT_EQ(results[1], results[0]) << "XML answer";
  EXPECT_EQ(results[2], results[0]) << "compressed answer";
  EXPECT_EQ(packets[1], packets[0]);
  EXPECT_EQ(packets[2], packets[0]);
  EXPECT_TRUE(ui_.errors.empty());
}

TEST_F(QueryRoutesTest, AnErrorPageReachesTheCallerAndLeavesNoEarlierRows) {
  TTarvoIBDatabase db;
  Configure(db, true);
  TTarvoIBQuery q;
  q.Name = "Query1";
  q.Database = &db;
  q.SQL().SetText("select i from all_types where i = :i");
  q.Params[0].SetAsInteger(8);
  q.OpenQuery();
  ASSERT_EQ(q.RecordCount(), 1);
  q.SQL().SetText("select nope from all_types");
  try {
    q.OpenQuery();
    FAIL() << "the failure did not reach the caller";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("NOPE"), std::string::npos) << e.what();
  }
  ASSERT_EQ(ui_.errors.size(), 1u);
  EXPECT_NE(ui_.errors[0].find("NOPE"), std::string::npos);
  EXPECT_FALSE(q.Active());
  EXPECT_THROW(q.Open(), Error) << "the earlier rows stood for the failed statement";

  TTarvoIBQuery fresh;
  fresh.Name = "Query2";
  fresh.Database = &db;
  fresh.SQL().SetText("delete from all_types where i = 9");
  try {
    fresh.OpenQuery();
    FAIL() << "a statement without rows on the remote route leaves nothing to open";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Query2: Provedor de dados ou base de dados perdidos");
  }
}

}  // namespace
}  // namespace kvo::client
