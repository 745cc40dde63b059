#include "platform/ascii.h"

#include <algorithm>

namespace kvo::platform {

namespace {
bool SameAscii(char a, char b) {
  return AsciiLower(a) == AsciiLower(b);
}
}  // namespace

std::string AsciiLowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::string AsciiUppered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), SameAscii);
}

bool StartsWithAscii(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameTextAscii(text.substr(0, prefix.size()), prefix);
}

bool ContainsAscii(std::string_view haystack, std::string_view needle) {
  return needle.empty() || std::search(haystack.begin(), haystack.end(), needle.begin(),
                                       needle.end(), SameAscii) != haystack.end();
}

std::string_view TrimControls(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

bool BeyondAscii(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

}  // namespace kvo::platform
