// kvoclient end to end: the built program against the private Firebird server, lighttpd and the
// proxy, run as a user would run it (no terminal, the password in the environment).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "configfiles/scramble.h"
#include "platform/codepage.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/http_client.h"

namespace kvo::testing {
namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

// Runs kvoclient with `args` in a new session (so it has no terminal to prompt on), with the
// test's environment plus `env` (an empty value removes a variable).
Outcome Kvoclient(const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env, const std::string& input = "") {
  TempDir dir;
  const std::string in = dir.path() + "/in", out = dir.path() + "/out", err = dir.path() + "/err";
  WriteFile(in, input);
  std::vector<std::string> argv = {KVOCLIENT_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  // Everything the child needs is prepared before fork: after it, only exec-safe calls.
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    size_t eq = entry.find('=');
    if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : env) {
    if (value.empty()) {
      merged.erase(name);
    } else {
      merged[name] = value;
    }
  }
  std::vector<std::string> entries;
  for (const auto& [name, value] : merged) entries.push_back(name + "=" + value);
  std::vector<char*> cenv;
  for (auto& e : entries) cenv.push_back(e.data());
  cenv.push_back(nullptr);
  std::vector<char*> cargs;
  for (auto& a : argv) cargs.push_back(a.data());
  cargs.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    int fds[] = {open(in.c_str(), O_RDONLY), open(out.c_str(), O_WRONLY | O_CREAT, 0600),
                 open(err.c_str(), O_WRONLY | O_CREAT, 0600)};
    for (int i = 0; i < 3; ++i) dup2(fds[i], i);
    execve(cargs[0], cargs.data(), cenv.data());
    _exit(127);
  }
  Outcome r;
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  return r;
}

class KvoclientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    KVO_REQUIRE_ENV(url, "KVO_HTTP_URL");
    url_ = url;
    db_ = std::make_unique<TempDatabase>();
    db_->Execute(std::vector<std::string>{
        "create table clientes (id integer not null, nome varchar(20), ativo boolean, "
        "saldo numeric(9,2), nascimento date)",
        "insert into clientes values (1, 'Jo\xE3o', true, 1.5, '1990-02-28')",
        "insert into clientes values (2, 'a, \"b\"', false, -20.25, null)",
        "insert into clientes values (3, null, null, null, null)",
        "create table pedidos (id integer)"});
    env_ = {{"KVO_PASSWORD", db_->password()}, {"KVO_USER", ""}};
  }
  std::vector<std::string> Login() const {
    return {"--db", db_->connection(), "--user", db_->user()};
  }
  std::vector<std::string> Args(std::vector<std::string> more, bool remote = true) const {
    std::vector<std::string> a = Login();
    if (remote) a.insert(a.end(), {"--url", url_});
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }

  std::string url_;
  std::unique_ptr<TempDatabase> db_;
  std::map<std::string, std::string> env_;
};

TEST_F(KvoclientTest, SqlGivesTheSameRowsOnEveryRoute) {
  const std::vector<std::string> select = {"sql", "select * from clientes where id >= :id",
                                           "--param", "ID=1"};
  struct Format {
    const char* name;
    std::string expected;
  } formats[] = {
      {"table",
       "ID | NOME   | ATIVO | SALDO  | NASCIMENTO\n"
       "---+--------+-------+--------+-----------\n"
       " 1 | Jo\xC3\xA3o   | true  |   1.50 | 1990-02-28\n"
       " 2 | a, \"b\" | false | -20.25 | NULL\n"
       " 3 | NULL   | NULL  |   NULL | NULL\n"
       "(3 rows)\n"},
      {"csv",
       "ID,NOME,ATIVO,SALDO,NASCIMENTO\r\n1,Jo\xC3\xA3o,true,1.50,1990-02-28\r\n"
       "2,\"a, \"\"b\"\"\",false,-20.25,\r\n3,,,,\r\n"},
      {"json",
       "[\n  {\"ID\": 1, \"NOME\": \"Jo\xC3\xA3o\", \"ATIVO\": true, \"SALDO\": 1.50, "
       "\"NASCIMENTO\": \"1990-02-28\"},\n"
       "  {\"ID\": 2, \"NOME\": \"a, \\\"b\\\"\", \"ATIVO\": false, \"SALDO\": -20.25, "
       "\"NASCIMENTO\": null},\n"
       "  {\"ID\": 3, \"NOME\": null, \"ATIVO\": null, \"SALDO\": null, \"NASCIMENTO\": "
       "null}\n]\n"},
  };
  for (const auto& f : formats) {
    std::vector<std::string> base = select;
    base.insert(base.end(), {"--format", f.name});
    struct Route {
      const char* what;
      std::vector<std::string> args;
    } routes[] = {
        {"direct", Args(base, false)},
        {"server", Args(base)},
        {"server, compressed", Args({"--compressed"})},
    };
    routes[2].args.insert(routes[2].args.end(), base.begin(), base.end());
    for (const auto& route : routes) {
      SCOPED_TRACE(std::string(f.name) + ", " + route.what);
      Outcome r = Kvoclient(route.args, env_);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, f.expected);
      EXPECT_EQ(r.err, "");
    }
  }
}

