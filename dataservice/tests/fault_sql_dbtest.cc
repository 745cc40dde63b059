// /sql under failing parts: a Firebird server that is down or dies mid-select, a statement log
// folder that is missing, read-only or full, and CGI processes killed at random moments. Each
// case checks the answer, that the process ends, and that the log is never truncated or
// half-written.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "configfiles/text_lines.h"
#include "packet/packet.h"
#include "tests/support/cgi_runner.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kXmlDeclaration[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?> ";

// The source folder, as the build folder of the program under test records it.
std::string SourceRoot() {
  std::filesystem::path build =
      std::filesystem::path(KVO_SERVER_BINARY).parent_path().parent_path();
  std::ifstream cache(build / "CMakeCache.txt");
  const std::string key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
  for (std::string line; std::getline(cache, line);)
    if (line.rfind(key, 0) == 0) return line.substr(key.size());
  throw std::runtime_error("no source folder in " + (build / "CMakeCache.txt").string());
}

using testing::ErrorMessage;

// One kvowebserver CGI process, started at once; its output is collected by Finish.
class CgiProcess {
 public:
  // `asUser`: run under setpriv as that unprivileged user (root ignores permission bits).
  CgiProcess(const std::string& body, const std::string& drives, const std::string& asUser = {}) {
    std::map<std::string, std::string> env = {
        {"REQUEST_METHOD", "POST"},
        {"SERVER_PROTOCOL", "HTTP/1.1"},
        {"PATH_INFO", "/sql"},
        {"CONTENT_LENGTH", std::to_string(body.size())},
        {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
        {"KVO_DRIVES", drives},
    };
    for (const char* name : {"FIREBIRD", "PATH"})
      if (auto v = Env(name)) env[name] = *v;
    for (const char* name : testing::kSanitizerOptions)
      if (auto v = Env(name)) env[name] = *v;
    std::vector<std::string> storage;
    for (const auto& [k, v] : env) storage.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : storage) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args;
    if (!asUser.empty())
      args = {"/usr/bin/setpriv", "--reuid=" + asUser, "--regid=nogroup", "--clear-groups"};
    args.push_back(KVO_SERVER_BINARY);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    out_ = out[0];
    // Small bodies only: the pipe holds them whole, so the write never blocks.
    if (write(in[1], body.data(), body.size()) != static_cast<ssize_t>(body.size()))
      throw std::runtime_error("short write to the CGI's standard input");
    close(in[1]);
  }
  ~CgiProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  CgiProcess(const CgiProcess&) = delete;
  CgiProcess& operator=(const CgiProcess&) = delete;

  pid_t pid() const { return pid_; }
  void Kill() { kill(pid_, SIGKILL); }
  // Reads the output until the process closes it, then reaps the process. False when that
  // takes longer than `limit` (the process is then killed): a hanging request.
  bool Finish(milliseconds limit) {
    auto deadline = Clock::now() + limit;
    char buffer[65536];
    for (;;) {
      auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        Kill();
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return false;
      }
      pollfd fd{out_, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left)) <= 0) continue;
      ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0) break;
      output.append(buffer, static_cast<size_t>(n));
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    exitedNormally = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return true;
  }
  std::string Body() const {
    size_t p = output.find("\r\n\r\n");
    return p == std::string::npos ? output : output.substr(p + 4);
  }

  std::string output;
  bool exitedNormally = false;

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

// The statement log's lines, each split into its time stamp check and its text.
struct LogLine {
  bool stamped;
  std::string text;
};
std::vector<LogLine> ParseLog(const std::string& bytes) {
  static const std::regex stamp(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d - )");
  std::vector<LogLine> out;
  for (const std::string& line : config::SplitLines(bytes)) {
    bool stamped = std::regex_search(line, stamp);
    out.push_back({stamped, stamped ? line.substr(22) : line});
  }
  return out;
}

// Entry `index` of log bytes that hold only entries whose text contains no "dd/mm/yyyy"
// stamp: the entry without its 19-character stamp, through its CR LF; "" when there is none.
std::string Unstamped(const std::string& bytes, size_t index) {
  static const std::regex stamp(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d - )");
  std::vector<size_t> starts;
  for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), stamp);
       it != std::sregex_iterator(); ++it)
    starts.push_back(static_cast<size_t>(it->position()));
  if (index >= starts.size()) return {};
  size_t end = index + 1 < starts.size() ? starts[index + 1] : bytes.size();
  return bytes.substr(starts[index] + 19, end - starts[index] - 19);
}

class SqlFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    logDir_ = drives_.path() + "/C/KVO/KVO.Net/Logs";
    log_ = logDir_ + "/Log.txt";
    std::filesystem::create_directories(logDir_);
  }

  std::string SqlBody(const TempDatabase& db, const std::string& q, const std::string& z = "") {
    return Form(
        {{"z", z}, {"db", db.connection()}, {"u", db.user()}, {"p", db.password()}, {"q", q}});
  }

  TempDir drives_;
  std::string logDir_, log_;
};

// A private Firebird server for the test alone, so that stopping or killing it disturbs nobody.
class PrivateServer {
 public:
  PrivateServer() {
    std::string cmd =
        "bash -c '. \"$0\"/scripts/lib/services.sh && fb_start \"$1\" >&2 && "
        "echo \"$FB_PORT $FB_PASSWORD $FB_DATADIR\"' '" +
        SourceRoot() + "' '" + dir_.path() + "'";
    FILE* p = popen(cmd.c_str(), "r");
    char line[512] = {};
    if (!p || !fgets(line, sizeof line, p)) {
      if (p) pclose(p);
      throw std::runtime_error("the private Firebird server did not start");
    }
    pclose(p);
    std::istringstream fields(line);
    fields >> port_ >> password_ >> dataDir_;
  }
  ~PrivateServer() { Kill(); }
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;

  // Kills the server at once (SIGKILL), like a crash or a power cut of the database host.
  void Kill() {
    std::ifstream pidFile(dir_.path() + "/fb/server/firebird.pid");
    pid_t pid = 0;
    if (pidFile >> pid && pid > 0 && ::kill(pid, SIGKILL) == 0) {
      // Not our child (started by a shell that has ended): wait until it is gone.
      for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i)
        std::this_thread::sleep_for(milliseconds(50));
    }
  }
  // Points the test environment at this server for TempDatabase; returns the old values.
  std::map<std::string, std::string> Use() const {
    std::map<std::string, std::string> old;
    for (auto [name, value] : {std::pair<const char*, std::string>{"KVO_FB_PORT", port_},
                               {"KVO_FB_PASSWORD", password_},
                               {"KVO_FB_DATADIR", dataDir_}}) {
      old[name] = Env(name).value_or("");
      setenv(name, value.c_str(), 1);
    }
    return old;
  }

 private:
  TempDir dir_;
  std::string port_, password_, dataDir_;
};

struct EnvRestore {
  std::map<std::string, std::string> old;
  ~EnvRestore() {
    for (const auto& [k, v] : old) setenv(k.c_str(), v.c_str(), 1);
  }
};

// The server stopped before the request, and killed while a long select runs: the error page
// with the client's message, a process that ends, and the log with its old lines untouched and
// the failure appended whole.
TEST_F(SqlFaultTest, FirebirdServerDownOrKilled) {
  PrivateServer server;
  EnvRestore restore{server.Use()};
  auto db = std::make_unique<TempDatabase>();
  db->Execute(std::vector<std::string>{
      "create table big (id integer not null primary key)",
      "execute block as declare i integer = 0; begin while (i < 1000) do begin"
      " insert into big values (:i); i = i + 1; end end"});
  std::string oldLog;
  for (int i = 0; i < 20; ++i)
    oldLog += "01/01/2020 00:00:" + std::to_string(10 + i) + " - old\r\n";
  WriteFile(log_, oldLog);

  // Killed mid-select: a billion-row join keeps the server busy far longer than the wait.
  const std::string slow = "select count(*) from big a, big b, big c";
  CgiProcess running(SqlBody(*db, slow), drives_.path());
  // Ample time to attach (a tenth of a second here) even on a loaded machine.
  std::this_thread::sleep_for(milliseconds(3000));
  server.Kill();
  ASSERT_TRUE(running.Finish(milliseconds(30000))) << "the request hangs after the server died";
  EXPECT_TRUE(running.exitedNormally);
  std::optional<std::string> message = ErrorMessage(running.Body());
  ASSERT_TRUE(message) << running.output.substr(0, 400);
  RecordProperty("message_after_kill", *message);
  EXPECT_FALSE(message->empty());
  std::string log = ReadFile(log_);
  ASSERT_EQ(0u, log.rfind(oldLog, 0)) << "old lines lost: " << log;
  // The statement, then the failure, each one whole entry (a message may hold line breaks).
  EXPECT_EQ(" - " + slow + "\r\n", Unstamped(log.substr(oldLog.size()), 0)) << log;
  EXPECT_EQ(" - " + *message + "\r\n", Unstamped(log.substr(oldLog.size()), 1)) << log;

  // Down before the request (the server is dead now): the attach fails, the message alone is
  // logged.
  std::string before = ReadFile(log_);
  CgiProcess refused(SqlBody(*db, "select 1 from rdb$database"), drives_.path());
  auto started = Clock::now();
  ASSERT_TRUE(refused.Finish(milliseconds(30000))) << "the request hangs without a server";
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(20));
  std::optional<std::string> downMessage = ErrorMessage(refused.Body());
  ASSERT_TRUE(downMessage) << refused.output.substr(0, 400);
  RecordProperty("message_when_down", *downMessage);
  log = ReadFile(log_);
  ASSERT_EQ(0u, log.rfind(before, 0));
  std::string added = log.substr(before.size());
  EXPECT_EQ(" - " + *downMessage + "\r\n", Unstamped(added, 0)) << log;
  EXPECT_EQ("", Unstamped(added, 1)) << "more than the failure was logged: " << log;
}

