// The version text of Windows executables, read by our own reader of the Portable Executable
// format (32- and 64-bit): section table, resource directory, the RT_VERSION resource, and the
// VS_VERSIONINFO tree inside it. The format notes are in docs/pe-version.md.
//
// The files come from configuration and from callers, so nothing read from them is trusted:
// every offset and length is checked against the file's size before use, the resource walk has
// a fixed depth, and a truncated, corrupt or hostile file simply has no version text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kvo::platform {

// The "FileVersion" text of the file at the Windows path: the first pair of
// \VarFileInfo\Translation names the string table \StringFileInfo\<lang><codepage> (four
// upper-case hexadecimal digits each), whose "FileVersion" entry is returned up to its NUL,
// converted from UTF-16 to Windows-1252. Empty when the file is missing, unreadable, not a
// regular file, not a PE file, or lacks any of these pieces. Never throws.
std::string FileVersionText(std::string_view windowsPath);

// The same for the bytes of a PE file held in memory.
std::string PeFileVersion(std::string_view image);

// The first (language, code page) pair of the translation table, or nullopt.
std::optional<std::pair<uint16_t, uint16_t>> PeFirstTranslation(std::string_view image);

}  // namespace kvo::platform
