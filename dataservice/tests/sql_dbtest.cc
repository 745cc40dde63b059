// /sql end to end: the real program as a CGI child against the private Firebird server, with
// the statement log in a throwaway drive folder.
#include <gtest/gtest.h>
// Plain zlib, independent of the program's own inflater, proves the body is a standard stream.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "configfiles/text_lines.h"
#include "dataservice/statement_log.h"
#include "packet/packet.h"
#include "tests/support/cgi_runner.h"
#include "tests/support/fb_testdb.h"

namespace kvo::testing {
namespace {

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?> ";

std::string Encode(std::string_view v) {
  std::string out;
  for (unsigned char c : v) {
    if (std::isalnum(c) && c < 0x80) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

using testing::ErrorMessage;

std::string Inflate(const std::string& bytes) {
  std::string out(bytes.size() * 20 + 1024, '\0');
  for (;;) {
    uLongf n = out.size();
    int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &n,
                        reinterpret_cast<const Bytef*>(bytes.data()), bytes.size());
    if (rc == Z_BUF_ERROR) {
      out.resize(out.size() * 2);
      continue;
    }
    EXPECT_EQ(Z_OK, rc);
    out.resize(n);
    return out;
  }
}

class SqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    db_ = std::make_unique<TempDatabase>();
    db_->Execute(std::vector<std::string>{
        "create table t (id integer not null primary key, name varchar(40), price numeric(15,2),"
        " born date, stamp timestamp, ok boolean, memo blob sub_type 1, code char(3))",
        "insert into t values (1, 'Jo\xE3o & <Z>', 1234.5, '2024-02-29',"
        " '2024-02-29 13:14:15.1234', true, 'line1' || ascii_char(13) || ascii_char(10) || 'l2',"
        " 'AB')",
        "insert into t (id, name) values (2, '')",
        "create procedure p (a integer) returns (b integer) as begin b = a + 1; end",
        "create procedure touch (a integer) returns (b integer) as begin"
        " insert into t (id) values (:a); b = a; suspend; end",
        // Writes a row per fetch and fails on the third.
        "create exception boom 'boom on the third row'",
        "create procedure third (a integer) returns (b integer) as declare i integer = 0; begin"
        " while (i < 3) do begin i = i + 1; if (i = 3) then exception boom;"
        " insert into t (id) values (:a + :i); b = a + i; suspend; end end",
    });
    log_ = drives_.path() + "/C/KVO/KVO.Net/Logs/Log.txt";
    std::filesystem::create_directories(drives_.path() + "/C/KVO/KVO.Net/Logs");
  }

  CgiResult Sql(std::string_view q, std::string_view z = "false", std::string_view password = {}) {
    std::string body =
        "z=" + Encode(z) + "&db=" + Encode(db_->connection()) + "&u=" + Encode(db_->user()) +
        "&p=" + Encode(password.empty() ? db_->password() : password) + "&q=" + Encode(q) + "&";
    CgiResult r = PostCgi("/sql", body, {{"KVO_DRIVES", drives_.path()}});
    EXPECT_EQ(0, r.exitCode);
    return r;
  }

  // The log's lines, each without its time stamp ("dd/mm/yyyy hh:nn:ss - ") where it has one
  // (the continuation lines of a message or statement with line breaks have none).
  std::vector<std::string> LogEntries(const std::string& path = {}) {
    std::vector<std::string> out;
    for (const std::string& line : config::SplitLines(ReadFile(path.empty() ? log_ : path))) {
      bool stamped = line.size() >= 22 && line[2] == '/' && line[5] == '/' && line[13] == ':' &&
                     line.substr(19, 3) == " - ";
      out.push_back(stamped ? line.substr(22) : line);
    }
    return out;
  }

