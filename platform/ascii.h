// ASCII letter case and the comparisons built on it. Only A-Z and a-z change case here: the
// names these serve (action paths, INI keys, environment names, SQL keywords, column names)
// are compared the way the program always compared them, whatever the byte above 0x7F.
#pragma once

#include <string>
#include <string_view>

namespace kvo::platform {

constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string AsciiLowered(std::string_view text);
std::string AsciiUppered(std::string_view text);

// Equal but for the case of ASCII letters.
bool SameTextAscii(std::string_view a, std::string_view b);
// `text` begins with `prefix`, but for the case of ASCII letters.
bool StartsWithAscii(std::string_view text, std::string_view prefix);
// `needle` occurs in `haystack`, but for the case of ASCII letters (an empty needle always does).
bool ContainsAscii(std::string_view haystack, std::string_view needle);

// Holds a byte above 0x7F.
bool BeyondAscii(std::string_view text);

// Without blanks and control characters (bytes up to 0x20) at either end.
std::string_view TrimControls(std::string_view text);

}  // namespace kvo::platform