TEST_F(KvoclientTest, StatementsWithoutRowsAndFromStandardInput) {
  Outcome r = Kvoclient(
      Args({"sql", "update clientes set saldo = 7 where id = :id", "--param", "id=1"}, false),
      env_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  r = Kvoclient(Args({"sql", "update clientes set saldo = 8 where id = 2"}), env_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  r = Kvoclient(Args({"sql", "--format", "csv"}), env_,
                "select saldo from clientes\nwhere id < 3 order by id\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "SALDO\r\n7.00\r\n8.00\r\n");
}

// Binary values reach the terminal as hexadecimal on every route; text blobs stay text.
TEST_F(KvoclientTest, BinaryValuesAsHexadecimal) {
  const std::vector<std::string> select = {
      "sql",
      "select cast(x'00FF0D0A' as blob sub_type binary) as b, "
      "cast('Jo\xC3\xA3o' as blob sub_type text) as t from rdb$database",
      "--format", "csv"};
  for (bool remote : {false, true}) {
    SCOPED_TRACE(remote ? "server" : "direct");
    Outcome r = Kvoclient(Args(select, remote), env_);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "B,T\r\n0x00FF0D0A,Jo\xC3\xA3o\r\n");
  }
}

TEST_F(KvoclientTest, ThroughTheProxy) {
  KVO_REQUIRE_ENV(host, "KVO_PROXY_HOST");
  KVO_REQUIRE_ENV(port, "KVO_PROXY_PORT");
  KVO_REQUIRE_ENV(user, "KVO_PROXY_USER");
  KVO_REQUIRE_ENV(pass, "KVO_PROXY_PASS");
  const std::vector<std::string> proxy = {"--proxy", host + ":" + port, "--proxy-user", user};
  std::vector<std::string> sql = Args(proxy);
  sql.insert(sql.end(), {"sql", "select id from clientes where id = 1", "--format", "csv"});
  std::vector<std::string> login = Args(proxy);
  login.push_back("login");
  auto env = env_;
  env["KVO_PROXY_PASSWORD"] = pass;
  Outcome r = Kvoclient(sql, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ID\r\n1\r\n");
  r = Kvoclient(login, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "true\n");

  env["KVO_PROXY_PASSWORD"] = "wrong";
  for (const auto& args : {sql, login}) {
    r = Kvoclient(args, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    // Every command names the request and shows the proxy's refusal.
    EXPECT_NE(r.err.find("kvoclient: " + url_ + "/ikvowebserver.dll/"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" 401 "), std::string::npos) << r.err;
  }
}

TEST_F(KvoclientTest, TablesAndLogin) {
  Outcome r = Kvoclient(Args({"tables"}), env_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "TABLE\n--------\nCLIENTES\nPEDIDOS\n(2 rows)\n");
  r = Kvoclient(Args({"tables", "--format", "json"}), env_);
  EXPECT_EQ(r.out, "[\n  {\"TABLE\": \"CLIENTES\"},\n  {\"TABLE\": \"PEDIDOS\"}\n]\n");

  r = Kvoclient(Args({"login"}), env_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "true\n");

  auto wrong = env_;
  wrong["KVO_PASSWORD"] = "wrong";
  r = Kvoclient(Args({"login"}), wrong);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "false\n");
  EXPECT_EQ(r.err, "kvoclient: login refused\n");
  r = Kvoclient(Args({"tables"}), wrong);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Your user name and password are not defined"), std::string::npos) << r.err;
}

TEST_F(KvoclientTest, Failures) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    int status;
    std::string message;  // part of standard error
  } cases[] = {
      {"bad statement, direct", Args({"sql", "select nope from clientes"}, false), env_, 1,
       "Column unknown\n-NOPE"},
      {"bad statement, server", Args({"sql", "select nope from clientes"}), env_, 1,
       "Column unknown\n-NOPE"},
      {"bad statement, compressed", Args({"--compressed", "sql", "select nope from clientes"}),
       env_, 1, "Column unknown\n-NOPE"},
      {"unreachable server",
       {"--url", "http://127.0.0.1:1", "--db", "x", "--user", "u", "sql", "select 1 from t"},
       env_,
       1,
       "kvoclient: "},
      {"a marker without a value", Args({"sql", "select * from clientes where id = :id"}), env_, 2,
       "no value for :id"},
      {"a value without a marker", Args({"sql", "select 1 from clientes", "--param", "x=1"}), env_,
       2, "no marker :x"},
      {"password on the command line", Args({"--password", "x", "login"}), env_, 2, "KVO_PASSWORD"},
      {"no password and no terminal",
       Args({"login"}),
       {{"KVO_PASSWORD", ""}},
       1,
       "no password: set the environment variable KVO_PASSWORD"},
      {"no database", {"--url", url_, "--user", "u", "login"}, env_, 2, "needs --db"},
      {"no url", {"tables"}, env_, 2, "needs --url"},
      {"a url that names the server program",
       {"--url", url_ + "/ikvowebserver.dll/", "--db", "x", "--user", "u", "tables"},
       env_,
       2,
       "--url ends in the server program's name; give the address in front of it (--url " + url_ +
           ")"},
      {"unknown command", {"frobnicate"}, env_, 2, "unknown command"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome r = Kvoclient(c.args, c.env);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

// The distribution actions give what the server sends, unscrambled and as UTF-8.
TEST_F(KvoclientTest, DistributionAnswers) {
  Outcome r = Kvoclient({"--url", url_, "config", "AppNet"}, env_);
  EXPECT_EQ(r.status, 0) << r.err;
  HttpResponse direct = HttpGet(ActionUrl(url_, "ikvowebserver.dll", "/config") + "?app=AppNet");
  std::string expected =
      platform::Cp1252ToUtf8(config::ScrambleText(direct.body, config::kScrambleKey));
  std::erase(expected, '\r');
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.out.rfind("URLBase=", 0), 0u) << r.out;

  r = Kvoclient({"--url", url_, "--server-program", "kvowebserver.exe", "config"}, env_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nMatrizDB="), std::string::npos) << r.out;

  direct = HttpGet(ActionUrl(url_, "ikvowebserver.dll", "/listakvomodulos"));
  r = Kvoclient({"--url", url_, "modules"}, env_);
  if (direct.status == 200) {
    expected = platform::Cp1252ToUtf8(config::ScrambleText(direct.body, config::kScrambleKey));
    std::erase(expected, '\r');
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
  } else {
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("/listakvomodulos: HTTP/1.1 500"), std::string::npos) << r.err;
  }

  KVO_REQUIRE_ENV(drives, "KVO_HTTP_DRIVES");
  const std::string folder = "kvoclient-e2e-" + std::to_string(getpid());
  WriteFile(drives + "/C/" + folder + "/kvo.exe",
            ReadFile(std::string(KVO_PE_FIXTURES) + "/pt_i686.dll"));
  r = Kvoclient({"--url", url_, "version", "file", "C:\\" + folder + "\\kvo.exe"}, env_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "3.1.4.1 (vers\xC3\xA3o)\n");
  std::filesystem::remove_all(drives + "/C/" + folder);

  for (const char* which : {"kvo", "mobile", "mobileupdate", "cd", "cdupdate"}) {
    SCOPED_TRACE(which);
    r = Kvoclient({"--url", url_, "version", which}, env_);
    const std::string action = "/versaokvo" + std::string(which == std::string("kvo") ? "" : which);
    direct = HttpGet(ActionUrl(url_, "ikvowebserver.dll", action));
    if (direct.body.empty()) {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "kvoclient: no version information (missing file or none)\n");
    } else {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, platform::Cp1252ToUtf8(direct.body) + "\n");
    }
  }
}

// A request that takes a while shows the indicator on standard error, and clears it; a quick one
// shows nothing.
TEST_F(KvoclientTest, ProgressIndicator) {
  const std::string slow =
      "select count(*) from rdb$types a, rdb$types b, rdb$types c where a.rdb$type >= 0";
  for (bool remote : {false, true}) {
    SCOPED_TRACE(remote ? "server" : "direct");
    Outcome r =
        Kvoclient(Args({"--progress", "always", "sql", slow, "--format", "csv"}, remote), env_);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("COUNT\r\n", 0), 0u) << r.out;
    EXPECT_NE(r.err.find(remote ? "waiting for the server" : "running the statement"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.back(), '\r') << "the line is blanked again";

    r = Kvoclient(Args({"--progress", "never", "sql", slow}, remote), env_);
    EXPECT_EQ(r.err, "");
  }
  Outcome quick = Kvoclient(Args({"--progress", "always", "login"}), env_);
  EXPECT_EQ(quick.err, "");
}

TEST_F(KvoclientTest, CommentsAndLineBreaksOnBothRoutes) {
  for (bool remote : {false, true}) {
    SCOPED_TRACE(remote ? "server" : "direct");
    const std::string id = remote ? "2" : "1";
    Outcome r = Kvoclient(
        Args({"sql", "delete from clientes -- only one row\nwhere id = " + id}, remote), env_);
    EXPECT_EQ(r.status, 0) << r.err;
  }
  Outcome r = Kvoclient(Args({"sql", "select id from clientes", "--format", "csv"}), env_);
  EXPECT_EQ(r.out, "ID\r\n3\r\n");
}

TEST_F(KvoclientTest, ValuesAreShownExactly) {
  const std::string select =
      "select 1e0/3 as d, cast('13:45:10.123' as time) as t, "
      "cast('2024-03-07 00:00:00' as timestamp) as ts, "
      "cast('2024-03-07 10:11:12.5' as timestamp) as tf, cast('NULL' as varchar(4)) as s, "
      "cast(null as varchar(4)) as n, cast('\\x' as varchar(4)) as b from rdb$database";
  struct Format {
    const char* name;
    std::string expected;
  } formats[] = {
      {"csv",
       "D,T,TS,TF,S,N,B\r\n0.3333333333333333,13:45:10.1230,2024-03-07 00:00:00,"
       "2024-03-07 10:11:12.5000,NULL,,\\x\r\n"},
      {"json",
       "[\n  {\"D\": 0.3333333333333333, \"T\": \"13:45:10.1230\", \"TS\": \"2024-03-07 "
       "00:00:00\", \"TF\": \"2024-03-07 10:11:12.5000\", \"S\": \"NULL\", \"N\": null, "
       "\"B\": \"\\\\x\"}\n]\n"},
      {"table",
       "D                  | T             | TS                  | TF                       | S    "
       " "
       "| N    | B\n"
       "-------------------+---------------+---------------------+--------------------------+------"
       "-"
       "+------+----\n"
       "0.3333333333333333 | 13:45:10.1230 | 2024-03-07 00:00:00 | 2024-03-07 10:11:12.5000 | "
       "\\NULL | NULL | \\\\x\n(1 row)\n"},
  };
  for (const auto& f : formats) {
    for (bool remote : {false, true}) {
      SCOPED_TRACE(std::string(f.name) + (remote ? ", server" : ", direct"));
      Outcome r = Kvoclient(Args({"sql", select, "--format", f.name}, remote), env_);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, f.expected);
    }
  }
}

