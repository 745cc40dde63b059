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
// The same with a reason of our own (kNotRegularFile).
Error CannotOpenFile(std::string_view windowsPath, std::string_view reason);

// The reason given for a file that exists but is neither a regular file nor a folder.
inline constexpr std::string_view kNotRegularFile = "Not a regular file";
// kvo::Error "Cannot create file "<full Windows path>". <reason>", kind "EFCreateError".
Error CannotCreateFile(std::string_view windowsPath, int errnoValue);
// kvo::Error "Cannot open folder "<full Windows path>". <reason>", kind "EInOutError".
Error CannotOpenFolder(std::string_view windowsPath, int errnoValue);

}  // namespace kvo::platform
