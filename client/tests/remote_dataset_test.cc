// The /sql exchange of TKVOAppDataSet against a local test server that records each request:
// the request on the wire, each kind of answer, the proxy, the wait window and the failures.
#include <gtest/gtest.h>

#include "client/tests/local_http_server.h"
#include "client/tests/recording_ui.h"
#include "kvo/client/kvo_app_dataset.h"
#include "packet/compress.h"
#include "packet/packet.h"
#include "platform/error_page.h"

namespace kvo::client {
namespace {

using testing::HttpReply;
using testing::HttpRequest;
using testing::LocalHttpServer;
using testing::RecordingUserInterface;

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?> ";

packet::Packet OneColumn(int64_t value) {
  packet::Packet p({{"ID", "ID", packet::FieldType::I4, 0, 0, false, false}});
  p.AddRow();
  p.SetInt(0, value);
  return p;
}

std::string XmlAnswer(int64_t value) {
  return kDeclaration + packet::RenderXml(OneColumn(value));
}

std::string CompressedAnswer(int64_t value) {
  platform::MemoryStream raw(packet::RenderBinary(OneColumn(value))), out;
  packet::CompressStream(raw, out);
  return out.Bytes();
}

// A server that answers every request with `body`.
LocalHttpServer::Handler Answer(std::string body, std::string status = "HTTP/1.1 200 OK") {
  return [body, status](const HttpRequest&) { return HttpReply{status, body}; };
}

struct Fixture : ::testing::Test {
  RecordingUserInterface ui;
  TScopedUserInterface scope{ui};
  void Configure(TKVOAppDataSet& ds, const std::string& url) {
    ds.URL = url;
    ds.DataBaseName = "localhost:/d/x.fdb";
    ds.User = "SYSDBA";
    ds.Password = "";
  }
};

using RemoteDataSetTest = Fixture;

TEST_F(RemoteDataSetTest, TheRequestOnTheWire) {
  LocalHttpServer server(Answer(XmlAnswer(1)));
  TKVOAppDataSet ds;
  Configure(ds, server.url() + "/kvo/");  // a trailing "/" doubles the slash
  ds.Params.CreateParam(TFieldType::ftInteger, "id", TParamType::ptInput).SetValue(int64_t{5});
  ds.RunRemote("select * from t\r\nwhere id=:id", false);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].requestLine, "POST /kvo//ikvowebserver.dll/sql HTTP/1.1");
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(requests[0].Header("Expect"), "");
  EXPECT_EQ(requests[0].Header("Proxy-Authorization"), "");
  EXPECT_EQ(requests[0].body,
            "z=false&db=localhost%3A%2Fd%2Fx%2Efdb&u=SYSDBA&p=&"
            "q=select+%2A+from+t++where+id%3D5&");
  ASSERT_TRUE(ds.Active());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 1);
  EXPECT_TRUE(ui.errors.empty());
}

// A statement longer than Firebird takes, counted after the parameters are written in, is
// refused without being posted: with the server's own message when its text is too long, with
// one naming the parameter and the limit when a value made it so.
TEST_F(RemoteDataSetTest, StatementTooLongIsNeverPosted) {
  const std::string server =
      "Dynamic SQL Error\n-SQL error code = -902\n-Implementation limit exceeded\n"
      "-SQL statement is too long. Maximum size is 10485760 bytes.";
  const std::string named =
      "Parameter 'v' is too long: written into the statement its value takes 10487760 bytes, "
      "and a statement may hold at most 10485760 bytes; nothing was sent";
  std::string atLimit = "update t set a = 1";
  atLimit.resize(10485760, ' ');
  struct Case {
    std::string sql;
    std::string param;    // the value of :v when not empty
    std::string message;  // empty when posted
  } cases[] = {
      {atLimit, "", ""},
      {atLimit + ";", "", ""},
      {atLimit + "x", "", server},
      {"update t set a = :v", std::string(10485760, 'a'), named},
      {"update t set a = :w, b = :v", std::string(10485760, 'a'), named},
      {"update t set a = :v where id = 1", std::string(10400000, 'a'), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql.size());
    LocalHttpServer http(Answer(""));
    TKVOAppDataSet ds;
    Configure(ds, http.url());
    if (!c.param.empty()) {
      ds.Params.CreateParam(TFieldType::ftString, "v", TParamType::ptInput).SetValue(c.param);
      ds.Params.CreateParam(TFieldType::ftInteger, "w", TParamType::ptInput).SetValue(int64_t{1});
    }
    ui.errors.clear();
    ui.events.clear();
    std::string thrown;
    try {
      ds.RunRemote(c.sql, true);
    } catch (const Error& e) {
      thrown = e.what();
    }
    const bool posted = c.message.empty();
    EXPECT_EQ(thrown, c.message);
    EXPECT_EQ(http.requests().size(), posted ? 1u : 0u);
    EXPECT_EQ(ui.errors, posted ? std::vector<std::string>{} : std::vector<std::string>{c.message});
    EXPECT_EQ(ui.events, (std::vector<std::string>{"wait shown", "wait closed"}));
  }
}