// The log folder missing, read-only (to an unprivileged process) or on a full file system, and
// a log the program may not read:
// the answer is byte for byte the usual one, and an existing log is never damaged.
TEST_F(SqlFaultTest, LogFolderUnusableLeavesTheAnswerAlone) {
  TempDatabase db;
  db.Execute(std::vector<std::string>{"create table t (id integer, name varchar(20))",
                                      "insert into t values (1, 'um')"});
  const std::string q = "select * from t";
  CgiProcess baselineRun(SqlBody(db, q), drives_.path());
  ASSERT_TRUE(baselineRun.Finish(milliseconds(30000)));
  const std::string baseline = baselineRun.output;
  ASSERT_EQ(0u, baselineRun.Body().rfind(kXmlDeclaration, 0)) << baseline;
  ASSERT_EQ(1u, ParseLog(ReadFile(log_)).size());

  {
    SCOPED_TRACE("folder missing");
    std::filesystem::remove_all(drives_.path() + "/C/KVO");
    CgiProcess run(SqlBody(db, q), drives_.path());
    ASSERT_TRUE(run.Finish(milliseconds(30000)));
    EXPECT_EQ(baseline, run.output);
    EXPECT_FALSE(std::filesystem::exists(drives_.path() + "/C/KVO"));
  }
  {
    SCOPED_TRACE("read-only folder, run as nobody");
    const std::string old = "01/01/2020 00:00:00 - old\r\n";
    WriteFile(log_, old);
    // The unprivileged process must reach the drive folder and the Firebird client settings.
    std::filesystem::permissions(drives_.path(), std::filesystem::perms(0755));
    chmod(log_.c_str(), 0644);
    chmod(logDir_.c_str(), 0555);
    // Root ignores permission bits: the program runs as nobody (as itself when not root).
    CgiProcess run(SqlBody(db, q), drives_.path(), geteuid() == 0 ? "nobody" : "");
    ASSERT_TRUE(run.Finish(milliseconds(30000)));
    EXPECT_EQ(baseline, run.output);
    EXPECT_EQ(old, ReadFile(log_));
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(logDir_))
      left.push_back(e.path().filename().string());
    EXPECT_EQ(std::vector<std::string>{"Log.txt"}, left);
    chmod(logDir_.c_str(), 0755);
  }
  {
    SCOPED_TRACE("log unreadable in a writable folder, run as nobody");
    // Replacing a log that cannot be read would lose it: it must stay as it is.
    const std::string old = "01/01/2020 00:00:00 - kept\r\n";
    WriteFile(log_, old);
    chmod(log_.c_str(), 0);
    chmod(logDir_.c_str(), 0777);
    CgiProcess run(SqlBody(db, q), drives_.path(), geteuid() == 0 ? "nobody" : "");
    ASSERT_TRUE(run.Finish(milliseconds(30000)));
    EXPECT_EQ(baseline, run.output);
    EXPECT_EQ(old, ReadFile(log_));
    chmod(logDir_.c_str(), 0755);
    chmod(log_.c_str(), 0644);
  }
  {
    SCOPED_TRACE("full file system");
    // A 64 KiB tmpfs over the log folder, filled to the last byte around an existing log.
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    ASSERT_EQ(0, mount("tmpfs", logDir_.c_str(), "tmpfs", 0, "size=64k"))
        << "cannot mount a small file system here: " << std::strerror(errno);
    struct Unmount {
      std::string dir;
      ~Unmount() { umount2(dir.c_str(), MNT_DETACH); }
    } unmount{logDir_};
    std::string old;
    for (int i = 0; i < 200; ++i) old += "01/01/2020 00:00:00 - old " + std::to_string(i) + "\r\n";
    WriteFile(log_, old);
    {
      std::ofstream filler(logDir_ + "/filler", std::ios::binary);
      std::string block(4096, 'x');
      while (filler.write(block.data(), block.size())) {
      }
    }
    {
      std::ofstream filler(logDir_ + "/filler", std::ios::binary | std::ios::app);
      while (filler.put('x')) {
      }
    }
    // An entry longer than the room left in the log's last page: part of it fits, the rest
    // does not, and what fitted must be taken back. The same rows come back as for `q`.
    const std::string longQ = q + " where name <> '" + std::string(12000, 'x') + "'";
    CgiProcess run(SqlBody(db, longQ), drives_.path());
    ASSERT_TRUE(run.Finish(milliseconds(30000)));
    EXPECT_EQ(baseline, run.output);
    EXPECT_EQ(old, ReadFile(log_)) << "the log was damaged on the full file system";
    for (const auto& e : std::filesystem::directory_iterator(logDir_)) {
      std::string name = e.path().filename().string();
      EXPECT_TRUE(name == "Log.txt" || name == "filler" || name == "Log.lck") << name;
    }
  }
}

