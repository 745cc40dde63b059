#include "configfiles/text_lines.h"

#include "platform/files.h"

namespace kvo::config {

TextLines SplitLines(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  TextLines lines;
  size_t start = 0;
  size_t i = 0;
  while (i < bytes.size()) {
    char c = bytes[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(bytes.substr(start, i - start));
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < bytes.size()) lines.emplace_back(bytes.substr(start));
  return lines;
}

std::string JoinLines(const TextLines& lines) {
  size_t size = 0;
  for (const auto& l : lines) size += l.size() + 2;
  std::string out;
  out.reserve(size);
  for (const auto& l : lines) {
    out += l;
    out += "\r\n";
  }
  return out;
}

TextLines LoadLines(std::string_view windowsPath) {
  return SplitLines(platform::ReadWholeFile(windowsPath));
}

void SaveLines(std::string_view windowsPath, const TextLines& lines) {
  platform::WriteWholeFile(windowsPath, JoinLines(lines));
}

}  // namespace kvo::config
