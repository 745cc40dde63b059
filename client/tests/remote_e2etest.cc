// The client library against the real stack: kvowebserver under lighttpd on loopback, backed by
// the private Firebird server, and tinyproxy with Basic authentication.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "client/http_client.h"
#include "client/tests/direct_rows.h"
#include "client/tests/local_http_server.h"
#include "client/tests/routes_fixture.h"
#include "kvo/client/kvo_client.h"
#include "tests/support/fb_testdb.h"

namespace kvo::client {
namespace {

using testing::RecordingUserInterface;

class RemoteE2eTest : public testing::RoutesTest {
 protected:
  void SetUp() override {
    RoutesTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db_->Execute(
        {"create table t (id integer not null, name varchar(20), price numeric(9,2), "
         "born date)",
         "insert into t values (1, 'Jo\xE3o', 12.50, '1990-05-17')",
         "insert into t values (2, 'O''Brien', null, null)",
         "insert into t values (3, 'three', 0.05, '2024-02-29')"});
  }

  using RoutesTest::Configure;
  void Configure(TKVOAppDataSet& ds) {
    ds.URL = url_;
    ds.DataBaseName = db_->connection();
    ds.User = db_->user();
    ds.Password = db_->password();
  }

  static void ExpectRows(TKVOAppDataSet& ds) {
    ASSERT_TRUE(ds.Active());
    ASSERT_EQ(ds.RecordCount(), 2);
    EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 1);
    EXPECT_EQ(ds.FieldByName("NAME").AsString(), "Jo\xE3o");
    EXPECT_EQ(ds.FieldByName("PRICE").AsString(), "12.50");
    EXPECT_EQ(ds.FieldByName("BORN").AsDateTime().Date, (TDate{1990, 5, 17}));
    ds.Next();
    EXPECT_EQ(ds.FieldByName("NAME").AsString(), "O'Brien");
    EXPECT_TRUE(ds.FieldByName("PRICE").IsNull());
  }
};

TEST_F(RemoteE2eTest, XmlAndCompressedSelects) {
  for (bool compressed : {false, true}) {
    TKVOAppDataSet ds;
    Configure(ds);
    ds.Compressed = compressed;
    ds.Params.CreateParam(TFieldType::ftInteger, "max", TParamType::ptInput).SetValue(int64_t{2});
    ds.Params.CreateParam(TFieldType::ftString, "none", TParamType::ptInput)
        .SetValue(std::string("x'y"));
    ds.RunRemote(
        "select id, name, price, born from t\r\nwhere id <= :max and name <> :none\r\n"
        "order by id",
        true);
    SCOPED_TRACE(compressed ? "compressed" : "xml");
    ExpectRows(ds);
    EXPECT_EQ(ui_.events, (std::vector<std::string>{"wait shown", "wait closed"}));
    ui_.events.clear();
  }
  EXPECT_TRUE(ui_.errors.empty());
}

TEST_F(RemoteE2eTest, DatesAndEmptyResults) {
  TKVOAppDataSet ds;
  Configure(ds);
  TParam& d = ds.Params.CreateParam(TFieldType::ftDateTime, "d", TParamType::ptInput);
  d.SetValue(TDateTime{{2024, 2, 29}, {}});
  ds.RunRemote("select id from t where born = :d", false);
  ASSERT_TRUE(ds.Active());
  ASSERT_EQ(ds.RecordCount(), 1);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  // A time of day is not dropped to fit a DATE: the server refuses the value.
  d.SetValue(TDateTime{{2024, 2, 29}, {18, 30, 0, 0}});
  EXPECT_THROW(ds.RunRemote("select id from t where born = :d", false), Error);
  ui_.errors.clear();

  ds.Compressed = true;
  ds.RunRemote("select id, name from t where id < 0", false);
  ASSERT_TRUE(ds.Active());
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.FieldCount(), 2u);
}

TEST_F(RemoteE2eTest, StatementsThatAreNoSelect) {
  TKVOAppDataSet ds;
  Configure(ds);
  ds.Compressed = true;
  ds.RunRemote("select id from t where id = 1", false);
  ds.Params.CreateParam(TFieldType::ftFloat, "p", TParamType::ptInput).SetValue(7.125);
  ds.RunRemote("insert into t (id, name, price) values (4, 'four', :p)", false);
  EXPECT_FALSE(ds.Active());
  ds.Open();  // the packet of the select before
  EXPECT_EQ(ds.RecordCount(), 1);

  TKVOAppDataSet check;
  Configure(check);
  check.RunRemote("select price from t where id = 4", false);
  ASSERT_EQ(check.RecordCount(), 1);
  EXPECT_EQ(check.FieldByName("PRICE").AsString(), "7.13");  // numeric(9,2) rounds 7.1250
  EXPECT_TRUE(ui_.errors.empty());
}

