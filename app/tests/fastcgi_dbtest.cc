// Attachments kept between the requests of a FastCGI process, against the private Firebird
// server: handed only to the same credentials, replaced when broken, detached when idle, and a
// stop signal that waits for a running query even though the Firebird client has installed its
// own handlers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include "tests/support/fastcgi_client.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::testing {
namespace {

const char kConnectionQuery[] = "select current_connection from rdb$database";

class FastCgiDb : public ::testing::Test {
 protected:
  void SetUp() override { KVO_REQUIRE_FIREBIRD(); }

  // The server settings file of the process's drives.
  void WriteServerSettings(const std::string& lines) {
    WriteFile(drives_.path() + "/C/KVO/KVO.Net/Config/KVO.Server.Config", "[Server]\r\n" + lines);
  }

  std::unique_ptr<FastCgiProcess> Start() {
    return std::make_unique<FastCgiProcess>(Params{{"KVO_DRIVES", drives_.path()}}, drives_.path());
  }

  CgiResult Sql(FastCgiProcess& process, const std::string& password,
                const std::string& statement = kConnectionQuery) {
    const std::string body = Form({{"db", db_.connection()},
                                   {"u", db_.user()},
                                   {"p", password},
                                   {"q", statement},
                                   {"z", "false"}});
    return process.Request(RequestParams("POST", "/sql", drives_.path(), body), body);
  }

  // The attachment that answered, from the one-row packet; -1 when the answer is no packet.
  static long ConnectionOf(const CgiResult& r) {
    std::smatch m;
    const std::string body = r.Body();
    if (!std::regex_search(body, m, std::regex("CURRENT_CONNECTION=\"([0-9]+)\""))) return -1;
    return std::stol(m[1]);
  }

  bool Attached(long connection) {
    fb::Attachment a = db_.Attach();
    fb::Transaction t = a.StartTransaction();
    fb::Statement s =
        a.Prepare(t, "select count(*) from mon$attachments where mon$attachment_id = " +
                         std::to_string(connection));
    fb::ResultSet rows = s.Open();
    rows.Fetch();
    return rows.GetInt64(0) == 1;
  }

