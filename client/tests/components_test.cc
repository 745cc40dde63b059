// The database and transaction components without a database server: the settings bag, the
// client settings file, the connect sequence and its notifications, multi-tier connects with
// the /login check against a local test server, and the transaction's activation rule.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "client/tests/local_http_server.h"
#include "client/tests/recording_ui.h"
#include "kvo/client/tarvo.h"
#include "tests/support/cgi_runner.h"

namespace kvo::client {
namespace {

using testing::HttpReply;
using testing::HttpRequest;
using testing::LocalHttpServer;
using testing::RecordingUserInterface;

// Points the path layer at a fresh drives folder for one test.
class DrivesGuard {
 public:
  DrivesGuard() {
    const char* old = getenv("KVO_DRIVES");
    if (old) saved_ = old;
    setenv("KVO_DRIVES", dir_.path().c_str(), 1);
  }
  ~DrivesGuard() {
    if (saved_) {
      setenv("KVO_DRIVES", saved_->c_str(), 1);
    } else {
      unsetenv("KVO_DRIVES");
    }
  }
  void WriteSettings(const std::string& text) {
    testing::WriteFile(dir_.path() + "/C/KVO/Bin/KVO.ini", text);
  }

 private:
  testing::TempDir dir_;
  std::optional<std::string> saved_;
};

TTarvoMultiTierProps NonDefaultProps() {
  TTarvoMultiTierProps p;
  p.Active = true;
  p.URL = "http://example.invalid/kvo";
  p.WebServer = "w.dll";
  p.AltWebServer = "w.exe";
  p.ProxyHost = "proxy.invalid";
  p.ProxyPass = "secret";
  p.ProxyPort = 3128;
  p.ProxyUser = "me";
  p.UseProxy = true;
  p.ShowWait = true;
  p.Compressed = true;
  return p;
}

void ExpectSameProps(const TTarvoMultiTierProps& a, const TTarvoMultiTierProps& b) {
  EXPECT_EQ(a.Active, b.Active);
  EXPECT_EQ(a.URL, b.URL);
  EXPECT_EQ(a.WebServer, b.WebServer);
  EXPECT_EQ(a.AltWebServer, b.AltWebServer);
  EXPECT_EQ(a.ProxyHost, b.ProxyHost);
  EXPECT_EQ(a.ProxyPass, b.ProxyPass);
  EXPECT_EQ(a.ProxyPort, b.ProxyPort);
  EXPECT_EQ(a.ProxyUser, b.ProxyUser);
  EXPECT_EQ(a.UseProxy, b.UseProxy);
  EXPECT_EQ(a.ShowWait, b.ShowWait);
  EXPECT_EQ(a.Compressed, b.Compressed);
}

TEST(MultiTierPropsTest, InitialValuesAndCopies) {
  TTarvoIBDatabase db;
  const TTarvoMultiTierProps& bag = db.TarvoMultiTierProps();
  ExpectSameProps(bag, TTarvoMultiTierProps{});
  EXPECT_FALSE(bag.Active);
  EXPECT_EQ(bag.WebServer, "ikvowebserver.dll");
  EXPECT_EQ(bag.AltWebServer, "kvowebserver.exe");
  EXPECT_EQ(bag.ProxyPort, 0);
  EXPECT_TRUE(db.UseRegProps);
  EXPECT_FALSE(db.AlwaysConnected);
  EXPECT_FALSE(db.RemoteConnected());

  TTarvoMultiTierProps given = NonDefaultProps();
  db.SetTarvoMultiTierProps(given);
  ExpectSameProps(db.TarvoMultiTierProps(), NonDefaultProps());
  given.URL = "changed";
  given.Active = false;
  EXPECT_EQ(db.TarvoMultiTierProps().URL, "http://example.invalid/kvo");
  EXPECT_TRUE(db.TarvoMultiTierProps().Active);
  EXPECT_NE(&db.TarvoMultiTierProps(), &given);
}

TEST(LoadSettingsTest, ReadsTheEightValuesFromTheClientSettingsFile) {
  DrivesGuard drives;
  drives.WriteSettings(
      "[general]\r\nwebserveractive=1\r\nWebServerShowWait=0x1\r\nURLBase= http://h/kvo \r\n"
      "ProxyEnabled=1\r\nProxyHost=px\r\nProxyPorta=8080\r\nProxyUsuario=u1\r\n"
      "ProxySenha=p w\r\n");
  TTarvoIBDatabase db;
  TTarvoMultiTierProps start;
  start.WebServer = "mine.dll";
  start.AltWebServer = "mine.exe";
  start.Compressed = true;
  db.SetTarvoMultiTierProps(start);
  db.LoadSettings();
  const auto& bag = db.TarvoMultiTierProps();
  EXPECT_TRUE(bag.Active);
  EXPECT_TRUE(bag.ShowWait);
  EXPECT_EQ(bag.URL, "http://h/kvo");
  EXPECT_TRUE(bag.UseProxy);
  EXPECT_EQ(bag.ProxyHost, "px");
  EXPECT_EQ(bag.ProxyPort, 8080);
  EXPECT_EQ(bag.ProxyUser, "u1");
  EXPECT_EQ(bag.ProxyPass, "p w");
  // Never read from the file.
  EXPECT_EQ(bag.WebServer, "mine.dll");
  EXPECT_EQ(bag.AltWebServer, "mine.exe");
  EXPECT_TRUE(bag.Compressed);
}

TEST(LoadSettingsTest, AMissingFileOverwritesTheEightValuesWithDefaults) {
  DrivesGuard drives;
  TTarvoIBDatabase db;
  db.SetTarvoMultiTierProps(NonDefaultProps());
  db.LoadSettings();
  TTarvoMultiTierProps expected;
  expected.WebServer = "w.dll";
  expected.AltWebServer = "w.exe";
  expected.Compressed = true;
  ExpectSameProps(db.TarvoMultiTierProps(), expected);
}

TEST(LoadSettingsTest, WordFlagsReadAsDefaultsAndUseRegPropsOffKeepsTheBag) {
  DrivesGuard drives;
  drives.WriteSettings("[General]\nWebServerActive=True\nProxyPorta=abc\n");
  TTarvoIBDatabase db;
  db.SetTarvoMultiTierProps(NonDefaultProps());
  db.LoadSettings();
  EXPECT_FALSE(db.TarvoMultiTierProps().Active);
  EXPECT_EQ(db.TarvoMultiTierProps().ProxyPort, 0);

  drives.WriteSettings("[General]\nWebServerActive=1\n");
  TTarvoIBDatabase fixed;
  fixed.UseRegProps = false;
  TTarvoMultiTierProps direct = NonDefaultProps();
  direct.Active = false;
  fixed.SetTarvoMultiTierProps(direct);
  fixed.LoadSettings();
  ExpectSameProps(fixed.TarvoMultiTierProps(), direct);
}

// A database whose attachment is simulated, to watch the order of the connect sequence.
class FakeDatabase : public TIBDatabase {
 public:
  std::vector<std::string>& log;
  explicit FakeDatabase(std::vector<std::string>& l) : log(l) {}
  ~FakeDatabase() override {
    try {
      SetConnected(false);
    } catch (...) {
    }
  }

