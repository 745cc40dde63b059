// Form bodies for requests made by tests and benchmarks: every byte but ASCII letters and
// digits percent-encoded, so any text (CR LF, "&", "=", Windows-1252 letters) reaches the
// program's field decoding unchanged.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvo::testing {

inline std::string FormEncode(std::string_view value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (unsigned char c : value) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// "name=value&" for each field, in order.
inline std::string Form(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string body;
  for (const auto& [name, value] : fields) body += name + "=" + FormEncode(value) + "&";
  return body;
}

}  // namespace kvo::testing