  TempDir drives_;
  TempDatabase db_;
};

TEST_F(FastCgiDb, KeptAttachmentServesExactlyTheSameCredentials) {
  auto process = Start();
  const long first = ConnectionOf(Sql(*process, db_.password()));
  ASSERT_GT(first, 0);
  EXPECT_TRUE(Attached(first)) << "kept after its request";

  struct Step {
    const char* name;
    std::string password;
    bool sameAttachment;
  } steps[] = {
      {"same credentials again", db_.password(), true},
      {"a wrong password is checked by the server", db_.password() + "x", false},
      {"the kept attachment is still there", db_.password(), true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    const CgiResult r = Sql(*process, s.password);
    if (s.sameAttachment) {
      EXPECT_EQ(ConnectionOf(r), first);
    } else {
      EXPECT_EQ(ConnectionOf(r), -1);
      EXPECT_NE(r.Body().find("Your user name and password are not defined"), std::string::npos)
          << r.Body();
    }
  }
}

// A kept attachment reads text as the attach it came from did: converted to Windows-1252 per
// column, "?" for what the code page cannot hold.
TEST_F(FastCgiDb, KeptAttachmentReadsTextAsAFreshOne) {
  db_.Execute(std::vector<std::string>{
      "create table u (v varchar(10) character set utf8)",
      "insert into u values (_UTF8 'a\xC3\xA7\xC3\xA3o\xE2\x82\xAC\xC5\xBC')"});
  auto process = Start();
  const std::string query = "select v, current_connection from u";
  const CgiResult fresh = Sql(*process, db_.password(), query);
  const CgiResult kept = Sql(*process, db_.password(), query);
  ASSERT_GT(ConnectionOf(fresh), 0) << fresh.Body();
  EXPECT_EQ(ConnectionOf(kept), ConnectionOf(fresh));
  EXPECT_NE(fresh.Body().find("V=\"a\xE7\xE3o\x80?\""), std::string::npos) << fresh.Body();
  EXPECT_EQ(kept.Body(), fresh.Body());
}

// The statements the program prepares for itself (the precision query) go with a kept
// attachment: prepared once, reading the tables as they are at each request, and gone with a
// broken attachment without harm.
TEST_F(FastCgiDb, KeptAttachmentKeepsItsOwnStatements) {
  db_.Execute(std::vector<std::string>{"create table n (amount numeric(6,2))",
                                       "insert into n values (12.5)"});
  auto process = Start();
  const std::string query = "select amount, current_connection from n";
  const std::string own =
      "select count(*) from mon$statements where mon$attachment_id = %d and "
      "mon$sql_text containing 'RDB$FIELD_PRECISION'";
  auto ownStatements = [&](long connection) {
    fb::Attachment a = db_.Attach();
    fb::Transaction t = a.StartTransaction();
    fb::Statement s =
        a.Prepare(t, std::regex_replace(own, std::regex("%d"), std::to_string(connection)));
    return s.Execute().at(0).value_or("");
  };
  const CgiResult first = Sql(*process, db_.password(), query);
  const long connection = ConnectionOf(first);
  ASSERT_GT(connection, 0) << first.Body();
  EXPECT_NE(first.Body().find("DECIMALS=\"2\" WIDTH=\"6\""), std::string::npos) << first.Body();
  EXPECT_EQ(Sql(*process, db_.password(), query).Body(), first.Body());
  EXPECT_EQ(ownStatements(connection), "1");

  db_.Execute("alter table n alter amount type numeric(9,2)");
  const CgiResult widened = Sql(*process, db_.password(), query);
  EXPECT_EQ(ConnectionOf(widened), connection);
  EXPECT_NE(widened.Body().find("DECIMALS=\"2\" WIDTH=\"9\""), std::string::npos) << widened.Body();
  EXPECT_EQ(ownStatements(connection), "1");

  db_.Execute("delete from mon$attachments where mon$attachment_id = " +
              std::to_string(connection));
  const CgiResult replaced = Sql(*process, db_.password(), query);
  EXPECT_GT(ConnectionOf(replaced), 0) << replaced.Body();
  EXPECT_NE(ConnectionOf(replaced), connection);
  EXPECT_NE(replaced.Body().find("WIDTH=\"9\""), std::string::npos) << replaced.Body();
}

// A statement past MaxStatementSeconds is cancelled from the process's watchdog thread; the
// connection it ran on is replaced (a cancel may still be pending on it) and the process's next
// request works.
TEST_F(FastCgiDb, AStatementPastItsLimitIsCancelledAndTheNextRequestWorks) {
  WriteServerSettings("MaxStatementSeconds=1\r\n");
  WriteFile(drives_.path() + "/C/KVO/KVO.Net/Logs/Log.txt", "");
  auto process = Start();
  const long first = ConnectionOf(Sql(*process, db_.password()));
  ASSERT_GT(first, 0);
  const auto start = std::chrono::steady_clock::now();
  const CgiResult cancelled = Sql(*process, db_.password(),
                                  "select count(*), current_connection from rdb$fields a, "
                                  "rdb$fields b, rdb$fields c, rdb$fields d");
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_NE(cancelled.Body().find("The statement ran longer than this server allows "
                                  "(MaxStatementSeconds = 1) and was cancelled."),
            std::string::npos)
      << cancelled.Body();
  EXPECT_GE(took, std::chrono::seconds(1));
  EXPECT_LT(took, std::chrono::seconds(10));
  EXPECT_FALSE(Attached(first)) << "the cancelled connection is not kept";
  for (int i = 0; i < 3; ++i) {
    const long next = ConnectionOf(Sql(*process, db_.password()));
    EXPECT_GT(next, 0);
    EXPECT_NE(next, first);
  }
}

TEST_F(FastCgiDb, ReuseTurnedOffAttachesForEveryRequest) {
  WriteServerSettings("KeepAttachments=0\r\n");
  auto process = Start();
  const long first = ConnectionOf(Sql(*process, db_.password()));
  const long second = ConnectionOf(Sql(*process, db_.password()));
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  EXPECT_NE(first, second);
  EXPECT_FALSE(Attached(first));
  EXPECT_FALSE(Attached(second));
}

// Every usual spelling of "off" turns reuse off; a value that is no spelling at all turns it off
// too and says so once in the web server's error log.
TEST_F(FastCgiDb, KeepAttachmentsSwitchSpellings) {
  const struct {
    const char* value;
    bool kept;
    bool logged;
  } kCases[] = {{"yes", true, false},
                {"false", false, false},
                {"no", false, false},
                {"Off", false, false},
                {"maybe", false, true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.value);
    WriteServerSettings(std::string("KeepAttachments=") + c.value + "\r\n");
    auto process = Start();
    const CgiResult first = Sql(*process, db_.password());
    const CgiResult second = Sql(*process, db_.password());
    ASSERT_GT(ConnectionOf(first), 0) << first.Body();
    EXPECT_EQ(ConnectionOf(second) == ConnectionOf(first), c.kept);
    if (c.logged) {
      EXPECT_EQ(first.errors,
                "kvowebserver: [Server] KeepAttachments=maybe is none of 0/1, false/true, no/yes, "
                "off/on; attachments are not kept\n");
      EXPECT_EQ(second.errors, "") << "one line, not one per request";
    } else {
      EXPECT_EQ(first.errors, "");
    }
  }
}

// However busy the process, an attachment serves no longer than KeepAttachmentsMaxSeconds from
// its attach on: a password changed outside this server stops working within that bound.
TEST_F(FastCgiDb, KeptAttachmentEndsAtItsLifetimeHoweverBusy) {
  WriteServerSettings("KeepAttachmentsSeconds=30\r\nKeepAttachmentsMaxSeconds=2\r\n");
  auto process = Start();
  const long first = ConnectionOf(Sql(*process, db_.password()));
  ASSERT_GT(first, 0);
  long last = first;
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(3000) &&
         last == first) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    last = ConnectionOf(Sql(*process, db_.password()));
  }
  EXPECT_GT(last, 0);
  EXPECT_NE(last, first) << "a request every 200 ms kept the attachment beyond 2 s";
  EXPECT_FALSE(Attached(first));
}

