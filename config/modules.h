// The module list: a walk of the module tree that loads every module library to ask for its
// description and icons, and the list file that keeps the answer. The library interface and
// the mapping of Windows file attributes onto this file system are in docs/modules.md.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "configfiles/text_lines.h"

namespace kvo::config {

// The joined lines ("path|description|category icon|select icon", CR LF after each) of a fresh
// walk of `root` (a Windows path; the lines begin with it exactly as given). Sub-directories
// come before the files of their parent, entries in the file system's order. The walk makes
// each directory current in turn and restores the caller's current directory, also on failure.
// Throws kvo::Error (kind "EInOutError") "Cannot open folder "<full path>". <reason>" when a
// directory to be walked cannot be made current or listed; nothing is returned then.
std::string ScanModules(std::string_view root);

// "description|category icon|select icon" of the library at the host path, or
// "Desconhecido|0|0" when it cannot be loaded, lacks an export, gives no description, or fails
// in any other way. The library is loaded and asked in a forked copy of this process, so a
// module that crashes, calls exit, writes to standard output or takes longer than `timeout`
// costs its own line only; the server's standard output and state stay untouched.
std::string DescribeModule(const std::string& hostPath,
                           std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The same, loading the library into this process itself (the fallback when no copy of the
// process can be made).
std::string DescribeModuleInProcess(const std::string& hostPath);

// Writes the lines as the whole new content of the list file without ever leaving a partly
// written file at its path: the text goes to a temporary file beside it that then replaces it.
// Throws kvo::Error "Cannot create file "%s". %s" (kind "EFCreateError").
void SaveListFile(std::string_view windowsPath, const TextLines& lines);

}  // namespace kvo::config
