// Whole-file reading and writing by Windows path, with the messages the callers pass on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_errors.h"
#include "platform/unique_fd.h"

namespace kvo::platform {

// True when a file (not a folder) exists at the Windows path.
bool FileExists(std::string_view windowsPath);
// True when a folder exists at the Windows path.
bool DirectoryExists(std::string_view windowsPath);

// A file open for reading by Windows path. It is opened without blocking, so that a FIFO
// cannot hang the request, and kept only when it is a regular file, so that a device cannot
// stream without end. The constructor throws CannotOpenFile with the system's reason, "Is a
// directory" for a folder, kNotRegularFile for anything else.
class ReadableFile {
 public:
  explicit ReadableFile(std::string_view windowsPath);
  ReadableFile(const ReadableFile&) = delete;
  ReadableFile& operator=(const ReadableFile&) = delete;

  int fd() const { return fd_.Get(); }
  // The size when it was opened.
  uint64_t size() const { return size_; }
  // Reads up to `count` bytes; 0 at the end. Throws the open failure with the read's reason.
  size_t Read(char* buffer, size_t count);

 private:
  std::string windowsPath_;
  UniqueFd fd_;
  uint64_t size_ = 0;
};

// Reads the whole file through a ReadableFile, whose failure it throws; a read error fails the
// same way.
std::string ReadWholeFile(std::string_view windowsPath);

// Replaces the whole content of the file (created or truncated). Throws kvo::Error
// "Cannot create file "<full Windows path>". <reason>" (kind "EFCreateError").
void WriteWholeFile(std::string_view windowsPath, std::string_view bytes);

}  // namespace kvo::platform
