// A Firebird server that stops answering (SIGSTOP: what a network partition looks like from
// here) or is gone (SIGKILL) while a FastCGI process keeps an attachment to it: requests that
// need no database are still answered, within a bound, and /login says what the server says.
// The test runs a Firebird server of its own, which it stops and kills.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fb/fb.h"
#include "tests/support/fastcgi_client.h"
#include "tests/support/form.h"
#include "tests/support/own_firebird.h"

namespace kvo::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Waiting for a kept attachment's detach costs a request at most a second, once; the rest is
// room for a loaded machine.
constexpr double kBoundSeconds = 4.0;

struct Timed {
  std::string output;  // empty when nothing came within 30 s
  double seconds = 0;
};

Timed Ask(FastCgiProcess& process, const Params& params, const std::string& body = "") {
  const Clock::time_point start = Clock::now();
  const int connection = process.Send(params, body);
  pollfd ready{connection, POLLIN, 0};
  Timed t;
  if (::poll(&ready, 1, 30000) == 1) {
    t.output = process.Receive(connection).output;
  } else {
    ::close(connection);
  }
  t.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return t;
}

TEST(HungFirebird, RequestsWithoutADatabaseAreAnsweredWhileTheServerHangsOrIsGone) {
  OwnFirebird fb;
  const std::string db = fb.Database("t.fdb");
  fb::Attachment::Create(db, {"user_name=SYSDBA", "password=" + fb.password()}).Close();
  TempDir drives;
  // The kept attachment is due to go one second after its request, while the process waits.
  WriteFile(drives.path() + "/C/KVO/KVO.Net/Config/KVO.Server.Config",
            "[Server]\r\nKeepAttachmentsSeconds=1\r\n");
  FastCgiProcess process({{"KVO_DRIVES", drives.path()}, {"FIREBIRD", fb.clientFolder()}},
                         drives.path());
  const std::string sql = Form({{"db", db},
                                {"u", "SYSDBA"},
                                {"p", fb.password()},
                                {"q", "select 1 from rdb$database"},
                                {"z", "false"}});
  const std::string login = Form({{"db", db}, {"u", "SYSDBA"}, {"p", fb.password()}});
  auto keepAnAttachment = [&] {
    const Timed t = Ask(process, RequestParams("POST", "/sql", drives.path(), sql), sql);
    ASSERT_NE(t.output.find("<ROW"), std::string::npos) << t.output;
  };
  auto expectAnswered = [&](const char* state) {
    for (const char* path : {"/teste", "/script"}) {
      SCOPED_TRACE(std::string(path) + " with the server " + state);
      const Timed t = Ask(process, RequestParams("GET", path, drives.path()));
      EXPECT_EQ(t.output.rfind("Status: 200 OK\r\n", 0), 0u) << t.output;
      EXPECT_LT(t.seconds, kBoundSeconds);
      std::printf("%s with the server %s: %.3f s\n", path, state, t.seconds);
    }
  };

  keepAnAttachment();
  ASSERT_EQ(::kill(fb.pid(), SIGSTOP), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  expectAnswered("stopped");
  ASSERT_EQ(::kill(fb.pid(), SIGCONT), 0);

  keepAnAttachment();
  ASSERT_EQ(::kill(fb.pid(), SIGKILL), 0);
  ASSERT_TRUE(fb.EndsWithin(5));
  // The same credentials as the kept attachment, which /login must not take for an answer.
  const Timed t = Ask(process, RequestParams("POST", "/login", drives.path(), login), login);
  EXPECT_EQ(t.output.substr(t.output.find("\r\n\r\n") + 4), "false") << t.output;
  EXPECT_LT(t.seconds, kBoundSeconds);
  expectAnswered("killed");
}

}  // namespace
}  // namespace kvo::testing