  std::unique_ptr<TempDatabase> db_;
  TempDir drives_;
  std::string log_;
};

TEST_F(SqlTest, XmlAnswer) {
  const std::string q = "select * from t order by id";
  for (const char* z : {"false", "", "yes"}) {
    CgiResult r = Sql(q, z);
    EXPECT_NE(std::string::npos, r.Head().find("Content-Type: text/html\r\n")) << r.Head();
    std::string body = r.Body();
    ASSERT_EQ(0u, body.rfind(kDeclaration, 0)) << body.substr(0, 300);
    packet::Packet p = packet::LoadXml(body);
    ASSERT_EQ(8u, p.FieldCount());
    ASSERT_EQ(2u, p.RowCount());
    EXPECT_EQ("ID", p.Fields()[0].attrName);
    EXPECT_TRUE(p.Fields()[0].required);
    EXPECT_EQ(packet::FieldType::Fixed, p.Fields()[2].type);
    EXPECT_EQ(15, p.Fields()[2].width);
    EXPECT_EQ(2, p.Fields()[2].decimals);
    EXPECT_EQ("Jo\xE3o & <Z>", p.GetBytes(0, 1));
    EXPECT_EQ("1234.50", p.GetFixedText(0, 2));
    EXPECT_EQ((packet::Date{2024, 2, 29}), p.GetDate(0, 3));
    EXPECT_EQ((packet::Time{13, 14, 15, 1234}), p.GetDateTime(0, 4).time);
    EXPECT_TRUE(p.GetBool(0, 5));
    EXPECT_EQ("line1\r\nl2", p.GetBytes(0, 6));
    EXPECT_EQ("AB ", p.GetBytes(0, 7));
    EXPECT_EQ("", p.GetBytes(1, 1));
    EXPECT_TRUE(p.IsNull(1, 2));
    EXPECT_NE(std::string::npos, body.find("<ROW ID=\"2\" NAME=\"\"/>"));
  }
  EXPECT_EQ(std::vector<std::string>(3, q), LogEntries());
}

TEST_F(SqlTest, CompressedAnswer) {
  const std::string q = "  \r\n SELECT * from t where id = 1";
  for (const char* z : {"true", "TRUE", "tRuE"}) {
    CgiResult r = Sql(q, z);
    EXPECT_EQ(
        "Status: 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Security-Policy: "
        "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n",
        r.Head());
    std::string body = r.Body();
    ASSERT_GE(body.size(), 2u);
    EXPECT_EQ("\x78\xDA", body.substr(0, 2));
    packet::Packet p = packet::LoadBinary(Inflate(body));
    ASSERT_EQ(1u, p.RowCount());
    EXPECT_EQ((packet::Time{13, 14, 15, 1234}), p.GetDateTime(0, 4).time);
    EXPECT_EQ("line1\r\nl2", p.GetBytes(0, 6));
  }
  // A statement with line breaks is logged as received: its lines count apart afterwards.
  std::vector<std::string> want;
  for (int i = 0; i < 3; ++i) want.insert(want.end(), {"  ", " SELECT * from t where id = 1"});
  EXPECT_EQ(want, LogEntries());
}

TEST_F(SqlTest, EmptyResultKeepsTheColumns) {
  for (const char* z : {"false", "true"}) {
    CgiResult r = Sql("select id, name from t where id < 0", z);
    packet::Packet p = std::string(z) == "true" ? packet::LoadBinary(Inflate(r.Body()))
                                                : packet::LoadXml(r.Body());
    EXPECT_EQ(2u, p.FieldCount());
    EXPECT_EQ(0u, p.RowCount());
  }
}

TEST_F(SqlTest, OtherStatementsAnswerEmpty) {
  // z is not consulted for statements that are not selects.
  for (const char* q : {"insert into t (id) values (3)", "update t set name = 'x' where id = 3",
                        "execute procedure p 1", "insert into t (id) values (4) returning id"}) {
    CgiResult r = Sql(q, "true");
    EXPECT_EQ(
        "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
        "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n",
        r.output)
        << q;
  }
  CgiResult r = Sql("select name from t where id in (3, 4) order by id");
  packet::Packet p = packet::LoadXml(r.Body());
  ASSERT_EQ(2u, p.RowCount());
  EXPECT_EQ("x", p.GetBytes(0, 0));
  EXPECT_EQ(5u, LogEntries().size());
}

// A select's work is committed before it is answered, in both answers.
TEST_F(SqlTest, SelectsAreCommitted) {
  EXPECT_FALSE(ErrorMessage(Sql("select b from touch(10)", "false").Body()));
  EXPECT_FALSE(ErrorMessage(Sql("select b from touch(11)", "true").Body()));
  packet::Packet p = packet::LoadXml(Sql("select id from t where id >= 10 order by id").Body());
  ASSERT_EQ(2u, p.RowCount());
  EXPECT_EQ(11, p.GetInt(1, 0));
}

// A commit the server refuses is the request's failure: the error page in every answer (the
// compressed one was once sent before the commit and reported success), the statement and the
// message in the log, and nothing of the work left behind.
TEST_F(SqlTest, ARefusedCommitIsAnsweredAndLogged) {
  db_->Execute(std::vector<std::string>{
      "create exception refused 'commit refused'",
      "create trigger refuse on transaction commit as begin"
      " if (exists(select 1 from t where id >= 100)) then exception refused; end"});
  const struct {
    const char* q;
    const char* z;
  } kCases[] = {
      {"select b from touch(100)", "true"},
      {"select b from touch(101)", "false"},
      {"insert into t (id) values (102)", "true"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.q) + ", z=" + c.z);
    std::filesystem::remove(log_);
    CgiResult r = Sql(c.q, c.z);
    EXPECT_EQ(0u, r.Head().find("Status: 200 OK\r\nContent-Type: text/html\r\n")) << r.Head();
    std::optional<std::string> message = ErrorMessage(r.Body());
    ASSERT_TRUE(message) << r.output;
    EXPECT_NE(std::string::npos, message->find("commit refused")) << *message;
    std::vector<std::string> want = {c.q};
    for (const std::string& line : config::SplitLines(*message)) want.push_back(line);
    EXPECT_EQ(want, LogEntries());
  }
  packet::Packet p = packet::LoadXml(Sql("select count(*) from t where id >= 100").Body());
  EXPECT_EQ(0, p.GetInt(0, 0));
}