TEST_F(KvoclientTest, NothingIsSentThatTheServerWouldChange) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {"a character Windows-1252 lacks",
       Args({"sql", "insert into clientes (id, nome) values (9, '\xC5\xBC\xC3\xB3\xC5\x82w')"}), 1,
       "the statement holds \"\xC5\xBC\", which Windows-1252"},
      {"in a value, direct too",
       Args({"sql", "insert into clientes (id, nome) values (9, :n)", "--param",
             "n=\xC5\xBC\xC3\xB3\xC5\x82w"},
            false),
       1, "the value of :n holds \"\xC5\xBC\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome r = Kvoclient(c.args, env_);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  Outcome count =
      Kvoclient(Args({"sql", "select count(*) from clientes", "--format", "csv"}), env_);
  EXPECT_EQ(count.out, "COUNT\r\n3\r\n") << "nothing was inserted";
  // Both routes take the marker wherever it stands.
  for (bool remote : {true, false}) {
    Outcome r = Kvoclient(
        Args({"sql", "select id from clientes where id>:x;", "--param", "x=2", "--format", "csv"},
             remote),
        env_);
    EXPECT_EQ(r.out, "ID\r\n3\r\n") << r.err;
  }
}

// A statement whose rows the server route reads is printed whatever its lines look like; one
// whose rows it would not read fails visibly instead of exiting 0 with rows missing.
TEST_F(KvoclientTest, RowsAreReadOrTheStatementIsRefused) {
  for (bool remote : {true, false}) {
    SCOPED_TRACE(remote ? "server" : "direct");
    Outcome r = Kvoclient(Args({"sql", "-", "--format", "csv"}, remote), env_,
                          "select\nid from clientes\nwhere id = 1\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ID\r\n1\r\n") << r.err;
  }
  Outcome refused = Kvoclient(
      Args({"sql", "insert into clientes (id, nome) values (50, 'r') returning id"}), env_);
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("does not read"), std::string::npos) << refused.err;
  Outcome count = Kvoclient(
      Args({"sql", "select count(*) from clientes where id = 50", "--format", "csv"}), env_);
  EXPECT_EQ(count.out, "COUNT\r\n0\r\n") << "nothing was stored";
}