TEST_F(RemoteE2eTest, TheServerErrorPage) {
  TKVOAppDataSet ds;
  Configure(ds);
  EXPECT_THROW(ds.RunRemote("select nope from t", true), Error);
  EXPECT_FALSE(ds.Active());
  ASSERT_EQ(ui_.errors.size(), 1u);
  EXPECT_NE(ui_.errors[0].find("NOPE"), std::string::npos) << ui_.errors[0];
  EXPECT_EQ(ui_.errors[0].find("<"), std::string::npos) << "only the message: " << ui_.errors[0];

  ds.Password = "wrong";
  EXPECT_THROW(ds.RunRemote("select id from t", false), Error);
  ASSERT_EQ(ui_.errors.size(), 2u);
  EXPECT_NE(ui_.errors[1].find("password"), std::string::npos) << ui_.errors[1];

  ds.Compressed = true;
  try {
    ds.RunRemote("select id from t", false);
    FAIL() << "a compressed select answered by the error page";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Error");
  }
  EXPECT_EQ(ui_.errors.size(), 2u);
}

TEST_F(RemoteE2eTest, AnXmlAnswerThatFailsToLoad) {
  // A middlebox that passes the request on to the real server and cuts the answer short.
  testing::LocalHttpServer cutter([&](const testing::HttpRequest& r) {
    std::string path = r.requestLine.substr(5, r.requestLine.rfind(' ') - 5);
    detail::HttpClient http;
    std::string answer = http.Post(url_ + path, r.body);
    return testing::HttpReply{"HTTP/1.1 200 OK", answer.substr(0, answer.size() / 2)};
  });
  TKVOAppDataSet ds;
  Configure(ds);
  ds.RunRemote("select id from t", false);
  ASSERT_TRUE(ds.Active());
  ds.URL = cutter.url();
  EXPECT_THROW(ds.RunRemote("select id from t", false), Error);
  EXPECT_FALSE(ds.Active());
  ASSERT_EQ(ui_.errors.size(), 1u);
  EXPECT_TRUE(ui_.errors[0].ends_with("\r\r")) << ui_.errors[0];
  EXPECT_THROW(ds.Open(), Error) << "the good packet stood for the failed exchange";
}