// The statement padded with blanks one byte beyond what Firebird prepares.
std::string TooLong(std::string statement) {
  statement.resize(10485761, ' ');
  return statement;
}

TEST_F(SqlTest, FailuresAnswerTheErrorPageAndAreLogged) {
  struct Case {
    const char* name;
    std::string q;
    std::string password;
    std::string message;  // a part of the message
    bool statementLogged;
  } cases[] = {
      {"wrong password", "select * from t", "wrong", "Your user name and password are not defined",
       false},
      {"bad select", "select * from nosuch", "", "Table unknown", true},
      {"bad statement", "delete from nosuch", "", "Table unknown", true},
      {"failing insert", "insert into t (id) values (1)", "", "violation of PRIMARY", true},
      {"common table expression", "with x as (select 1 a from rdb$database) select * from x", "",
       "use Open para uma Select Statement", true},
      {"empty statement", "", "", "", true},
      // Longer than Firebird takes: the server's own message, before the text is sent.
      {"select too long", TooLong("select * from t"), "", "SQL statement is too long", true},
      {"statement too long", TooLong("delete from t"), "",
       "-Implementation limit exceeded\n-SQL statement is too long. Maximum size is 10485760 "
       "bytes.",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(log_);
    CgiResult r = Sql(c.q, "true", c.password);
    EXPECT_NE(std::string::npos, r.Head().find("Content-Type: text/html\r\n"));
    std::optional<std::string> message = ErrorMessage(r.Body());
    ASSERT_TRUE(message) << r.output;
    EXPECT_NE(std::string::npos, message->find(c.message)) << *message;
    std::vector<std::string> want;
    // An over-long statement is logged by its start and its length.
    const size_t kept = dataservice::StatementLog::kMaxStatementBytes;
    if (c.statementLogged)
      want.push_back(c.q.size() <= kept ? c.q
                                        : c.q.substr(0, kept) + " [... " +
                                              std::to_string(c.q.size()) + " bytes in all]");
    for (const std::string& line : config::SplitLines(*message)) want.push_back(line);
    EXPECT_EQ(want, LogEntries());
  }
  // The refused insert was rolled back, the common table expression never ran.
  packet::Packet p = packet::LoadXml(Sql("select count(*) from t").Body());
  EXPECT_EQ(2, p.GetInt(0, 0));
}

int RowCount(const TempDatabase& db) {
  fb::Attachment a = db.Attach();
  fb::Transaction t = a.StartTransaction();
  fb::ResultSet rs = a.Prepare(t, "select count(*) from t").Open();
  rs.Fetch();
  return static_cast<int>(rs.GetInt64(0));
}

// COMMIT and ROLLBACK end the request's transaction themselves: they are answered like any
// other statement that succeeded, with one log entry, and the program never touches the ended
// transaction again (it once crashed). SET TRANSACTION is refused with a clear message.
TEST_F(SqlTest, StatementsThatEndTheTransaction) {
  for (const char* q : {"commit", "rollback", "COMMIT WORK", "Rollback Work", "commit retain",
                        "rollback retain", "  commit  "}) {
    SCOPED_TRACE(q);
    std::filesystem::remove(log_);
    CgiResult r = Sql(q);
    EXPECT_EQ(
        "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
        "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n",
        r.output);
    EXPECT_EQ(std::vector<std::string>{q}, LogEntries());
  }
  std::filesystem::remove(log_);
  const std::string q = "set transaction";
  std::optional<std::string> message = ErrorMessage(Sql(q).Body());
  ASSERT_TRUE(message);
  EXPECT_EQ("SET TRANSACTION cannot run here: the statement already runs in a transaction",
            *message);
  EXPECT_EQ((std::vector<std::string>{q, *message}), LogEntries());
  EXPECT_EQ(2, RowCount(*db_));
}

// The server reads a statement only up to a NUL byte: wherever one stands, nothing runs and the
// caller is told, never a prefix of the statement (which once deleted every row).
TEST_F(SqlTest, ANulByteInTheStatementRunsNothing) {
  const std::string kMessage = "The statement holds a NUL byte at position ";
  // The statement: `before`, a NUL byte, `after`.
  const std::pair<std::string, std::string> cases[] = {
      {"delete from t where id > 0", " and id = 2"},
      {"", "delete from t"},
      {"delete from t", ""},
      {"update t set name = 'a", "b' where id = 2"},
      {"select * from t", " where id = 1"},
  };
  for (const auto& [before, after] : cases) {
    const std::string q = before + '\0' + after;
    for (const char* z : {"false", "true"}) {
      SCOPED_TRACE(before + "|" + after + " " + z);
      std::filesystem::remove(log_);
      std::optional<std::string> message = ErrorMessage(Sql(q, z).Body());
      ASSERT_TRUE(message);
      EXPECT_EQ(kMessage + std::to_string(before.size() + 1) + "; nothing was run", *message);
      // Read as bytes: the statement is logged whole, NUL included.
      const std::string bytes = ReadFile(log_);
      EXPECT_NE(std::string::npos, bytes.find(" - " + q + "\r\n")) << bytes;
      EXPECT_NE(std::string::npos, bytes.find(" - " + *message + "\r\n")) << bytes;
    }
  }
  EXPECT_EQ(2, RowCount(*db_));
  packet::Packet p = packet::LoadXml(Sql("select name from t where id = 2").Body());
  EXPECT_EQ("", p.GetBytes(0, 0));
}

// A select whose procedure writes a row per fetch and fails on the third answers the error
// page and leaves no row behind, in both answers: the failure rolls back before the connection
// closes (closing commits).
TEST_F(SqlTest, AFailureMidFetchLeavesNoWrites) {
  for (const char* z : {"false", "true"}) {
    SCOPED_TRACE(z);
    std::optional<std::string> message = ErrorMessage(Sql("select b from third(100)", z).Body());
    ASSERT_TRUE(message);
    EXPECT_NE(std::string::npos, message->find("boom on the third row")) << *message;
    EXPECT_EQ(2, RowCount(*db_));
  }
  // The same procedure without its failure keeps its rows: the rule is for failures only.
  EXPECT_FALSE(ErrorMessage(Sql("select b from touch(100)").Body()));
  EXPECT_EQ(3, RowCount(*db_));
}

TEST_F(SqlTest, RotationAt5000Lines) {
  std::string lines;
  for (int i = 0; i < 4999; ++i) lines += "01/01/2020 00:00:00 - old " + std::to_string(i) + "\r\n";
  WriteFile(log_, lines);
  const std::string q = "select id from t";
  Sql(q);
  EXPECT_EQ(5000u, LogEntries().size());
  const std::string before = ReadFile(log_);
  Sql(q);
  EXPECT_EQ(std::vector<std::string>{q}, LogEntries());
  std::vector<std::string> rotated;
  for (const auto& e : std::filesystem::directory_iterator(drives_.path() + "/C/KVO/KVO.Net/Logs"))
    if (e.path().filename().string().rfind("Log_", 0) == 0) rotated.push_back(e.path());
  ASSERT_EQ(1u, rotated.size());
  EXPECT_EQ(before, ReadFile(rotated[0]));
  const std::string name = std::filesystem::path(rotated[0]).filename();
  EXPECT_EQ(27u, name.size()) << name;  // Log_yyyy_mm_dd_hh_nn_ss.txt
}

TEST_F(SqlTest, RotationNeverOverwritesACopyOfTheSameSecond) {
  std::string lines;
  for (int i = 0; i < 5000; ++i) lines += "x\r\n";
  WriteFile(log_, lines);
  // Copies already taken for the next few seconds: the rotation must find a free name.
  const std::string folder = drives_.path() + "/C/KVO/KVO.Net/Logs/";
  std::time_t now = std::time(nullptr);
  std::vector<std::string> taken;
  for (int i = 0; i < 4; ++i) {
    std::tm tm{};
    std::time_t t = now + i;
    localtime_r(&t, &tm);
    char name[64];
    std::strftime(name, sizeof name, "Log_%Y_%m_%d_%H_%M_%S.txt", &tm);
    taken.push_back(folder + name);
    WriteFile(taken.back(), "taken\r\n");
  }
  Sql("select id from t");
  for (const std::string& t : taken) EXPECT_EQ("taken\r\n", ReadFile(t)) << t;
  int copies = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.path().filename().string().rfind("Log_", 0) == 0 && ReadFile(e.path()) == lines) ++copies;
  EXPECT_EQ(1, copies);
  EXPECT_EQ(1u, LogEntries().size());
}

