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

std::string ReadWholeFile(std::string_view windowsPath) {
  auto host = HostPath(windowsPath);
  if (!host) throw CannotOpenFile(windowsPath, EINVAL);
  UniqueFd fd(::open(host->c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) throw CannotOpenFile(windowsPath, errno);
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) throw CannotOpenFile(windowsPath, errno);
  if (S_ISDIR(st.st_mode)) throw CannotOpenFile(windowsPath, EISDIR);
  std::string data;
  if (st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size));
  if (const int err = ReadAll(fd.Get(), data)) throw CannotOpenFile(windowsPath, err);
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