// CGI processes killed at random moments of /sql requests that write the log: whatever the
// moment, the log holds whole entries only, keeps every entry of every request that finished,
// and never shrinks.
TEST_F(SqlFaultTest, KilledAtRandomNeverTruncatesTheLog) {
  TempDatabase db;
  db.Execute("create table t (id integer)");
  std::filesystem::create_directories(logDir_);
  std::string old;
  for (int i = 0; i < 300; ++i) old += "01/01/2020 00:00:00 - old " + std::to_string(i) + "\r\n";
  WriteFile(log_, old);

  // How long a whole request takes here, so that kills land all through it: the quickest of
  // three, as the first one also pays for a cold cache.
  long quickest = std::numeric_limits<long>::max();
  for (int i = 0; i < 3; ++i) {
    auto t0 = Clock::now();
    CgiProcess run(SqlBody(db, "insert into t values (-1)"), drives_.path());
    ASSERT_TRUE(run.Finish(milliseconds(30000)));
    quickest = std::min<long>(quickest,
                              std::chrono::duration_cast<milliseconds>(Clock::now() - t0).count());
  }
  const auto span = std::max<long>(20, quickest * 12 / 10);

  std::mt19937 random(12345);
  std::set<std::string> issued = {"insert into t values (-1)"};
  std::vector<std::string> completed = {"insert into t values (-1)"};
  size_t lastLines = config::SplitLines(ReadFile(log_)).size();
  int killed = 0;
  for (int i = 0; i < 30; ++i) {
    // Two requests at once, one of them killed: the survivor must still merge its entry.
    std::string killedQ = "insert into t values (" + std::to_string(i) + ")";
    std::string keptQ = "select " + std::to_string(i) + " from rdb$database";
    issued.insert(killedQ);
    issued.insert(keptQ);
    CgiProcess victim(SqlBody(db, killedQ), drives_.path());
    CgiProcess survivor(SqlBody(db, keptQ), drives_.path());
    std::this_thread::sleep_for(milliseconds(random() % span));
    victim.Kill();
    bool victimEnded = victim.Finish(milliseconds(30000));
    ASSERT_TRUE(victimEnded);
    if (!victim.exitedNormally) ++killed;
    ASSERT_TRUE(survivor.Finish(milliseconds(30000)));
    ASSERT_TRUE(survivor.exitedNormally);
    completed.push_back(keptQ);
    if (victim.exitedNormally) completed.push_back(killedQ);

    std::string bytes = ReadFile(log_);
    ASSERT_EQ(0u, bytes.rfind(old, 0)) << "old lines lost after round " << i;
    ASSERT_EQ("\r\n", bytes.substr(bytes.size() - 2)) << "the log ends mid-line";
    std::vector<LogLine> lines = ParseLog(bytes.substr(old.size()));
    std::set<std::string> present;
    for (const LogLine& line : lines) {
      ASSERT_TRUE(line.stamped) << "a half-written line: " << line.text;
      ASSERT_TRUE(issued.count(line.text)) << "not an entry of ours: " << line.text;
      present.insert(line.text);
    }
    for (const std::string& q : completed)
      ASSERT_TRUE(present.count(q)) << "the entry of a finished request is missing: " << q;
    size_t count = config::SplitLines(bytes).size();
    ASSERT_GE(count, lastLines);
    lastLines = count;
  }
  // The kills are meant to land, not to come after every process has ended.
  EXPECT_GT(killed, 5);
  // A process killed between writing its temporary copy and renaming it leaves that copy
  // behind: litter beside the log, never the log itself.
  int temporaries = 0;
  for (const auto& e : std::filesystem::directory_iterator(logDir_)) {
    std::string name = e.path().filename().string();
    if (name.rfind("Log.txt.tmp", 0) == 0) ++temporaries;
  }
  RecordProperty("leftover_temporaries", temporaries);
}

}  // namespace
}  // namespace kvo::testing
