// Form bodies for the data-service tests: every byte but ASCII letters and digits encoded.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace kvo::dataservice::test {

inline std::string Encode(const std::string& value) {
  std::string out;
  for (unsigned char c : value) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      out += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

inline std::string Form(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string body;
  for (const auto& [name, value] : fields) body += name + "=" + Encode(value) + "&";
  return body;
}

}  // namespace kvo::dataservice::test
