// The program on a TCP listening socket: it serves only when FCGI_WEB_SERVER_ADDRS names the
// web servers that may connect, and then closes every other caller's connection unanswered;
// with no list, a list it cannot read, or an IPv6 socket, it refuses to start and says why.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"
#include "tests/support/cgi_runner.h"

namespace kvo::testing {
namespace {

using platform::UniqueFd;

// A listening socket: "unix" (a socket file in `folder`), or an IPv4 or IPv6 address, on a
// port the system picks.
struct Listener {
  UniqueFd fd;
  sockaddr_storage address{};
  socklen_t length = 0;
};

Listener Listen(const std::string& where, const std::string& folder) {
  Listener l;
  if (where == "unix") {
    auto* un = reinterpret_cast<sockaddr_un*>(&l.address);
    un->sun_family = AF_UNIX;
    std::snprintf(un->sun_path, sizeof un->sun_path, "%s/kvo.sock", folder.c_str());
    l.length = sizeof(sockaddr_un);
  } else if (where.find(':') != std::string::npos) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&l.address);
    in6->sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, where.c_str(), &in6->sin6_addr);
    l.length = sizeof(sockaddr_in6);
  } else {
    auto* in = reinterpret_cast<sockaddr_in*>(&l.address);
    in->sin_family = AF_INET;
    ::inet_pton(AF_INET, where.c_str(), &in->sin_addr);
    l.length = sizeof(sockaddr_in);
  }
  l.fd.Reset(::socket(l.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!l.fd || ::bind(l.fd.Get(), reinterpret_cast<sockaddr*>(&l.address), l.length) != 0 ||
      ::listen(l.fd.Get(), 16) != 0 ||
      ::getsockname(l.fd.Get(), reinterpret_cast<sockaddr*>(&l.address), &l.length) != 0)
    l.fd.Reset();
  return l;
}

// The program with `listener` as its standard input and `env` (plus the test's KVO_DRIVES and
// FIREBIRD) as its environment; standard error goes to a memory file read at the end.
class Program {
 public:
  Program(int listener, std::map<std::string, std::string> env)
      : errors_(::memfd_create("kvo-listener-stderr", MFD_CLOEXEC)) {
    const ProgramEnvironment environment(std::move(env));
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(listener, 0);
      ::dup2(errors_.Get(), 2);
      char* argv[] = {const_cast<char*>(KVO_SERVER_BINARY), nullptr};
      ::execve(KVO_SERVER_BINARY, argv, environment.envp());
      _exit(127);
    }
  }
  ~Program() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The exit status once the process ended within `seconds`; -1 when it still runs.
  int WaitExit(double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }

  std::string Errors() const {
    std::string text;
    char buffer[4096];
    ssize_t n;
    off_t at = 0;
    while ((n = ::pread(errors_.Get(), buffer, sizeof buffer, at)) > 0) {
      text.append(buffer, static_cast<size_t>(n));
      at += n;
    }
    return text;
  }

 private:
  UniqueFd errors_;
  pid_t pid_ = -1;
};

// A request with no parameters and no body, from the local address `from` (ignored for a Unix
// socket). Returns what came back before the program closed the connection: empty when it
// closed it unanswered.
std::string Ask(const Listener& l, const std::string& from) {
  UniqueFd fd(::socket(l.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (l.address.ss_family == AF_INET && !from.empty()) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &source.sin_addr);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) return "";
  }
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&l.address), l.length) != 0) return "";
  // Begin a responder request (id 1), then the empty parameter and input streams.
  const unsigned char records[] = {1, 1, 0, 1, 0, 8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0,
                                   1, 4, 0, 1, 0, 0, 0, 0, 1, 5, 0, 1, 0, 0, 0, 0};
  (void)!::send(fd.Get(), records, sizeof records, MSG_NOSIGNAL);
  std::string answer;
  char buffer[4096];
  while (true) {
    pollfd ready{fd.Get(), POLLIN, 0};
    if (::poll(&ready, 1, 10000) != 1) break;
    const ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, 0);
    if (n <= 0) break;
    answer.append(buffer, static_cast<size_t>(n));
  }
  return answer;
}

struct Case {
  const char* name;
  const char* listen;   // "unix", an IPv4 or an IPv6 address
  const char* allowed;  // FCGI_WEB_SERVER_ADDRS; nullptr: unset
  // The program refuses to start and its error line holds this; nullptr: it serves.
  const char* refusal;
  std::vector<std::string> answered;  // callers that get an answer
  std::vector<std::string> closed;    // callers whose connection is closed unanswered
};

TEST(FastCgiListener, TcpServesOnlyTheWebServersNamedAndNeverStartsOpen) {
  const Case cases[] = {
      {"unix socket, no list", "unix", nullptr, nullptr, {""}, {}},
      {"tcp, no list", "127.0.0.2", nullptr, "set FCGI_WEB_SERVER_ADDRS to the addresses", {}, {}},
      {"tcp, empty list", "127.0.0.2", "", "set FCGI_WEB_SERVER_ADDRS to the addresses", {}, {}},
      {"tcp, a host name", "127.0.0.2", "localhost", "holds \"localhost\", which is not", {}, {}},
      {"tcp, a space after the comma",
       "127.0.0.2",
       "127.0.0.1, 127.0.0.3",
       "holds \" 127.0.0.3\"",
       {},
       {}},
      {"tcp, an empty entry", "127.0.0.2", "127.0.0.1,", "holds \"\", which is not", {}, {}},
      {"tcp, a leading zero", "127.0.0.2", "127.0.0.01", "holds \"127.0.0.01\"", {}, {}},
      {"ipv6", "::1", "127.0.0.1", "IPv6", {}, {}},
      {"tcp, one web server", "127.0.0.2", "127.0.0.1", nullptr, {"127.0.0.1"}, {"127.0.0.5"}},
      {"tcp, two web servers",
       "127.0.0.2",
       "127.0.0.9,127.0.0.1",
       nullptr,
       {"127.0.0.1", "127.0.0.9"},
       {"127.0.0.5", "127.0.0.2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir folder;
    const Listener l = Listen(c.listen, folder.path());
    ASSERT_TRUE(l.fd) << "cannot listen on " << c.listen;
    std::map<std::string, std::string> env;
    if (c.allowed) env["FCGI_WEB_SERVER_ADDRS"] = c.allowed;
    Program program(l.fd.Get(), env);
    if (c.refusal) {
      EXPECT_EQ(program.WaitExit(10), 1);
      EXPECT_NE(program.Errors().find(c.refusal), std::string::npos) << program.Errors();
      continue;
    }
    // A refused caller first: the process must go on serving after it.
    for (const std::string& from : c.closed) EXPECT_EQ(Ask(l, from), "") << from;
    for (const std::string& from : c.answered) {
      const std::string answer = Ask(l, from);
      // The first record the program writes: version 1, type 6 (standard output), request 1.
      EXPECT_EQ(answer.substr(0, 4), std::string("\1\6\0\1", 4)) << from;
    }
    EXPECT_EQ(program.WaitExit(0), -1) << program.Errors();
  }
}

}  // namespace
}  // namespace kvo::testing
