// Conversions between the library's Windows-1252 text and UTF-8.
#include "kvo/client/text.h"

#include "platform/codepage.h"
#include "platform/error.h"

namespace kvo::client {

std::string Utf8ToWindows1252(std::string_view utf8, TUnmappable unmappable,
                              std::string_view what) {
  std::string text = platform::Utf8ToCp1252(utf8);
  if (unmappable == TUnmappable::Replace || platform::Cp1252ToUtf8(text) == utf8) return text;
  if (!platform::IsValidUtf8(utf8)) throw Error(std::string(what) + " is not valid UTF-8");
  size_t at = 0;
  while (at < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    const std::string_view one = utf8.substr(at, length);
    if (platform::Cp1252ToUtf8(platform::Utf8ToCp1252(one)) != one) {
      throw Error(std::string(what) + " holds \"" + std::string(one) +
                  "\", which Windows-1252 cannot hold");
    }
    at += length;
  }
  return text;  // not reached: some character differed
}

std::string Windows1252ToUtf8(std::string_view text) {
  return platform::Cp1252ToUtf8(text);
}

}  // namespace kvo::client