// A change of the host's drop file (an administrator's touch, another process's /usermanager)
// ends the attachments kept before it, before their next use.
TEST_F(FastCgiDb, DropFileChangeEndsKeptAttachments) {
  WriteFile(drives_.path() + "/C/KVO/KVO.Net/Logs/Log.txt", "");
  const std::string dropFile = drives_.path() + "/C/KVO/KVO.Net/Logs/KeptAttachments.Drop";
  auto process = Start();
  const long first = ConnectionOf(Sql(*process, db_.password()));
  ASSERT_GT(first, 0);
  ASSERT_EQ(ConnectionOf(Sql(*process, db_.password())), first);
  WriteFile(dropFile, "");  // created
  const long second = ConnectionOf(Sql(*process, db_.password()));
  EXPECT_GT(second, 0);
  EXPECT_NE(second, first);
  EXPECT_FALSE(Attached(first));
  ASSERT_EQ(ConnectionOf(Sql(*process, db_.password())), second) << "unchanged: kept";
  WriteFile(dropFile, "x\n");  // written again
  const long third = ConnectionOf(Sql(*process, db_.password()));
  EXPECT_NE(third, second);
}

// Attaches of credentials the process has not seen succeed take one of the host's login slots
// (MaxConcurrentLogins): with every slot taken (here by the test's lock, elsewhere by wrong
// passwords the server delays) they fail at once, as a failed attach does; credentials that
// attached here before go on without a slot, even once their kept attachment has gone.
TEST_F(FastCgiDb, NewLoginsBeyondTheHostsSlotsFailAtOnce) {
  WriteServerSettings("MaxConcurrentLogins=1\r\n");
  const std::string logs = drives_.path() + "/C/KVO/KVO.Net/Logs";
  WriteFile(logs + "/Log.txt", "");
  auto process = Start();
  const long first = ConnectionOf(Sql(*process, db_.password()));
  ASSERT_GT(first, 0);
  const int slot = ::open((logs + "/Login.0.lck").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(slot, 0) << "the process made its slot file";
  ASSERT_EQ(::flock(slot, LOCK_EX | LOCK_NB), 0);

  const CgiResult stranger = Sql(*process, db_.password() + "x");
  EXPECT_EQ(ConnectionOf(stranger), -1);
  EXPECT_NE(stranger.Body().find("Too many logins in progress"), std::string::npos)
      << stranger.Body();
  WriteFile(logs + "/KeptAttachments.Drop", "");  // the kept attachment goes
  const long again = ConnectionOf(Sql(*process, db_.password()));
  EXPECT_GT(again, 0) << "known credentials attach without a slot";
  EXPECT_NE(again, first);

  ::close(slot);
  const CgiResult wrong = Sql(*process, db_.password() + "x");
  EXPECT_NE(wrong.Body().find("Your user name and password are not defined"), std::string::npos)
      << "a free slot: the server answers " << wrong.Body();
}

TEST_F(FastCgiDb, BrokenKeptAttachmentIsReplacedBeforeTheRequestRuns) {
  auto process = Start();
  const long first = ConnectionOf(Sql(*process, db_.password()));
  ASSERT_GT(first, 0);
  // What a server restart does to a kept attachment.
  db_.Execute("delete from mon$attachments where mon$attachment_id = " + std::to_string(first));
  const CgiResult r = Sql(*process, db_.password());
  const long second = ConnectionOf(r);
  EXPECT_GT(second, 0) << r.Body();
  EXPECT_NE(second, first);
}

TEST_F(FastCgiDb, IdleAttachmentsAreDetachedWhileTheProcessWaits) {
  WriteServerSettings("KeepAttachmentsSeconds=1\r\n");
  auto process = Start();
  const long first = ConnectionOf(Sql(*process, db_.password()));
  ASSERT_GT(first, 0);
  EXPECT_TRUE(Attached(first));
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_FALSE(Attached(first)) << "no request came, the idle time passed";
}

TEST_F(FastCgiDb, ChangedPasswordDropsTheProcessesKeptAttachmentsAtOnce) {
  auto process = Start();
  const std::string user = "KVOFCGI" + std::to_string(::getpid());
  auto manage = [&](const std::string& operation, const std::string& password) {
    const std::string body = Form({{"o", operation},
                                   {"u", db_.user()},
                                   {"p", db_.password()},
                                   {"username", user},
                                   {"password", password}});
    return process->Request(RequestParams("POST", "/usermanager", drives_.path(), body), body)
        .Body();
  };
  auto sqlAs = [&](const std::string& password) {
    const std::string body = Form({{"db", db_.connection()},
                                   {"u", user},
                                   {"p", password},
                                   {"q", kConnectionQuery},
                                   {"z", "false"}});
    return ConnectionOf(
        process->Request(RequestParams("POST", "/sql", drives_.path(), body), body));
  };
  ASSERT_EQ(manage("add", "first1").rfind("Erro", 0), std::string::npos);
  const long kept = sqlAs("first1");
  ASSERT_GT(kept, 0);
  EXPECT_TRUE(Attached(kept));
  EXPECT_EQ(manage("upd", "second2").rfind("Erro", 0), std::string::npos);
  EXPECT_FALSE(Attached(kept));
  EXPECT_EQ(sqlAs("first1"), -1) << "the old password";
  EXPECT_GT(sqlAs("second2"), 0) << "the new password";
  manage("del", "");
}

// /login answers what the server says now, not what a kept attachment remembers: one that
// broke while it waited (here: ended by an administrator after a password change) is replaced,
// and the replacement's refusal is the answer.
TEST_F(FastCgiDb, LoginChecksAKeptAttachment) {
  const std::string user = "KVOLOGIN" + std::to_string(::getpid());
  db_.Execute("create user " + user + " password 'first1'");
  auto process = Start();
  auto login = [&] {
    const std::string body = Form({{"db", db_.connection()}, {"u", user}, {"p", "first1"}});
    return process->Request(RequestParams("POST", "/login", drives_.path(), body), body).Body();
  };
  EXPECT_EQ(login(), "true");
  db_.Execute("alter user " + user + " password 'second2'");
  db_.Execute("delete from mon$attachments where mon$user = '" + user + "'");
  EXPECT_EQ(login(), "false");
  db_.Execute("drop user " + user);
}

// Parameters that arrive after the next kept attachment is due to go: the request is answered
// in full (an idle timer once broke off its reading and left an empty answer), and the kept
// attachment goes once the request is done.
TEST_F(FastCgiDb, ParametersArrivingAcrossAnIdleDeadline) {
  WriteServerSettings("KeepAttachmentsSeconds=2\r\n");
  auto process = Start();
  const long first = ConnectionOf(Sql(*process, db_.password()));
  ASSERT_GT(first, 0);
  const std::string body = Form({{"db", db_.connection()},
                                 {"u", db_.user()},
                                 {"p", db_.password()},
                                 {"q", kConnectionQuery},
                                 {"z", "false"}});
  const int connection = process->Begin();
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  process->SendParams(connection, RequestParams("POST", "/sql", drives_.path(), body), body);
  const CgiResult r = process->Receive(connection);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_GT(ConnectionOf(r), 0) << r.output;
}

// The running query waits for a row this test holds locked, so the signal provably comes while
// it runs; the answer is complete once the lock goes.
TEST_F(FastCgiDb, StopSignalLetsARunningQueryFinish) {
  db_.Execute(std::vector<std::string>{"create table locked (id integer)",
                                       "insert into locked values (1)"});
  auto process = Start();
  const std::string statement = "select id from locked with lock";
  const std::string body = Form({{"db", db_.connection()},
                                 {"u", db_.user()},
                                 {"p", db_.password()},
                                 {"q", statement},
                                 {"z", "false"}});
  fb::Attachment holder = db_.Attach();
  std::optional<fb::Transaction> lock(holder.StartTransaction());
  holder.ExecuteImmediate(*lock, "update locked set id = 1");
  const int connection = process->Send(RequestParams("POST", "/sql", drives_.path(), body), body);
  const auto running = [&] {
    fb::Attachment a = db_.Attach();
    fb::Transaction t = a.StartTransaction();
    fb::ResultSet rows = a.Prepare(t,
                                   "select count(*) from mon$statements where mon$state = 1 and "
                                   "mon$sql_text = '" +
                                       statement + "'")
                             .Open();
    rows.Fetch();
    return rows.GetInt64(0) == 1;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(running()) << "the query never waited for the lock";
  ASSERT_EQ(::kill(process->pid(), SIGTERM), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  lock->Rollback();
  const CgiResult r = process->Receive(connection);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.Body().find("</DATAPACKET>"), std::string::npos) << r.Body();
  EXPECT_EQ(process->WaitExit(10), 0);
}

TEST_F(FastCgiDb, StopSignalEndsAnIdleProcessThatHasAttached) {
  auto process = Start();
  ASSERT_GT(ConnectionOf(Sql(*process, db_.password())), 0);
  ASSERT_EQ(::kill(process->pid(), SIGTERM), 0);
  EXPECT_EQ(process->WaitExit(10), 0);
}

}  // namespace
}  // namespace kvo::testing
