// /sql through lighttpd with a caller that misbehaves: it stops reading a large compressed
// answer, or goes away in the middle of it. The CGI process must end either way (nothing left
// hanging) and its statement must be in the log.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>

#include "tests/support/cgi_runner.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"
#include "tests/support/processes.h"

namespace kvo::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Host, port and path prefix of an "http://host:port/prefix" URL.
struct Url {
  std::string host;
  int port = 80;
  std::string prefix;
};
Url ParseUrl(const std::string& url) {
  Url u;
  std::string rest = url.substr(url.find("://") + 3);
  size_t slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  u.prefix = slash == std::string::npos ? "" : rest.substr(slash);
  size_t colon = authority.find(':');
  u.host = authority.substr(0, colon);
  if (colon != std::string::npos) u.port = std::stoi(authority.substr(colon + 1));
  return u;
}

// A raw connection, so that the test decides when (and whether) the answer is read.
class RawConnection {
 public:
  explicit RawConnection(const Url& url) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // A small receive window, so that the server meets a full connection early.
    int small = 4096;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(url.port));
    inet_pton(AF_INET, url.host.c_str(), &a.sin_addr);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
      throw std::runtime_error("cannot connect to " + url.host);
  }
  ~RawConnection() { Abort(); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  void Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) throw std::runtime_error("send failed");
      done += static_cast<size_t>(n);
    }
  }
  std::string ReadSome(size_t count) {
    std::string out(count, '\0');
    ssize_t n = read(fd_, out.data(), count);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
  }
  // Goes away at once: a reset, as when the caller's program is killed.
  void Abort() {
    if (fd_ < 0) return;
    linger l{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

class SlowCallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    KVO_REQUIRE_ENV(url, "KVO_HTTP_URL");
    KVO_REQUIRE_ENV(drives, "KVO_HTTP_DRIVES");
    url_ = ParseUrl(url);
    log_ = drives + "/C/KVO/KVO.Net/Logs/Log.txt";
    std::filesystem::create_directories(drives + "/C/KVO/KVO.Net/Logs");
    db_ = std::make_unique<TempDatabase>();
    // About 200000 rows of poorly compressible text: megabytes even when compressed, and a select
    // that outlasts the waits below even on a quiet machine with a kept attachment.
    db_->Execute(std::vector<std::string>{
        "create table big (id integer not null primary key, v varchar(60))",
        "execute block as declare i integer = 0; begin while (i < 450) do begin"
        " insert into big values (:i, lpad(hash(:i * 7919), 60, hash(:i))); i = i + 1; end end"});
  }

  // Posts a large compressed select whose query string and statement carry `marker`.
  void Post(RawConnection& c, const std::string& marker) {
    const std::string q =
        "select a.v, b.v, a.id * b.id as " + marker + " from big a cross join big b";
    std::string body = Form({{"z", "true"},
                             {"db", db_->connection()},
                             {"u", db_->user()},
                             {"p", db_->password()},
                             {"q", q}});
    c.Send("POST " + url_.prefix + "/kvowebserver.exe/sql?" + marker + " HTTP/1.1\r\nHost: " +
           url_.host + "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body);
  }

  bool Logged(const std::string& marker) {
    return ReadFile(log_).find(marker) != std::string::npos;
  }

  // The request has ended: its process is gone (CGI), or its statement reached the log (a
  // FastCGI process lives on and carries no request in its environment).
  bool Ended(const std::string& marker, milliseconds limit) {
    if (!FastCgiMode()) return AllEnded(marker, limit);
    const auto deadline = Clock::now() + limit;
    while (!Logged(marker)) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(milliseconds(100));
    }
    return true;
  }

  Url url_;
  std::string log_;
  std::unique_ptr<TempDatabase> db_;
};

// Reads the first bytes of the answer and then nothing more, the connection held open: the
// program still finishes (the web server holds the rest), and logs the statement.
TEST_F(SlowCallerTest, CallerStopsReading) {
  const std::string marker = "stalled_" + std::to_string(getpid()) + "_" +
                             std::to_string(Clock::now().time_since_epoch().count() % 1000000);
  RawConnection c(url_);
  Post(c, marker);
  std::string first = c.ReadSome(200);
  ASSERT_EQ(0u, first.rfind("HTTP/1.1 200", 0)) << first;
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_TRUE(Ended(marker, milliseconds(60000))) << "the program hangs on a stalled caller";
  EXPECT_TRUE(Logged(marker));
  c.Abort();
}

// Goes away (a reset) while the answer is being made: the program ends, and what the log held
// before stays whole. A FastCGI process finishes the request and logs its statement; a CGI
// process is ended by the web server's SIGTERM once it notices, so its own entry, written at
// the end of the request, may be lost.
TEST_F(SlowCallerTest, CallerGoesAwayMidAnswer) {
  const std::string marker = "gone_" + std::to_string(getpid()) + "_" +
                             std::to_string(Clock::now().time_since_epoch().count() % 1000000);
  const std::string before = ReadFile(log_);
  {
    RawConnection c(url_);
    Post(c, marker);
    if (FastCgiMode()) {
      // Long enough for the whole request to be read; the select takes far longer.
      std::this_thread::sleep_for(milliseconds(1000));
      ASSERT_FALSE(Logged(marker)) << "the select ended too soon for this test";
    } else {
      // The program has started and is working on the select.
      auto deadline = Clock::now() + milliseconds(10000);
      while (ProcessesWith(marker).empty() && Clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(20));
      ASSERT_FALSE(ProcessesWith(marker).empty()) << "the program never started";
      // Long enough for the whole request to be read; the select takes far longer.
      std::this_thread::sleep_for(milliseconds(400));
      ASSERT_FALSE(ProcessesWith(marker).empty()) << "the select ended too soon for this test";
    }
    c.Abort();
  }
  EXPECT_TRUE(Ended(marker, milliseconds(60000))) << "the program hangs after the caller left";
  // Other tests append to the same log meanwhile (and may have made it rotate).
  const std::string after = ReadFile(log_);
  if (after.size() >= before.size()) {
    EXPECT_EQ(0u, after.rfind(before, 0)) << "entries changed";
  }
  if (FastCgiMode()) {
    EXPECT_TRUE(Logged(marker)) << "the finished request's statement is lost";
  }
}

}  // namespace
}  // namespace kvo::testing
