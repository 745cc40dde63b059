// Text files as lists of lines: split at CR LF, CR or LF, reading stops at a NUL byte; joined
// with CR LF after every line, the last one included.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvo::config {

using TextLines = std::vector<std::string>;

TextLines SplitLines(std::string_view bytes);
std::string JoinLines(const TextLines& lines);
// Throws kvo::Error "Cannot open file "%s". %s" (Windows path of the file).
TextLines LoadLines(std::string_view windowsPath);
// Throws kvo::Error "Cannot create file "%s". %s".
void SaveLines(std::string_view windowsPath, const TextLines& lines);

}  // namespace kvo::config