TEST_F(RemoteE2eTest, HttpFailures) {
  TKVOAppDataSet ds;
  Configure(ds);
  ds.WebServer = "missing.dll";
  try {
    ds.RunRemote("select id from t", true);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "HTTP/1.1 404 Not Found");
  }
  std::string refused;
  {
    testing::LocalHttpServer gone([](const testing::HttpRequest&) { return testing::HttpReply{}; });
    refused = gone.url();
  }
  ds.URL = refused;
  ds.WebServer = "ikvowebserver.dll";
  try {
    ds.RunRemote("select id from t", true);
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("Couldn't connect to server"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(ui_.events,
            (std::vector<std::string>{"wait shown", "wait closed", "wait shown", "wait closed"}));
}

TEST_F(RemoteE2eTest, TheLoginCheck) {
  TTarvoIBDatabase good;
  Configure(good, true);
  good.AlwaysConnected = true;
  good.SetConnected(true);
  EXPECT_TRUE(good.Connected());

  TTarvoIBDatabase refused;
  Configure(refused, true);
  refused.AlwaysConnected = true;
  refused.Params.SetValue("password", "wrong");
  refused.SetConnected(true);
  EXPECT_FALSE(refused.Connected());
  EXPECT_EQ(ui_.errors, std::vector<std::string>{"N\xE3o foi poss\xEDvel conectar. "
                                                 "Usu\xE1rio/Senha inv\xE1lidos\rfalse"});

  // Both server program names reach the same server.
  TTarvoIBDatabase exe;
  Configure(exe, true);
  exe.AlwaysConnected = true;
  exe.TarvoMultiTierProps().WebServer = "kvowebserver.exe";
  exe.SetConnected(true);
  EXPECT_TRUE(exe.Connected());
}

TEST_F(RemoteE2eTest, SettingsFromTheClientSettingsFile) {
  testing::TempDir drives;
  testing::WriteFile(drives.path() + "/C/KVO/Bin/KVO.ini",
                     "[General]\r\nWebServerActive=1\r\nURLBase=" + url_ + "\r\n");
  std::optional<std::string> saved = testing::Env("KVO_DRIVES");
  setenv("KVO_DRIVES", drives.path().c_str(), 1);
  TTarvoIBDatabase db;
  db.DatabaseName = db_->connection();
  db.Params.Add("user_name=" + db_->user());
  db.Params.Add("password=wrong");
  db.AlwaysConnected = true;
  db.SetConnected(true);
  if (saved) {
    setenv("KVO_DRIVES", saved->c_str(), 1);
  } else {
    unsetenv("KVO_DRIVES");
  }
  EXPECT_TRUE(db.TarvoMultiTierProps().Active);
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(ui_.errors.size(), 1u);
}

// Rows of `sql` read straight from the database (not through the library), each value as text
// and NULL as "NULL"; doubles as their exact bits in hexadecimal.
using testing::DirectRows;

TEST_F(RemoteE2eTest, CommentsAndLineBreaksKeepTheirMeaning) {
  TKVOAppDataSet ds;
  Configure(ds);
  ds.RunRemote("delete from t -- only one row\r\nwhere id = 1", false);
  ds.RunRemote("insert into t (id, name) values (7, 'line1\r\nline2') -- seven\n", false);
  EXPECT_EQ(DirectRows(*db_, "select id, name from t order by id"),
            (std::vector<std::string>{"2|O'Brien", "3|three", "7|line1\r\nline2"}));
  EXPECT_TRUE(ui_.errors.empty()) << ui_.errors[0];
}

TEST_F(RemoteE2eTest, ParametersArriveAsTheDirectRouteBindsThem) {
  db_->Execute("create table f (id integer, d double precision, s varchar(10), n integer)");
  const double values[] = {0.1,
                           1e-5,
                           1e15,
                           6663333333333.334,
                           2.5,
                           -1234.0625,
                           1.0 / 3,
                           1e300,
                           5e-324,
                           1.7976931348623157e308,
                           -2.2250738585072014e-308,
                           123456789.123456789,
                           0.30000000000000004,
                           99999999999999.9375};
  std::vector<std::string> expected;
  int id = 0;
  for (double v : values) {
    TKVOAppDataSet ds;
    Configure(ds);
    ds.Params.CreateParam(TFieldType::ftInteger, "id", TParamType::ptInput).SetValue(int64_t{++id});
    ds.Params.CreateParam(TFieldType::ftFloat, "d", TParamType::ptInput).SetValue(v);
    ds.RunRemote("insert into f (id, d) values (:id, :d)", false);
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    char hex[20];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(bits));
    expected.push_back(std::to_string(id) + "|" + hex + "|NULL|NULL");
  }
  // NULL of each type, and a parameter never given a value, are NULL, not '' or 0.
  TKVOAppDataSet nulls;
  Configure(nulls);
  nulls.Params.CreateParam(TFieldType::ftInteger, "id", TParamType::ptInput).SetValue(int64_t{99});
  nulls.Params.CreateParam(TFieldType::ftFloat, "d", TParamType::ptInput).SetValue(TNull{});
  nulls.Params.CreateParam(TFieldType::ftString, "s", TParamType::ptInput).SetValue(TNull{});
  nulls.Params.CreateParam(TFieldType::ftUnknown, "n", TParamType::ptUnknown);
  nulls.RunRemote("insert into f (id, d, s, n) values (:id, :d, :s, :n)", false);
  expected.push_back("99|NULL|NULL|NULL");
  EXPECT_TRUE(ui_.errors.empty()) << ui_.errors[0];
  EXPECT_EQ(DirectRows(*db_, "select id, d, s, n from f order by id"), expected);
}

