#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/winpath.h"

namespace kvo::platform {

namespace {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

[[noreturn]] void OpenFailure(std::string_view windowsPath, int err) {
  ThrowCannotOpen(windowsPath, SystemReason(err));
}

[[noreturn]] void CreateFailure(std::string_view windowsPath, int err) {
  throw Error("Cannot create file \"" + WindowsFullPath(windowsPath) + "\". " + SystemReason(err),
              "EFCreateError");
}

bool StatIs(std::string_view windowsPath, mode_t kind) {
  auto host = HostPath(windowsPath);
  struct stat st;
  return host && ::stat(host->c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

}  // namespace

std::string SystemReason(int errnoValue) {
  return std::strerror(errnoValue);
}

bool FileExists(std::string_view windowsPath) {
  return StatIs(windowsPath, S_IFREG);
}
bool DirectoryExists(std::string_view windowsPath) {
  return StatIs(windowsPath, S_IFDIR);
}

void ThrowCannotOpen(std::string_view windowsPath, std::string_view reason) {
  throw Error("Cannot open file \"" + WindowsFullPath(windowsPath) + "\". " + std::string(reason),
              "EFOpenError");
}

ReadableFile::ReadableFile(std::string_view windowsPath) : windowsPath_(windowsPath) {
  auto host = HostPath(windowsPath);
  if (!host) OpenFailure(windowsPath, EINVAL);
  fd_ = ::open(host->c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) OpenFailure(windowsPath, errno);
  struct stat st;
  if (::fstat(fd_, &st) != 0) {
    const int err = errno;
    ::close(fd_);
    OpenFailure(windowsPath, err);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd_);
    if (S_ISDIR(st.st_mode)) OpenFailure(windowsPath, EISDIR);
    ThrowCannotOpen(windowsPath, kNotRegularFile);
  }
  size_ = static_cast<uint64_t>(st.st_size);
}

ReadableFile::~ReadableFile() {
  ::close(fd_);
}

size_t ReadableFile::Read(char* buffer, size_t count) {
  while (true) {
    ssize_t n = ::read(fd_, buffer, count);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) OpenFailure(windowsPath_, errno);
  }
}

std::string ReadWholeFile(std::string_view windowsPath) {
  ReadableFile file(windowsPath);
  std::string data;
  if (file.size() > 0) data.reserve(static_cast<size_t>(file.size()));
  char buffer[65536];
  while (size_t n = file.Read(buffer, sizeof buffer)) data.append(buffer, n);
  return data;
}

void WriteWholeFile(std::string_view windowsPath, std::string_view bytes) {
  auto host = HostPath(windowsPath);
  if (!host) CreateFailure(windowsPath, EINVAL);
  Fd f;
  f.fd = ::open(host->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (f.fd < 0) CreateFailure(windowsPath, errno);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(f.fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Error("Stream write error", "EWriteError");
    done += static_cast<size_t>(n);
  }
  int fd = f.fd;
  f.fd = -1;
  if (::close(fd) != 0) throw Error("Stream write error", "EWriteError");
}

}  // namespace kvo::platform