 protected:
  void ConnectCore() override {
    log.push_back("ConnectCore");
    attached_ = true;
  }
  void DisconnectCore() override {
    log.push_back("DisconnectCore");
    attached_ = false;
  }
  bool ConnectedCore() const override { return attached_; }

 private:
  bool attached_ = false;
};

class RecordingClient : public TDatabaseClient {
 public:
  explicit RecordingClient(std::vector<std::string>& l) : log(l) {}
  void DatabaseConnected(TIBDatabase&) override { log.push_back("client connected"); }
  void DatabaseDisconnecting(TIBDatabase&) override { log.push_back("client disconnecting"); }
  std::vector<std::string>& log;
};

TEST(DatabaseTest, ConnectAndDisconnectSequences) {
  std::vector<std::string> log;
  FakeDatabase db(log);
  RecordingClient client(log);
  db.AddClient(client);
  db.BeforeConnect = [&](TIBDatabase&) { log.push_back("BeforeConnect"); };
  db.AfterConnect = [&](TIBDatabase&) { log.push_back("AfterConnect"); };
  db.BeforeDisconnect = [&](TIBDatabase&) { log.push_back("BeforeDisconnect"); };
  db.AfterDisconnect = [&](TIBDatabase&) { log.push_back("AfterDisconnect"); };
  db.SetConnected(true);
  db.SetConnected(true);  // already connected: nothing
  db.SetConnected(false);
  db.SetConnected(false);
  EXPECT_EQ(log,
            (std::vector<std::string>{"BeforeConnect", "ConnectCore", "client connected",
                                      "AfterConnect", "BeforeDisconnect", "client disconnecting",
                                      "DisconnectCore", "AfterDisconnect"}));
  {
    RecordingClient gone(log);
    db.AddClient(gone);
  }  // unlinks itself
  log.clear();
  db.SetConnected(true);
  EXPECT_EQ(log.size(), 4u);
}

TEST(DatabaseTest, TransactionsNeedAConnectedDatabase) {
  TIBTransaction tx;
  try {
    tx.StartTransaction();
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "No database assigned to the transaction");
  }
  TIBDatabase db;
  tx.DefaultDatabase = &db;
  try {
    tx.SetActive(true);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Cannot perform operation -- DB is not open");
  }
  tx.SetActive(false);  // nothing active: nothing happens
  EXPECT_THROW(tx.Commit(), Error);
  EXPECT_FALSE(tx.Active());
}

// A multi-tier database that reads no settings file.
void MultiTier(TTarvoIBDatabase& db, const std::string& url) {
  db.UseRegProps = false;
  TTarvoMultiTierProps bag;
  bag.Active = true;
  bag.URL = url;
  db.SetTarvoMultiTierProps(bag);
  db.DatabaseName = "localhost:/data/x.fdb";
  db.Params.SetText("user_name=SYSDBA\r\npassword=a b&c");
}

TEST(TarvoDatabaseTest, MultiTierWithoutTheLoginCheckSendsNothing) {
  LocalHttpServer server([](const HttpRequest&) { return HttpReply{}; });
  RecordingUserInterface ui;
  client::TScopedUserInterface scope(ui);
  {
    TTarvoIBDatabase db;
    MultiTier(db, server.url());
    db.SetConnected(true);
    EXPECT_TRUE(db.Connected());
    EXPECT_TRUE(db.RemoteConnected());
    EXPECT_FALSE(db.Attached());
    db.SetConnected(false);
    EXPECT_FALSE(db.Connected());
    db.SetConnected(true);
    // Switching the mode off while connected: Connected reads the attachment state.
    db.TarvoMultiTierProps().Active = false;
    EXPECT_FALSE(db.Connected());
    db.TarvoMultiTierProps().Active = true;
    EXPECT_TRUE(db.Connected());
  }  // destroyed connected: clears the flag, no traffic
  EXPECT_TRUE(server.requests().empty());
  EXPECT_TRUE(ui.errors.empty());
}

TEST(TarvoDatabaseTest, LoginAnswers) {
  struct Case {
    std::string answer;
    bool connected;
    bool box;
  } cases[] = {
      {"true", true, false},   {"TRUE", true, false}, {"False", false, true},
      {"false", false, true},  {"", false, false},    {"<html>x</html>", false, false},
      {" true", false, false},
  };
  for (const Case& c : cases) {
    LocalHttpServer server([&](const HttpRequest&) {
      return HttpReply{"HTTP/1.1 200 OK", c.answer};
    });
    RecordingUserInterface ui;
    client::TScopedUserInterface scope(ui);
    TTarvoIBDatabase db;
    MultiTier(db, server.url() + "/kvo");
    db.AlwaysConnected = true;
    std::vector<std::string> events;
    db.AfterConnect = [&](TIBDatabase&) { events.push_back("AfterConnect"); };
    db.SetConnected(true);
    EXPECT_EQ(db.Connected(), c.connected) << "answer [" << c.answer << "]";
    EXPECT_EQ(events.size(), 1u) << "the notifications are sent all the same";
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "POST /kvo/ikvowebserver.dll/login HTTP/1.1");
    EXPECT_EQ(requests[0].body, "db=localhost%3A%2Fdata%2Fx%2Efdb&u=SYSDBA&p=a+b%26c&");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
    if (c.box) {
      ASSERT_EQ(ui.errors.size(), 1u);
      EXPECT_EQ(ui.errors[0],
                "N\xE3o foi poss\xEDvel conectar. Usu\xE1rio/Senha inv\xE1lidos\r" + c.answer);
    } else {
      EXPECT_TRUE(ui.errors.empty()) << c.answer;
    }
  }
}

