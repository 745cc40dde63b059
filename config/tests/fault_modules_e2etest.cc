// /listakvomodulos with module libraries that crash or never return, run through the real
// program: the answer still comes, no copy of the process is left behind, and the list file is
// either missing or whole, also when the program itself is killed in the middle of the walk.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <random>
#include <thread>

#include "configfiles/scramble.h"
#include "tests/support/cgi_runner.h"
#include "tests/support/processes.h"

namespace kvo::config {
namespace {

namespace fs = std::filesystem;
using testing::AllEnded;
using testing::ProcessesWith;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class ModuleFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string m = drives_.path() +
                          "/C/KVO/KVO.Net/M\xC3\xB3"
                          "dulos";
    fs::create_directories(m);
    fs::create_directories(drives_.path() + "/C/KVO/KVO.Net/Config");
    for (const char* name : {"crash", "hang", "till"})
      fs::copy_file(std::string(KVO_TEST_MODULES) + "/" + name + ".dll", m + "/" + name + ".dll");
  }
  ~ModuleFaultTest() override {
    // Nothing of this test may outlive it, whatever failed.
    for (pid_t pid : ProcessesWith(drives_.path())) kill(pid, SIGKILL);
  }

  std::map<std::string, std::string> Env() const {
    return {{"REQUEST_METHOD", "POST"},        {"SERVER_PROTOCOL", "HTTP/1.1"},
            {"PATH_INFO", "/listakvomodulos"}, {"CONTENT_LENGTH", "0"},
            {"REMOTE_HOST", "client.example"}, {"KVO_DRIVES", drives_.path()}};
  }

  std::string ListFile() const { return drives_.path() + "/C/KVO/KVO.Net/Config/KVO.LM"; }

  testing::TempDir drives_;
};

// A crashing and a hanging module cost their own lines only; the hanging one is given up after
// its time, its copy of the process does not outlive the request, and the list is stored whole.
TEST_F(ModuleFaultTest, CrashingAndHangingModules) {
  auto started = Clock::now();
  testing::CgiResult r = testing::RunCgi(Env());
  auto took = Clock::now() - started;
  ASSERT_EQ(0u, r.output.rfind("Status: 200 OK\r\n", 0)) << r.output.substr(0, 300);
  std::string list = ScrambleText(r.Body(), kScrambleKey);
  EXPECT_NE(std::string::npos, list.find("crash.dll|Desconhecido|0|0\r\n")) << list;
  EXPECT_NE(std::string::npos, list.find("hang.dll|Desconhecido|0|0\r\n")) << list;
  EXPECT_NE(std::string::npos, list.find("till.dll|")) << list;
  EXPECT_EQ(std::string::npos, list.find("till.dll|Desconhecido")) << list;
  EXPECT_LT(took, std::chrono::seconds(30));
  EXPECT_EQ(list, testing::ReadFile(ListFile()));
  EXPECT_TRUE(AllEnded(drives_.path(), milliseconds(2000)))
      << "a copy of the process outlived the request";
}

// The program killed at random moments of the walk (the hanging module keeps it there for
// seconds): no list file, or a whole one; no temporary file; no copy of the process left.
TEST_F(ModuleFaultTest, KilledDuringTheWalk) {
  std::mt19937 random(4242);
  const std::string full = [&] {
    testing::RunCgi(Env());
    std::string text = testing::ReadFile(ListFile());
    fs::remove(ListFile());
    return text;
  }();
  ASSERT_FALSE(full.empty());
  ASSERT_TRUE(AllEnded(drives_.path(), milliseconds(2000)));
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int out[2];
    ASSERT_EQ(0, pipe2(out, O_CLOEXEC));
    pid_t pid = fork();
    if (pid == 0) {
      std::vector<std::string> storage;
      for (const auto& [k, v] : Env()) storage.push_back(k + "=" + v);
      for (const char* name : testing::kSanitizerOptions)
        if (auto v = testing::Env(name)) storage.push_back(std::string(name) + "=" + *v);
      std::vector<char*> envp;
      for (auto& s : storage) envp.push_back(s.data());
      envp.push_back(nullptr);
      int devNull = open("/dev/null", O_RDONLY);
      dup2(devNull, 0);
      dup2(out[1], 1);
      char* argv[] = {const_cast<char*>(KVO_SERVER_BINARY), nullptr};
      execve(KVO_SERVER_BINARY, argv, envp.data());
      _exit(127);
    }
    close(out[1]);
    std::this_thread::sleep_for(milliseconds(200 + random() % 9000));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(out[0]);
    if (fs::exists(ListFile())) {
      EXPECT_EQ(full, testing::ReadFile(ListFile()));
    }
    for (const auto& e : fs::directory_iterator(drives_.path() + "/C/KVO/KVO.Net/Config"))
      EXPECT_EQ("KVO.LM", e.path().filename().string()) << "left behind";
    EXPECT_TRUE(AllEnded(drives_.path(), milliseconds(3000)))
        << "the copy asking the hanging module outlived the killed program";
    fs::remove(ListFile());
  }
}

}  // namespace
}  // namespace kvo::config
