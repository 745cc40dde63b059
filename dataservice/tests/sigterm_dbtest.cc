// A web server that gives up on a request sends SIGTERM: the program must end at once wherever
// it waits, also after it has attached (when the database client would like to catch it).
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::dataservice {
namespace {

using testing::Form;
using testing::TempDatabase;

// Starts the program on a POST of `body` to `path`, with its own drives folder; output is
// dropped. Returns its pid.
pid_t Start(const std::string& path, const std::string& body, const std::string& drives) {
  std::vector<std::string> env = {
      "REQUEST_METHOD=POST", "SERVER_PROTOCOL=HTTP/1.1", "PATH_INFO=" + path,
      "CONTENT_LENGTH=" + std::to_string(body.size()), "KVO_DRIVES=" + drives};
  for (const char* name : {"FIREBIRD", "FIREBIRD_LOCK", "FIREBIRD_TMP"})
    if (auto v = testing::Env(name)) env.push_back(std::string(name) + "=" + *v);
  for (const char* name : testing::kSanitizerOptions)
    if (auto v = testing::Env(name)) env.push_back(std::string(name) + "=" + *v);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  int in[2];
  if (pipe(in) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(in[0]);
    close(in[1]);
    char* argv[] = {const_cast<char*>(KVO_SERVER_BINARY), nullptr};
    execve(KVO_SERVER_BINARY, argv, envp.data());
    _exit(127);
  }
  close(in[0]);
  (void)!write(in[1], body.data(), body.size());
  close(in[1]);
  return pid;
}

// Waits for the process to end; false (and the process killed) when it is still there after
// `limit`.
bool EndsWithin(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The kernel function the process sleeps in ("" while it runs).
std::string WaitChannel(pid_t pid) {
  return testing::ReadFile("/proc/" + std::to_string(pid) + "/wchan");
}

TEST(SigTerm, EndsTheRequestWhereverItWaits) {
  KVO_REQUIRE_FIREBIRD();
  KVO_REQUIRE_ENV(clientConfig, "FIREBIRD");
  TempDatabase db;
  testing::TempDir drives;
  testing::WriteFile(drives.path() + "/C/KVO/KVO.Net/Logs/Log.txt", "");
  // Another request holding the statement log's lock keeps this one waiting outside the client.
  const std::string lockFile = drives.path() + "/C/KVO/KVO.Net/Logs/Log.lck";
  int lock = open(lockFile.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);

  // A row this test holds locked keeps the update waiting in the server, without work.
  db.Execute(std::vector<std::string>{"create table t (n integer)", "insert into t values (0)"});
  fb::Attachment holder = db.Attach();
  fb::Transaction held = holder.StartTransaction();
  holder.ExecuteImmediate(held, "update t set n = 1");

  struct Case {
    const char* what;
    std::string q;
    std::function<bool(pid_t)> waits;  // whether the process waits where the case says
  } cases[] = {
      {"waiting for the statement log's lock", "select 1 from rdb$database",
       [](pid_t pid) { return WaitChannel(pid).find("lock") != std::string::npos; }},
      {"waiting for the server's answer", "update t set n = 2",
       [&](pid_t) {
         // The server lists the update as running: it waits there for the held row.
         fb::Attachment a = db.Attach();
         fb::Transaction t = a.StartTransaction();
         fb::ResultSet rs = a.Prepare(t,
                                      "select count(*) from mon$statements where mon$state = 1 "
                                      "and mon$sql_text starting with 'update t set n = 2'")
                                .Open();
         return rs.Fetch() && rs.GetInt64(0) > 0;
       }},
  };

  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    pid_t pid = Start("/sql",
                      Form({{"db", db.connection()},
                            {"u", db.user()},
                            {"p", db.password()},
                            {"z", "false"},
                            {"q", c.q}}),
                      drives.path());
    ASSERT_GT(pid, 0);
    // Until it has attached and waits where the case says.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!c.waits(pid) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(c.waits(pid)) << WaitChannel(pid);
    kill(pid, SIGTERM);
    EXPECT_TRUE(EndsWithin(pid, std::chrono::seconds(1)));
  }
  close(lock);
  held.Rollback();
}

}  // namespace
}  // namespace kvo::dataservice
