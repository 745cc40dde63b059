// Whole-file reading and writing by Windows path, with the messages the callers pass on.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_errors.h"

namespace kvo::platform {

// True when a file (not a folder) exists at the Windows path.
bool FileExists(std::string_view windowsPath);
// True when a folder exists at the Windows path.
bool DirectoryExists(std::string_view windowsPath);

// Reads the whole file. Throws kvo::Error "Cannot open file "<full Windows path>". <reason>"
// (kind "EFOpenError") when it cannot be opened or read.
std::string ReadWholeFile(std::string_view windowsPath);

// Replaces the whole content of the file (created or truncated). Throws kvo::Error
// "Cannot create file "<full Windows path>". <reason>" (kind "EFCreateError").
void WriteWholeFile(std::string_view windowsPath, std::string_view bytes);

}  // namespace kvo::platform