TEST_F(RemoteDataSetTest, WhatCountsAsASelect) {
  struct Case {
    const char* sql;
    bool compressed;
    const char* bodyStart;
    bool loads;
  } cases[] = {
      {"select * from t", true, "z=true&db=", true},
      {"  SELECT id FROM t", true, "z=true&db=", true},
      {"\r\n\tselect id from t", true, "z=true&db=", true},
      {"select\r\nid from t", true, "z=true&db=", true},  // the line break becomes a blank
      {"update t set a = 1", true, "z=false&db=", false},
      {"execute procedure p", true, "z=false&db=", false},
      {"select * from t", false, "z=false&db=", true},
      // Statements with rows that the route would not read are refused, nothing sent.
      {"select*from t", true, "", false},
      {"select\tid from t", true, "", false},
      {"with x as (select 1 a from t) select a from x", false, "", false},
      {"insert into t (a) values (1) returning id", false, "", false},
      {"UPDATE OR INSERT INTO t (id) values (1) matching (id) returning id", false, "", false},
      {"delete from t where id = 1 returning id", false, "", false},
      {"execute block returns (id int) as begin id = 7; suspend; end", false, "", false},
  };
  for (const Case& c : cases) {
    std::string sent;
    LocalHttpServer server([&](const HttpRequest& r) {
      sent = r.body;
      return HttpReply{"HTTP/1.1 200 OK",
                       r.body.starts_with("z=true") ? CompressedAnswer(7) : XmlAnswer(7)};
    });
    TKVOAppDataSet ds;
    Configure(ds, server.url());
    ds.Compressed = c.compressed;
    if (*c.bodyStart) {
      ds.RunRemote(c.sql, false);
    } else {
      EXPECT_THROW(ds.RunRemote(c.sql, false), Error) << c.sql;
    }
    EXPECT_TRUE(sent.starts_with(c.bodyStart)) << c.sql << ": " << sent;
    EXPECT_EQ(server.requests().empty(), !*c.bodyStart) << c.sql;
    EXPECT_EQ(ds.Active(), c.loads) << c.sql;
    if (c.loads) {
      EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 7);
    }
  }
  EXPECT_TRUE(ui.errors.empty());
}

TEST_F(RemoteDataSetTest, AStatementThatIsNoSelectKeepsThePreviousPacket) {
  std::string answer = XmlAnswer(1);
  LocalHttpServer server([&](const HttpRequest&) { return HttpReply{"HTTP/1.1 200 OK", answer}; });
  TKVOAppDataSet ds;
  Configure(ds, server.url());
  ds.RunRemote("select id from t", false);
  answer = "";
  ds.RunRemote("delete from t", false);
  EXPECT_FALSE(ds.Active());
  ds.Open();
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 1);
}

TEST_F(RemoteDataSetTest, TheErrorPageIsShownThenRaisedAndLeavesNoEarlierRows) {
  std::string answer = XmlAnswer(25);
  LocalHttpServer server([&](const HttpRequest&) { return HttpReply{"HTTP/1.1 200 OK", answer}; });
  TKVOAppDataSet ds;
  Configure(ds, server.url());
  ds.RunRemote("select id from t", false);
  answer = platform::BuildErrorPage("arithmetic exception, numeric overflow, or string truncation");
  try {
    ds.RunRemote("select 1/0 from t", true);
    FAIL() << "the failure did not reach the caller";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "arithmetic exception, numeric overflow, or string truncation");
  }
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ui.errors, std::vector<std::string>{
                           "arithmetic exception, numeric overflow, or string truncation"});
  EXPECT_EQ(ui.events, (std::vector<std::string>{"wait shown", "wait closed"}));
  EXPECT_THROW(ds.Open(), Error) << "the rows of the earlier statement came back";
}

TEST_F(RemoteDataSetTest, TheErrorTitleWinsOverAnXmlPacket) {
  LocalHttpServer server(Answer(XmlAnswer(1) + "<TITLE>KVO.Net</TITLE>"));
  TKVOAppDataSet ds;
  Configure(ds, server.url());
  EXPECT_THROW(ds.RunRemote("select id from t", false), Error);
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ui.errors, std::vector<std::string>{""});
}