TEST_F(SqlTest, ParallelRequestsKeepEveryEntry) {
  // Started close to the threshold so that a rotation happens while requests overlap.
  std::string lines;
  for (int i = 0; i < 4990; ++i) lines += "01/01/2020 00:00:00 - old\r\n";
  WriteFile(log_, lines);
  constexpr int kThreads = 8, kPerThread = 5;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        std::string q = "select " + std::to_string(t * 100 + i) + " as n from rdb$database";
        CgiResult r = Sql(q);
        if (ErrorMessage(r.Body())) ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(0, failures.load());
  std::multiset<std::string> all;
  for (const auto& e :
       std::filesystem::directory_iterator(drives_.path() + "/C/KVO/KVO.Net/Logs")) {
    std::string name = e.path().filename();
    ASSERT_TRUE(name == "Log.txt" || name == "Log.lck" || name.rfind("Log_", 0) == 0) << name;
    if (name == "Log.lck") continue;
    for (const std::string& entry : LogEntries(e.path())) all.insert(entry);
  }
  EXPECT_EQ(4990u, all.count("old"));
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kPerThread; ++i) {
      std::string q = "select " + std::to_string(t * 100 + i) + " as n from rdb$database";
      EXPECT_EQ(1u, all.count(q)) << q;
    }
}