TEST_F(KvoclientTest, RequestsFailAlikeAndInTime) {
  // A port that takes connections and never answers.
  int silent = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(silent, 8), 0);
  socklen_t len = sizeof addr;
  getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &len);
  const std::string silentUrl = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  const std::vector<std::string> login = {"--db", "x", "--user", "u"};
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {"sql, refused",
       {"--url", "http://127.0.0.1:9", "--db", "x", "--user", "u", "sql", "select 1 from t"},
       1,
       "kvoclient: http://127.0.0.1:9/ikvowebserver.dll/sql: Failed to connect to 127.0.0.1 port "
       "9"},
      {"version, refused",
       {"--url", "http://127.0.0.1:9", "version"},
       1,
       "kvoclient: http://127.0.0.1:9/ikvowebserver.dll/versaokvo: Failed to connect to 127.0.0.1 "
       "port 9"},
      {"sql, silent",
       {"--url", silentUrl, "--timeout", "0.5", "--db", "x", "--user", "u", "sql",
        "select 1 from t"},
       1,
       "within 0.5 seconds, the limit of this client"},
      {"version, silent",
       {"--url", silentUrl, "--timeout", "0.5", "version"},
       1,
       "within 0.5 seconds, the limit of this client"},
      {"ftp",
       {"--url", "ftp://127.0.0.1:9", "version"},
       2,
       "--url must be an http:// or https:// address"},
      {"format on version",
       {"--url", url_, "--format", "csv", "version"},
       2,
       "--format applies to sql and tables only"},
      {"a bad timeout",
       {"--url", url_, "--timeout", "soon", "version"},
       2,
       "--timeout needs a number of seconds"},
      {"no version of a missing file",
       {"--url", url_, "version", "file", "C:\\nope\\missing.exe"},
       1,
       "kvoclient: no version information (missing file or none)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome r = Kvoclient(c.args, env_);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  close(silent);
}

