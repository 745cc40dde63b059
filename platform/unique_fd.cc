#include "platform/unique_fd.h"

#include <unistd.h>

#include <cerrno>

namespace kvo::platform {

void UniqueFd::Reset(int fd) noexcept {
  const int old = std::exchange(fd_, fd);
  // Linux releases the descriptor even when close() fails (EINTR included): never retry.
  if (old >= 0) ::close(old);
}

int UniqueFd::Close() noexcept {
  const int old = Release();
  if (old < 0) return 0;
  return ::close(old) == 0 ? 0 : errno;
}

int WriteAll(int fd, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

int ReadAll(int fd, std::string& out) {
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    out.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace kvo::platform
