#include "platform/replace_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_errors.h"
#include "platform/unique_fd.h"
#include "platform/winpath.h"

namespace kvo::platform {

namespace {

int WriteFile(const std::string& hostPath, std::string_view bytes, mode_t mode,
              bool flush) noexcept {
  UniqueFd fd(::open(hostPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
  if (!fd) return errno;
  int err = WriteAll(fd.Get(), bytes);
  if (err == 0 && flush && ::fsync(fd.Get()) != 0) err = errno;
  const int closeErr = fd.Close();
  return err != 0 ? err : closeErr;
}

// Truncates the existing regular file `hostPath` (never a link, never created), writes `bytes` and
// flushes them. Returns 0 or the errno value.
int RewriteInPlace(const std::string& hostPath, std::string_view bytes) noexcept {
  // Only the regular file itself: never a link's target, never a FIFO that would block.
  UniqueFd fd(::open(hostPath.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return errno;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EACCES;
  // Overlapping writers take turns, so the file holds one writer's bytes, the last one's.
  while (::flock(fd.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) return errno;
  }
  if (::ftruncate(fd.Get(), 0) != 0) return errno;
  int err = WriteAll(fd.Get(), bytes);
  if (err == 0 && ::fsync(fd.Get()) != 0) err = errno;
  const int closeErr = fd.Close();
  return err != 0 ? err : closeErr;
}

int ReplaceFile(const std::string& hostPath, std::string_view bytes, mode_t mode,
                bool flush) noexcept {
  std::string temporary;
  try {
    temporary = hostPath + ".tmp" + std::to_string(::getpid());
  } catch (...) {
    return ENOMEM;
  }
  int err = WriteFile(temporary, bytes, mode, flush);
  if (flush && (err == EACCES || err == EPERM)) {
    // A folder the writer may not change, holding a file it may write: the administrator gave
    // it that one file only.
    const int inPlace = RewriteInPlace(hostPath, bytes);
    if (inPlace == 0) return 0;
    if (inPlace != ENOENT && inPlace != EACCES && inPlace != EPERM && inPlace != ELOOP)
      return inPlace;
    return err;
  }
  if (err == 0 && ::rename(temporary.c_str(), hostPath.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temporary.c_str());
    return err;
  }
  if (flush) SyncFolderOf(hostPath);
  return 0;
}

}  // namespace

int WriteSyncedFile(const std::string& hostPath, std::string_view bytes, mode_t mode) noexcept {
  return WriteFile(hostPath, bytes, mode, true);
}

void SyncFolderOf(const std::string& hostPath) noexcept {
  const size_t slash = hostPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : hostPath.substr(0, slash);
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.Get());
}

int ReplaceFileDurably(const std::string& hostPath, std::string_view bytes, mode_t mode) noexcept {
  return ReplaceFile(hostPath, bytes, mode, true);
}

int ReplaceFileAtomically(const std::string& hostPath, std::string_view bytes,
                          mode_t mode) noexcept {
  return ReplaceFile(hostPath, bytes, mode, false);
}

void ReplaceWholeFile(std::string_view windowsPath, std::string_view bytes) {
  const auto host = HostPath(windowsPath);
  if (!host) throw CannotCreateFile(windowsPath, EINVAL);
  if (const int err = ReplaceFileDurably(*host, bytes)) throw CannotCreateFile(windowsPath, err);
}

}  // namespace kvo::platform
