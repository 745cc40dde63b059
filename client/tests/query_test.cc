// The query component without a database server: the marker rules, SQL change handling, and
// the remote route against a local recording server.
#include <gtest/gtest.h>

#include "client/tests/local_http_server.h"
#include "client/tests/recording_ui.h"
#include "kvo/client/tarvo_query.h"
#include "packet/packet.h"
#include "platform/error_page.h"

namespace kvo::client {
namespace {

std::vector<std::string> Names(const TParams& params) {
  std::vector<std::string> names;
  for (const TParam& p : params) names.push_back(p.Name);
  return names;
}

TEST(RebuildParamsTest, MarkerTable) {
  struct Case {
    const char* sql;
    std::vector<std::string> names;
  } cases[] = {
      {"select * from t where a = :x and b = :x", {"x", "x"}},
      {"select * from t where a = ':x' and b = \":y\" and c = `:z`", {"z"}},
      {"select a::integer, b from t where c = :c", {"c"}},
      {"where a=:a,b=:b;c=:c)d=:d\r\ne=:e\nf=:f", {"a", "b", "c", "d", "e", "f"}},
      {"where a = :a=1", {"a"}},  // a name is a word
      {"where d>:d and e<:e", {"d", "e"}},
      {"where n = :\"my name\" and m = :'x y'", {"my name"}},
      {"where n = :a'b c'd e", {"a"}},
      {"where it's :x", {}},  // an unclosed quote hides the rest
      {"where a = :", {}},
      {"::x :y", {"y"}},
      {":first", {"first"}},
      {"where a = :a -- it's :b\n and c = :c /* :d */", {"a", "c"}},
  };
  for (const Case& c : cases) {
    TTarvoIBQuery q;
    q.SQL().SetText(c.sql);
    EXPECT_EQ(Names(q.Params), c.names) << c.sql;
    for (const TParam& p : q.Params) {
      EXPECT_EQ(p.DataType, TFieldType::ftUnknown);
      EXPECT_EQ(p.ParamType, TParamType::ptUnknown);
      EXPECT_TRUE(p.IsNull());
    }
  }
}

TEST(QuerySqlTest, ChangesRebuildTheParameters) {
  TTarvoIBQuery q;
  EXPECT_TRUE(q.ReadOnly);
  q.SQL().Add("select * from t");
  q.SQL().Add("where id = :id");
  ASSERT_EQ(q.Params.Count(), 1u);
  q.Params[0].SetAsInteger(5);

  TStringList same{"select * from t", "where id = :id"};
  q.SetSQL(same);
  EXPECT_EQ(q.Params[0].AsString(), "5") << "the same text keeps the values";

  TStringList other{"select * from t", "where id = :id and :k = 1"};
  q.SetSQL(other);
  EXPECT_EQ(Names(q.Params), (std::vector<std::string>{"id", "k"}));
  EXPECT_TRUE(q.Params[0].IsNull()) << "a different text drops the values";
  EXPECT_EQ(q.SQL().Text(), "select * from t\r\nwhere id = :id and :k = 1\r\n");

  q.SQL().Clear();
  EXPECT_EQ(q.Params.Count(), 0u);
}

TEST(QueryTest, WithoutADatabaseOrTransaction) {
  TTarvoIBQuery q;
  q.Name = "Query1";
  q.SQL().SetText("select 1 from rdb$database");
  try {
    q.OpenQuery();
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Query1: No database assigned");
  }
  TIBDatabase db;
  q.Database = &db;
  try {
    q.OpenQuery();
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Query1: No transaction assigned");
  }
}

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?> ";

std::string XmlAnswer(int64_t value) {
  packet::Packet p({{"ID", "ID", packet::FieldType::I4, 0, 0, false, false}});
  p.AddRow();
  p.SetInt(0, value);
  return kDeclaration + packet::RenderXml(p);
}

TEST(QueryRemoteTest, SettingsComeFromTheDatabaseComponent) {
  std::string answer = XmlAnswer(1);
  testing::LocalHttpServer server([&](const testing::HttpRequest&) {
    return testing::HttpReply{"HTTP/1.1 200 OK", answer};
  });
  testing::RecordingUserInterface ui;
  TScopedUserInterface scope(ui);

  TTarvoIBDatabase db;
  db.UseRegProps = false;
  db.TarvoMultiTierProps().Active = true;
  db.TarvoMultiTierProps().URL = server.url() + "/kvo";
  db.TarvoMultiTierProps().WebServer = "kvowebserver.exe";
  db.TarvoMultiTierProps().ShowWait = true;
  db.DatabaseName = "srv:/d/x.fdb";
  db.Params.SetText("user_name=ANA\r\npassword=p w");
  TTarvoIBQuery q;
  q.Name = "Query1";
  q.Database = &db;     // not connected: the remote route does not need it
  q.Compressed = true;  // overwritten by the bag's value
  q.SQL().SetText("select id from t where id = :id");
  q.Params[0].SetAsInteger(1);
  q.OpenQuery();
  ASSERT_TRUE(q.Active());
  EXPECT_EQ(q.FieldByName("ID").AsInteger(), 1);
  EXPECT_FALSE(db.Connected());
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].requestLine, "POST /kvo/kvowebserver.exe/sql HTTP/1.1");
  EXPECT_EQ(requests[0].body,
            "z=false&db=srv%3A%2Fd%2Fx%2Efdb&u=ANA&p=p+w&q=select+id+from+t+where+id+%3D+1++&");
  EXPECT_EQ(ui.events, (std::vector<std::string>{"wait shown", "wait closed"}));

  // The server's error page: the box, then the failure itself; the earlier rows are gone.
  answer = platform::BuildErrorPage("boom");
  try {
    q.OpenQuery();
    FAIL() << "the failure did not reach the caller";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "boom");
  }
  EXPECT_EQ(ui.errors, std::vector<std::string>{"boom"});
  EXPECT_FALSE(q.Active());
  EXPECT_THROW(q.Open(), Error);
}

}  // namespace
}  // namespace kvo::client