TEST(TarvoDatabaseTest, TheLoginGoesStraightToTheServerEvenWithAProxy) {
  LocalHttpServer server([](const HttpRequest&) { return HttpReply{"HTTP/1.1 200 OK", "true"}; });
  LocalHttpServer proxy([](const HttpRequest&) { return HttpReply{"HTTP/1.1 200 OK", "false"}; });
  // Neither the bag's proxy nor the environment's proxy variables are used.
  setenv("http_proxy", proxy.url().c_str(), 1);
  setenv("HTTP_PROXY", proxy.url().c_str(), 1);
  setenv("ALL_PROXY", proxy.url().c_str(), 1);
  TTarvoIBDatabase db;
  MultiTier(db, server.url());
  db.AlwaysConnected = true;
  db.TarvoMultiTierProps().UseProxy = true;
  db.TarvoMultiTierProps().ProxyHost = "127.0.0.1";
  db.TarvoMultiTierProps().ProxyPort = proxy.port();
  db.SetConnected(true);
  unsetenv("http_proxy");
  unsetenv("HTTP_PROXY");
  unsetenv("ALL_PROXY");
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(server.requests().size(), 1u);
  EXPECT_TRUE(proxy.requests().empty());
}

TEST(TarvoDatabaseTest, AFailedLoginRequestPropagatesAndChangesNothing) {
  std::string url;
  {
    LocalHttpServer gone([](const HttpRequest&) { return HttpReply{}; });
    url = gone.url();
  }  // nothing listens there any more
  TTarvoIBDatabase db;
  MultiTier(db, url);
  db.AlwaysConnected = true;
  try {
    db.SetConnected(true);
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("onnect"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(db.Connected());

  LocalHttpServer notFound([](const HttpRequest&) {
    return HttpReply{"HTTP/1.1 404 Not Found", "nope"};
  });
  MultiTier(db, notFound.url());
  try {
    db.SetConnected(true);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "HTTP/1.1 404 Not Found");
  }
}

TEST(TarvoTransactionTest, StaysInactiveOnAMultiTierDatabase) {
  TTarvoIBDatabase db;
  MultiTier(db, "http://127.0.0.1:1");
  TTarvoIBTransaction tx;
  tx.DefaultDatabase = &db;
  tx.SetActive(true);
  EXPECT_FALSE(tx.Active());
  EXPECT_FALSE(db.Connected()) << "a multi-tier database is not connected by the transaction";
  // Through the base type the base rule applies: there is no attachment to start on.
  TIBTransaction& base = tx;
  EXPECT_THROW(base.SetActive(true), Error);
}

TEST(TarvoTransactionTest, ConnectsADirectDatabaseForEitherValue) {
  DrivesGuard drives;
  drives.WriteSettings("[General]\nWebServerActive=1\nURLBase=http://127.0.0.1:1\n");
  TTarvoIBDatabase db;
  db.DatabaseName = "unused";
  TTarvoIBTransaction tx;
  tx.DefaultDatabase = &db;
  // Direct mode and not connected: the connect (with LoadSettings) comes first; here the
  // settings file turns multi-tier on, so the connect needs no database server.
  tx.SetActive(false);
  EXPECT_TRUE(db.Connected());
  EXPECT_TRUE(db.RemoteConnected());
  EXPECT_FALSE(tx.Active());
}

}  // namespace
}  // namespace kvo::client

namespace kvo::client {
namespace {

TEST(ConsoleUserInterfaceTest, ErrorsGoToStandardErrorAndThereIsNoWaitWindow) {
  TConsoleUserInterface console;
  ::testing::internal::CaptureStderr();
  console.ShowError("N\xE3o foi poss\xEDvel\rfalse");
  console.ShowError("a\r\nb");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "N\xC3\xA3o foi poss\xC3\xADvel\nfalse\na\nb\n");
  EXPECT_EQ(console.ShowWaitWindow(TWaitWindowLayout{}), nullptr);

  // Without an installed facility the console one serves; a scoped one is removed again.
  EXPECT_NE(dynamic_cast<TConsoleUserInterface*>(&UserInterface()), nullptr);
  {
    testing::RecordingUserInterface ui;
    TScopedUserInterface scope(ui);
    UserInterface().ShowError("x");
    EXPECT_EQ(ui.errors, std::vector<std::string>{"x"});
  }
  EXPECT_NE(dynamic_cast<TConsoleUserInterface*>(&UserInterface()), nullptr);
}

}  // namespace
}  // namespace kvo::client