TEST_F(RemoteDataSetTest, AnXmlAnswerThatFailsToLoadLeavesNoEarlierRows) {
  std::string answer = XmlAnswer(1);
  LocalHttpServer server([&](const HttpRequest&) { return HttpReply{"HTTP/1.1 200 OK", answer}; });
  TKVOAppDataSet ds;
  Configure(ds, server.url());
  ds.RunRemote("select id from t", false);
  answer = "<html><body>a proxy's own page</body></html>";
  std::string thrown;
  try {
    ds.RunRemote("select id from t", false);
  } catch (const Error& e) {
    thrown = e.what();
  }
  EXPECT_FALSE(ds.Active());
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0], thrown);
  EXPECT_TRUE(thrown.ends_with("\r\r")) << thrown;
  EXPECT_THROW(ds.Open(), Error) << "the previous rows came back";
}

TEST_F(RemoteDataSetTest, ACompressedErrorPageFailsWithError) {
  LocalHttpServer server(Answer(platform::BuildErrorPage("Cannot attach")));
  TKVOAppDataSet ds;
  Configure(ds, server.url());
  ds.Compressed = true;
  try {
    ds.RunRemote("select id from t", true);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Error");
  }
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(ui.events, (std::vector<std::string>{"wait shown", "wait closed"}));
}

TEST_F(RemoteDataSetTest, HttpFailuresPropagateAndCloseTheWaitWindow) {
  struct Case {
    const char* status;
    const char* message;
  } cases[] = {
      {"HTTP/1.1 404 Not Found", "HTTP/1.1 404 Not Found"},
      {"HTTP/1.1 500 Internal Server Error", "HTTP/1.1 500 Internal Server Error"},
      {"HTTP/1.1 302 Found\r\nLocation: /elsewhere", "HTTP/1.1 302 Found"},
  };
  for (const Case& c : cases) {
    LocalHttpServer server(Answer(XmlAnswer(1), c.status));
    TKVOAppDataSet ds;
    Configure(ds, server.url());
    ui.events.clear();
    try {
      ds.RunRemote("select id from t", true);
      ADD_FAILURE() << c.status;
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(server.requests().size(), 1u) << "no redirect followed, no retry";
    EXPECT_FALSE(ds.Active());
    EXPECT_EQ(ui.events, (std::vector<std::string>{"wait shown", "wait closed"}));
  }
}

TEST_F(RemoteDataSetTest, AValueThatCannotBeConvertedFailsBeforeAnythingIsSent) {
  LocalHttpServer server(Answer(XmlAnswer(1)));
  TKVOAppDataSet ds;
  Configure(ds, server.url());
  ds.Params.CreateParam(TFieldType::ftDate, "d", TParamType::ptInput)
      .SetValue(std::string("tomorrow"));
  EXPECT_THROW(ds.RunRemote("select * from t where d = :d", true), Error);
  EXPECT_TRUE(server.requests().empty());
  EXPECT_EQ(ui.events, (std::vector<std::string>{"wait shown", "wait closed"}));
}

TEST_F(RemoteDataSetTest, TheWaitWindowLayout) {
  LocalHttpServer server(Answer(XmlAnswer(1)));
  TKVOAppDataSet ds;
  Configure(ds, server.url());
  ds.RunRemote("select id from t", true);
  EXPECT_EQ(ui.events, (std::vector<std::string>{"wait shown", "wait closed"}));
  const TWaitWindowLayout& l = ui.lastLayout;
  EXPECT_EQ(l.Title, "Aguarde...");
  EXPECT_EQ(l.Caption, "Conectando ao WebServer");
  EXPECT_EQ(l.Width, 300);
  EXPECT_EQ(l.Height, 40);
  EXPECT_EQ(l.Left, 10);
  EXPECT_EQ(l.BottomOffset, 100);
  EXPECT_EQ(l.Color, 0xFFFF00u);
  EXPECT_EQ(l.FontName, "Arial");
  EXPECT_EQ(l.FontSize, 11);
  ui.events.clear();
  ds.RunRemote("select id from t", false);
  EXPECT_TRUE(ui.events.empty());
}

TEST_F(RemoteDataSetTest, ProxySettingsAndTheRequestThroughTheProxy) {
  TKVOAppDataSet ds;
  ds.ProxyHost = "px";
  ds.ProxyPort = 8080;
  ds.ProxyUser = "u";
  ds.ProxyPass = "p";
  ds.ApplyProxy();
  EXPECT_EQ(ds.HttpProxy(), THttpProxySettings{}) << "UseProxy off: no proxy at all";
  ds.UseProxy = true;
  ds.ApplyProxy();
  EXPECT_EQ(ds.HttpProxy(), (THttpProxySettings{"px", 8080, true, "u", "p"}));
  ds.ProxyUser = "";
  ds.ApplyProxy();
  EXPECT_EQ(ds.HttpProxy(), (THttpProxySettings{"px", 8080, false, "", ""}));

  // The local server plays the proxy: the request names the whole address and carries the
  // Basic credentials.
  LocalHttpServer proxy(Answer(XmlAnswer(3)));
  Configure(ds, "http://kvo.invalid:81/app");
  ds.ProxyHost = "127.0.0.1";
  ds.ProxyPort = proxy.port();
  ds.ProxyUser = "kvo";
  ds.ProxyPass = "s3cret";
  ds.RunRemote("select id from t", false);
  auto requests = proxy.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].requestLine,
            "POST http://kvo.invalid:81/app/ikvowebserver.dll/sql HTTP/1.1");
  EXPECT_EQ(requests[0].Header("Proxy-Authorization"), "Basic a3ZvOnMzY3JldA==");
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
}