// Both routes give the same Windows-1252 text when the caller names no character set; a set
// the caller names is the direct route's connection set, used as is.
TEST_F(RemoteE2eTest, TextInTheCallersCharacterSet) {
  db_->Execute(
      {"create table u (id integer, v varchar(10) character set utf8, "
       "c char(10) character set utf8)",
       "insert into u values (1, _UTF8 'a\xC3\xA7\xC3\xA3o\xE2\x82\xAC', _UTF8 'ab')",
       "insert into u values (2, _UTF8 '\xC5\xBC\xC3\xB3\xC5\x82w', null)"});
  auto read = [&](bool remote, const char* charSet, const char* sql) {
    TTarvoIBDatabase db;
    Configure(db, true);
    db.TarvoMultiTierProps().Active = remote;
    if (charSet) db.Params.Add(std::string("lc_ctype=") + charSet);
    TTarvoIBTransaction tx;
    tx.DefaultDatabase = &db;
    TTarvoIBQuery q;
    q.Database = &db;
    q.Transaction = &tx;
    q.SQL().SetText(sql);
    q.OpenQuery();
    std::vector<std::string> rows;
    for (q.First(); !q.Eof(); q.Next())
      rows.push_back(q.FieldByName("V").AsString() + "|" + q.FieldByName("C").AsString());
    return rows;
  };
  // A character the code page lacks is "?", a CHAR(10) ten characters.
  const std::vector<std::string> cp1252 = {"a\xE7\xE3o\x80|ab        ", "?\xF3?w|"};
  EXPECT_EQ(read(false, nullptr, "select v, c from u order by id"), cp1252);
  EXPECT_EQ(read(true, nullptr, "select v, c from u order by id"), cp1252);
  // UTF8 named: UTF-8 text, and a CHAR(10) of UTF8 is 40 bytes wide, as Firebird gives it.
  EXPECT_EQ(read(false, "UTF8", "select v, c from u order by id"),
            (std::vector<std::string>{"a\xC3\xA7\xC3\xA3o\xE2\x82\xAC|ab" + std::string(38, ' '),
                                      "\xC5\xBC\xC3\xB3\xC5\x82w|"}));

  // Writes on the direct route without a character set: a Windows-1252 literal and parameter
  // reach the UTF8 column converted, and both routes read them back.
  TTarvoIBDatabase db;
  Configure(db, true);
  db.TarvoMultiTierProps().Active = false;
  TTarvoIBTransaction tx;
  tx.DefaultDatabase = &db;
  db.SetConnected(true);
  TIBClientDataSet write;
  write.DBConnection = &db;
  write.DBTransaction = &tx;
  write.CommandText = "insert into u (id, v, c) values (3, 'a\xE7\xE3o\x80', :c)";
  write.Params.CreateParam(TFieldType::ftString, "c", TParamType::ptInput)
      .SetValue(std::string("p\xE3o"));
  write.Execute();
  tx.Commit();
  const std::vector<std::string> written = {"a\xE7\xE3o\x80|p\xE3o       "};
  EXPECT_EQ(read(false, nullptr, "select v, c from u where id = 3"), written);
  EXPECT_EQ(read(true, nullptr, "select v, c from u where id = 3"), written);
  EXPECT_EQ(read(false, "UTF8", "select v, c from u where id = 3"),
            (std::vector<std::string>{"a\xC3\xA7\xC3\xA3o\xE2\x82\xAC|p\xC3\xA3o" +
                                      std::string(36, ' ')}));
  EXPECT_TRUE(ui_.errors.empty()) << ui_.errors[0];
}

class ProxyE2eTest : public RemoteE2eTest {
 protected:
  void SetUp() override {
    RemoteE2eTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    KVO_REQUIRE_ENV(host, "KVO_PROXY_HOST");
    KVO_REQUIRE_ENV(port, "KVO_PROXY_PORT");
    KVO_REQUIRE_ENV(user, "KVO_PROXY_USER");
    KVO_REQUIRE_ENV(pass, "KVO_PROXY_PASS");
    host_ = host;
    port_ = std::stoi(port);
    user_ = user;
    pass_ = pass;
  }
  std::string host_, user_, pass_;
  int port_ = 0;
};

TEST_F(ProxyE2eTest, ThroughTheProxyWithBasicAuthentication) {
  TKVOAppDataSet ds;
  Configure(ds);
  ds.UseProxy = true;
  ds.ProxyHost = host_;
  ds.ProxyPort = port_;
  ds.ProxyUser = user_;
  ds.ProxyPass = pass_;
  for (bool compressed : {false, true}) {
    ds.Compressed = compressed;
    ds.RunRemote("select id, name, price, born from t where id < 3 order by id", false);
    ExpectRows(ds);
  }

  ds.ProxyUser = "";
  try {
    ds.RunRemote("select id from t", false);
    FAIL() << "the proxy let a request without credentials through";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(" 407 "), std::string::npos) << e.what();
  }
  ds.ProxyUser = user_;
  ds.ProxyPass = "wrong";
  EXPECT_THROW(ds.RunRemote("select id from t", false), Error);
  EXPECT_TRUE(ui_.errors.empty());
}

TEST_F(ProxyE2eTest, TheLoginCheckBypassesTheProxy) {
  TTarvoIBDatabase db;
  Configure(db, true);
  db.AlwaysConnected = true;
  // A proxy that would refuse the request (no credentials) is never asked.
  db.TarvoMultiTierProps().UseProxy = true;
  db.TarvoMultiTierProps().ProxyHost = host_;
  db.TarvoMultiTierProps().ProxyPort = port_;
  db.SetConnected(true);
  EXPECT_TRUE(db.Connected());
  EXPECT_TRUE(ui_.errors.empty());
}

}  // namespace
}  // namespace kvo::client
