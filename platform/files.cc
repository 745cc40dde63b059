#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/file_errors.h"
#include "platform/unique_fd.h"
#include "platform/winpath.h"

namespace kvo::platform {

namespace {

bool StatIs(std::string_view windowsPath, mode_t kind) {
  auto host = HostPath(windowsPath);
  struct stat st;
  return host && ::stat(host->c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

}  // namespace

bool FileExists(std::string_view windowsPath) {
  return StatIs(windowsPath, S_IFREG);
}
bool DirectoryExists(std::string_view windowsPath) {
  return StatIs(windowsPath, S_IFDIR);
}

ReadableFile::ReadableFile(std::string_view windowsPath) : windowsPath_(windowsPath) {
  auto host = HostPath(windowsPath);
  if (!host) throw CannotOpenFile(windowsPath, EINVAL);
  fd_.Reset(::open(host->c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd_) throw CannotOpenFile(windowsPath, errno);
  struct stat st;
  if (::fstat(fd_.Get(), &st) != 0) throw CannotOpenFile(windowsPath, errno);
  if (S_ISDIR(st.st_mode)) throw CannotOpenFile(windowsPath, EISDIR);
  if (!S_ISREG(st.st_mode)) throw CannotOpenFile(windowsPath, kNotRegularFile);
  size_ = static_cast<uint64_t>(st.st_size);
}

size_t ReadableFile::Read(char* buffer, size_t count) {
  while (true) {
    ssize_t n = ::read(fd_.Get(), buffer, count);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) throw CannotOpenFile(windowsPath_, errno);
  }
}

std::string ReadWholeFile(std::string_view windowsPath) {
  ReadableFile file(windowsPath);
  std::string data;
  if (file.size() > 0) data.reserve(static_cast<size_t>(file.size()));
  if (const int err = ReadAll(file.fd(), data)) throw CannotOpenFile(windowsPath, err);
  return data;
}

void WriteWholeFile(std::string_view windowsPath, std::string_view bytes) {
  auto host = HostPath(windowsPath);
  if (!host) throw CannotCreateFile(windowsPath, EINVAL);
  UniqueFd fd(::open(host->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd) throw CannotCreateFile(windowsPath, errno);
  if (WriteAll(fd.Get(), bytes) != 0 || fd.Close() != 0)
    throw Error("Stream write error", "EWriteError");
}

}  // namespace kvo::platform