TEST_F(RemoteDataSetTest, NoProxyMeansNoneFromTheEnvironmentEither) {
  LocalHttpServer server(Answer(XmlAnswer(1)));
  LocalHttpServer proxy(Answer("", "HTTP/1.1 407 Proxy Authentication Required"));
  setenv("http_proxy", proxy.url().c_str(), 1);
  setenv("ALL_PROXY", proxy.url().c_str(), 1);
  TKVOAppDataSet ds;
  Configure(ds, server.url());
  ds.RunRemote("select id from t", false);
  unsetenv("http_proxy");
  unsetenv("ALL_PROXY");
  EXPECT_TRUE(proxy.requests().empty());
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(RemoteDataSetTest, AnswersBeyondTheLimitAreRefused) {
  EXPECT_EQ(THttpLimits{}.MaxAnswerBytes, size_t{1} << 30);
  constexpr size_t kLimit = 1 << 20;
  platform::MemoryStream zeros(std::string(16 * kLimit, '\0')), bomb;
  packet::CompressStream(zeros, bomb);
  struct Case {
    bool compressed;
    std::string body;
    std::string message;
  } cases[] = {
      {true, bomb.Bytes(),
       "The answer inflates to more than 1048576 bytes, the limit of this client"},
      {false, std::string(kLimit + 1, 'x'),
       "The answer is larger than 1048576 bytes, the limit of this client"},
      {true, std::string(kLimit + 1, 'x'),
       "The answer is larger than 1048576 bytes, the limit of this client"},
  };
  for (const Case& c : cases) {
    LocalHttpServer server(Answer(c.body));
    TKVOAppDataSet ds;
    Configure(ds, server.url());
    ds.Compressed = c.compressed;
    ds.Limits.MaxAnswerBytes = kLimit;
    try {
      ds.RunRemote("select * from t", false);
      ADD_FAILURE() << "an answer beyond the limit was taken";
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), c.message);
    }
    EXPECT_FALSE(ds.Active());
  }
  // At the limit itself the answer is taken.
  LocalHttpServer exact(Answer(XmlAnswer(3)));
  TKVOAppDataSet ds;
  Configure(ds, exact.url());
  ds.Limits.MaxAnswerBytes = XmlAnswer(3).size();
  ds.RunRemote("select * from t", false);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
}

TEST_F(RemoteDataSetTest, TheRawAnswerOfACompressedFailure) {
  LocalHttpServer server(Answer(platform::BuildErrorPage("Table unknown")));
  TKVOAppDataSet ds;
  Configure(ds, server.url());
  ds.Compressed = true;
  try {
    ds.RunRemote("select * from nope", false);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Error") << "the library's rule for a body that does not inflate";
  }
  EXPECT_EQ(TKVOAppDataSet::ExtractServerMessage(ds.LastAnswer()), "Table unknown");
}

// A port that accepts connections (the kernel completes them) and never answers.
struct SilentPort {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  int port = 0;
  SilentPort() {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0)
      throw std::runtime_error("bind/listen");
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
  }
  ~SilentPort() { close(fd); }
};

TEST_F(RemoteDataSetTest, TimeoutsAndSchemes) {
  SilentPort silent;
  struct Case {
    std::string url;
    const char* messagePart;
  } cases[] = {
      {"http://127.0.0.1:" + std::to_string(silent.port),
       "within 0.5 seconds, the limit of this client"},
      {"ftp://127.0.0.1:" + std::to_string(silent.port), "ftp"},
      {"file:///etc", "file"},
  };
  for (const Case& c : cases) {
    TKVOAppDataSet ds;
    Configure(ds, c.url);
    ds.Limits.TimeoutSeconds = 0.5;
    try {
      ds.RunRemote("select * from t", false);
      ADD_FAILURE() << c.url << " answered";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.messagePart), std::string::npos)
          << c.url << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace kvo::client
