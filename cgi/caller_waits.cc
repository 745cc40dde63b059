#include "cgi/caller_waits.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstddef>

namespace kvo::cgi {

namespace {

constexpr short kGone = POLLERR | POLLHUP | POLLNVAL;

// A FastCGI record starts with 8 bytes: version, type, request id (2), content length (2),
// padding length, reserved.
constexpr size_t kRecordHeader = 8;
constexpr unsigned char kVersion = 1;
constexpr unsigned char kAbortRequest = 2;
constexpr unsigned char kLastType = 11;
// Records queued behind the request are few and small (the empty end of its body, an abort):
// a look at this much finds any abort the web server sent.
constexpr size_t kLook = 16 * 1024;

// Polls `p` without waiting; false when the poll itself fails.
bool PollNow(pollfd& p) noexcept {
  int n;
  do {
    n = ::poll(&p, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n >= 0;
}

}  // namespace

bool AnswerPipeConnected(int fd) noexcept {
  pollfd p{fd, POLLOUT, 0};
  return PollNow(p) && (p.revents & kGone) == 0;
}

bool FastCgiRequestWanted(int fd, int requestId) noexcept {
  if (fd < 0) return false;
  pollfd p{fd, static_cast<short>(POLLIN | POLLRDHUP), 0};
  if (!PollNow(p)) return false;
  // The web server closed its end: nobody reads the answer.
  if (p.revents & (kGone | POLLRDHUP)) return false;
  if ((p.revents & POLLIN) == 0) return true;
  unsigned char look[kLook];
  ssize_t got;
  do {
    got = ::recv(fd, look, sizeof look, MSG_PEEK | MSG_DONTWAIT);
  } while (got < 0 && errno == EINTR);
  if (got == 0) return false;
  if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
  // The FastCGI library reads the connection in blocks, so what is left may start inside a
  // record: only a walk that finds a record header wherever one is due counts; anything else
  // leaves the closed connection as the only sign.
  const size_t have = static_cast<size_t>(got);
  for (size_t at = 0; at + kRecordHeader <= have;) {
    const unsigned char* h = look + at;
    if (h[0] != kVersion || h[1] == 0 || h[1] > kLastType) return true;
    const int id = (h[2] << 8) | h[3];
    if (h[1] == kAbortRequest && id == requestId) return false;
    at += kRecordHeader + ((static_cast<size_t>(h[4]) << 8) | h[5]) + h[6];
  }
  return true;
}

}  // namespace kvo::cgi
