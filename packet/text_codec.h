// Value codecs that the XML renderer and loader share (internal to the packet engine).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kvo::packet::detail {

// Control characters that XML 1.0 cannot carry at all travel as the private-use characters
// U+E000 + byte (written "&#xE0hh;"); tab, line feed and carriage return as "&#9;", "&#10;",
// "&#13;" so that attribute normalisation leaves them alone.
constexpr uint32_t kControlBase = 0xE000;

// Appends `text` as an attribute value's content (without the quotes).
void AppendEscaped(std::string& out, std::string_view text);
size_t EscapedLength(std::string_view text);

void AppendBase64(std::string& out, std::string_view bytes);
// The same into a buffer with room for EscapedLength / Base64Length bytes (8 per byte will
// always do); they return the end of what they wrote.
char* WriteEscaped(char* w, std::string_view text);
char* WriteBase64(char* w, std::string_view bytes);
inline size_t Base64Length(size_t n) {
  return (n + 2) / 3 * 4;
}
// False on a character outside the alphabet or a bad length/padding.
bool DecodeBase64(std::string_view text, std::string& out);

}  // namespace kvo::packet::detail
