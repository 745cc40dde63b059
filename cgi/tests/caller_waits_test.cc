// Whether the web server still waits: a CGI answer pipe and a FastCGI connection, each in the
// states a web server leaves them in (still reading, closed, aborted), looked at without taking
// the request's bytes.
#include "cgi/caller_waits.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace kvo::cgi {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Record(unsigned char type, int id, size_t length, unsigned char padding = 0) {
  Bytes r = {1,
             type,
             static_cast<unsigned char>(id >> 8),
             static_cast<unsigned char>(id & 0xFF),
             static_cast<unsigned char>(length >> 8),
             static_cast<unsigned char>(length & 0xFF),
             padding,
             0};
  r.resize(r.size() + length + padding, 'x');
  return r;
}

constexpr unsigned char kStdin = 5, kAbort = 2;
constexpr int kId = 1;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(CallerWaits, AnswerPipeWantedUntilItsReaderCloses) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  platform::UniqueFd reader(fds[0]), writer(fds[1]);
  EXPECT_TRUE(AnswerPipeConnected(writer.Get()));
  reader = platform::UniqueFd();
  EXPECT_FALSE(AnswerPipeConnected(writer.Get()));
}

TEST(CallerWaits, FastCgiConnectionStates) {
  struct Case {
    const char* name;
    Bytes queued;     // what the web server sent that the program has not read
    bool closeAfter;  // the web server closed its end after sending it
    bool wanted;
  };
  const Bytes stdinEnd = Record(kStdin, kId, 0);
  // The library read part of a record already: what is left starts inside one, and bytes that
  // only look like an abort of this request must not count.
  Bytes insideARecord = Record(kStdin, kId, 40);
  insideARecord.erase(insideARecord.begin(), insideARecord.begin() + 13);
  const Bytes fakeAbort = {7, kAbort, 0, kId, 0, 0, 0, 0};
  insideARecord.insert(insideARecord.begin(), fakeAbort.begin(), fakeAbort.end());
  const Case cases[] = {
      {"nothing queued", {}, false, true},
      {"the end of the body", stdinEnd, false, true},
      {"a padded body record then its end", Join({Record(kStdin, kId, 300, 4), stdinEnd}), false,
       true},
      {"an abort of another request", Join({stdinEnd, Record(kAbort, kId + 1, 0)}), false, true},
      {"an abort of this request", Join({stdinEnd, Record(kAbort, kId, 0)}), false, false},
      {"only an abort", Record(kAbort, kId, 0), false, false},
      {"a header cut short", Bytes(stdinEnd.begin(), stdinEnd.begin() + 5), false, true},
      {"a walk that starts inside a record", insideARecord, false, true},
      {"closed with nothing queued", {}, true, false},
      {"closed after the end of the body", stdinEnd, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    platform::UniqueFd program(fds[0]), webServer(fds[1]);
    if (!c.queued.empty()) {
      ASSERT_EQ(::write(webServer.Get(), c.queued.data(), c.queued.size()),
                static_cast<ssize_t>(c.queued.size()));
    }
    if (c.closeAfter) webServer = platform::UniqueFd();
    EXPECT_EQ(FastCgiRequestWanted(program.Get(), kId), c.wanted);
    // Asked twice, the same answer: nothing was taken from the connection.
    EXPECT_EQ(FastCgiRequestWanted(program.Get(), kId), c.wanted);
    Bytes left(c.queued.size() + 1);
    const ssize_t n = ::recv(program.Get(), left.data(), left.size(), MSG_DONTWAIT);
    EXPECT_EQ(n,
              c.queued.empty() ? (c.closeAfter ? 0 : -1) : static_cast<ssize_t>(c.queued.size()));
  }
}

TEST(CallerWaits, NoConnectionIsNotWanted) {
  EXPECT_FALSE(FastCgiRequestWanted(-1, kId));
}

}  // namespace
}  // namespace kvo::cgi
