// The failure texts of files and folders that reach the user, built here only, so every action
// words them alike: "Cannot open file "<full Windows path>". <reason>".
#pragma once

#include <string>
#include <string_view>

#include "platform/error.h"

namespace kvo::platform {

// The operating system's description of an errno value ("No such file or directory").
std::string SystemReason(int errnoValue);

// kvo::Error "Cannot open file "<full Windows path>". <reason>", kind "EFOpenError".
Error CannotOpenFile(std::string_view windowsPath, int errnoValue);
// kvo::Error "Cannot create file "<full Windows path>". <reason>", kind "EFCreateError".
Error CannotCreateFile(std::string_view windowsPath, int errnoValue);
// kvo::Error "Cannot open folder "<full Windows path>". <reason>", kind "EInOutError".
Error CannotOpenFolder(std::string_view windowsPath, int errnoValue);

}  // namespace kvo::platform