// Requests killed at any moment leave the previous complete log or a complete new one.
TEST_F(SqlTest, KilledRequestsNeverLeaveAHalfWrittenLog) {
  std::string lines;
  for (int i = 0; i < 3000; ++i) lines += "01/01/2020 00:00:00 - old\r\n";
  WriteFile(log_, lines);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  std::srand(12345);
  for (int i = 0; i < 20; ++i) {
    std::string q = "select " + std::to_string(i) + " as n from rdb$database";
    std::string body = "z=false&db=" + Encode(db_->connection()) + "&u=" + Encode(db_->user()) +
                       "&p=" + Encode(db_->password()) + "&q=" + Encode(q) + "&";
    std::vector<std::string> vars = env;
    for (std::string v : {"REQUEST_METHOD=POST", "SERVER_PROTOCOL=HTTP/1.1", "PATH_INFO=/sql"})
      vars.push_back(v);
    vars.push_back("CONTENT_LENGTH=" + std::to_string(body.size()));
    vars.push_back("KVO_DRIVES=" + drives_.path());
    std::vector<char*> envp;
    for (std::string& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    int in[2];
    ASSERT_EQ(0, pipe(in));
    pid_t pid = fork();
    if (pid == 0) {
      dup2(in[0], 0);
      close(in[1]);
      int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 1);
      char* argv[] = {const_cast<char*>(KVO_SERVER_BINARY), nullptr};
      execve(KVO_SERVER_BINARY, argv, envp.data());
      _exit(127);
    }
    close(in[0]);
    ASSERT_EQ(static_cast<ssize_t>(body.size()), write(in[1], body.data(), body.size()));
    close(in[1]);
    usleep(static_cast<useconds_t>(std::rand() % 40000));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    std::vector<std::string> entries = LogEntries();
    ASSERT_GE(entries.size(), 3000u);
    for (size_t k = 0; k < 3000; ++k) ASSERT_EQ("old", entries[k]) << k;
    for (size_t k = 3000; k < entries.size(); ++k)
      EXPECT_EQ(0u, entries[k].rfind("select ", 0)) << entries[k];
    EXPECT_EQ("\r\n", ReadFile(log_).substr(ReadFile(log_).size() - 2));
  }
}

}  // namespace
}  // namespace kvo::testing
