#include "pages/base64.h"

#include "platform/error.h"

namespace kvo::pages {

namespace {

unsigned SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;
}

}  // namespace

std::string DecodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) throw Error("Uneven size in DecodeToStream.", "EConvertError");
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    unsigned bits = 0;
    for (size_t k = 0; k < 4; ++k) bits = (bits << 6) | SextetOf(text[i + k]);
    size_t bytes = text[i + 2] == '=' ? 1 : text[i + 3] == '=' ? 2 : 3;
    for (size_t k = 0; k < bytes; ++k)
      out.push_back(static_cast<char>((bits >> (16 - 8 * k)) & 0xFF));
  }
  return out;
}

}  // namespace kvo::pages
