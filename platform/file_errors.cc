#include "platform/file_errors.h"

#include <cstring>

#include "platform/winpath.h"

namespace kvo::platform {

namespace {

Error Failure(const char* what, std::string_view windowsPath, int errnoValue, const char* kind) {
  return Error(std::string(what) + " \"" + WindowsFullPath(windowsPath) + "\". " +
                   SystemReason(errnoValue),
               kind);
}

}  // namespace

std::string SystemReason(int errnoValue) {
  return std::strerror(errnoValue);
}

Error CannotOpenFile(std::string_view windowsPath, int errnoValue) {
  return Failure("Cannot open file", windowsPath, errnoValue, "EFOpenError");
}

Error CannotCreateFile(std::string_view windowsPath, int errnoValue) {
  return Failure("Cannot create file", windowsPath, errnoValue, "EFCreateError");
}

Error CannotOpenFolder(std::string_view windowsPath, int errnoValue) {
  return Failure("Cannot open folder", windowsPath, errnoValue, "EInOutError");
}

}  // namespace kvo::platform
