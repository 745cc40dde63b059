// Shared by the fuzz targets: splitting one input into parts, and a private drive folder for
// targets whose decoder reads through the path layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kvo::fuzz {

// The input as text.
inline std::string_view AsText(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Cuts the first line (up to LF, which is dropped) off `rest` and returns it.
inline std::string_view TakeLine(std::string_view& rest) {
  size_t lf = rest.find('\n');
  std::string_view line = rest.substr(0, lf);
  rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
  return line;
}

// Creates (once per process) a temporary folder, points KVO_DRIVES at it and returns it; the
// folder is removed when the process ends.
const std::string& PrivateDrives();

}  // namespace kvo::fuzz