// Text typed, given as an argument or read from a statement file is taken in the locale's
// encoding and stored as Windows-1252; rows come back in the locale's encoding. The C locale
// takes and shows UTF-8, as scripts rely on.
TEST_F(KvoclientTest, TerminalTextInTheLocalesEncoding) {
  TempDir locales;
  for (const char* made : {"pt_BR.ISO-8859-1", "pl_PL.ISO-8859-2"}) {
    const std::string name = made;
    const std::string command = "localedef -i " + name.substr(0, 5) + " -f " + name.substr(6) +
                                " " + locales.path() + "/" + name + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "cannot make the locale " << name;
  }
  const std::string utf8 = "a\xC3\xA7\xC3\xA3o", latin1 = "a\xE7\xE3o";
  struct Case {
    const char* locale;
    const char* how;  // "argument", "file" or "param"
    std::string text;
  } cases[] = {
      {"C.UTF-8", "argument", utf8},
      {"C.UTF-8", "file", utf8},
      {"C.UTF-8", "param", utf8},
      {"pt_BR.ISO-8859-1", "argument", latin1},
      {"pt_BR.ISO-8859-1", "file", latin1},
      {"pt_BR.ISO-8859-1", "param", latin1},
      {"C", "argument", utf8},
      {"POSIX", "file", utf8},
  };
  int id = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.locale) + ", " + c.how);
    std::map<std::string, std::string> env = env_;
    // The locales made here; the system's own (C.UTF-8) are found without it.
    if (std::string(c.locale).find('_') != std::string::npos) env["LOCPATH"] = locales.path();
    env["LC_ALL"] = c.locale;
    const std::string row = std::to_string(++id);
    const std::string how = c.how;
    const std::string insert = "insert into clientes (id, nome) values (" + row + ", " +
                               (how == "param" ? std::string(":n") : "'" + c.text + "'") + ")";
    Outcome r =
        how == "file"
            ? Kvoclient(Args({"sql"}, false), env, insert)
            : Kvoclient(how == "param" ? Args({"sql", insert, "--param", "n=" + c.text}, false)
                                       : Args({"sql", insert}, false),
                        env);
    ASSERT_EQ(r.status, 0) << r.err;
    // Stored as the four Windows-1252 bytes 61 E7 E3 6F, checked in ASCII.
    Outcome stored =
        Kvoclient(Args({"sql",
                        "select id from clientes where id = " + row +
                            " and nome = 'a' || ascii_char(231) || ascii_char(227) || 'o'",
                        "--format", "csv"},
                       false),
                  env);
    EXPECT_EQ(stored.out, "ID\r\n" + row + "\r\n") << stored.err;
    Outcome read = Kvoclient(
        Args({"sql", "select nome from clientes where id = " + row, "--format", "csv"}), env);
    EXPECT_EQ(read.out, "NOME\r\n" + c.text + "\r\n") << read.err;
  }

  // A character Windows-1252 lacks is refused, named in the terminal's own encoding.
  std::map<std::string, std::string> env = env_;
  env["LOCPATH"] = locales.path();
  env["LC_ALL"] = "pl_PL.ISO-8859-2";
  Outcome r =
      Kvoclient(Args({"sql", "insert into clientes (id, nome) values (99, 'z\xB3y')"}), env);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the statement holds \"\xB3\", which Windows-1252 cannot hold"),
            std::string::npos)
      << r.err;
  Outcome count = Kvoclient(
      Args({"sql", "select count(*) from clientes where id = 99", "--format", "csv"}), env_);
  EXPECT_EQ(count.out, "COUNT\r\n0\r\n");
  // Names and passwords too, the password without showing its character.
  std::vector<std::string> login = {"--db", db_->connection(), "--user", "z\xB3y", "--url", url_,
                                    "login"};
  r = Kvoclient(login, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the user name holds \"\xB3\""), std::string::npos) << r.err;
  env["KVO_PASSWORD"] = "p\xB3";
  r = Kvoclient(Args({"login"}), env);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the password holds a character that Windows-1252 cannot hold"),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace kvo::testing
