// The Base64 decoding of the site page's query fields.
#pragma once

#include <string>
#include <string_view>

namespace kvo::pages {

// Decodes standard Base64 group by group: each group of four characters gives three bytes, one
// when its third character is "=", two when only its fourth is; so padding ends only its own
// group ("QQ==QQ==" gives "AA"). Characters outside the alphabet count as 0. Throws kvo::Error
// "Uneven size in DecodeToStream." when the length is not a multiple of 4.
std::string DecodeBase64(std::string_view text);

}  // namespace kvo::pages
