#include "platform/file_errors.h"

#include <cstring>

#include "platform/winpath.h"

namespace kvo::platform {

namespace {

Error Failure(const char* what, std::string_view windowsPath, std::string_view reason,
              const char* kind) {
  return Error(
      std::string(what) + " \"" + WindowsFullPath(windowsPath) + "\". " + std::string(reason),
      kind);
}

}  // namespace

std::string SystemReason(int errnoValue) {
  return std::strerror(errnoValue);
}

Error CannotOpenFile(std::string_view windowsPath, int errnoValue) {
  return Failure("Cannot open file", windowsPath, SystemReason(errnoValue), "EFOpenError");
}

Error CannotOpenFile(std::string_view windowsPath, std::string_view reason) {
  return Failure("Cannot open file", windowsPath, reason, "EFOpenError");
}

Error CannotCreateFile(std::string_view windowsPath, int errnoValue) {
  return Failure("Cannot create file", windowsPath, SystemReason(errnoValue), "EFCreateError");
}

Error CannotOpenFolder(std::string_view windowsPath, int errnoValue) {
  return Failure("Cannot open folder", windowsPath, SystemReason(errnoValue), "EInOutError");
}

}  // namespace kvo::platform
