// The integer conversion of request variables and configuration values: optional blanks and
// sign, then decimal digits, or hexadecimal after "$" or "0x"/"0X"; signed 32-bit range. And
// bytes written as hexadecimal digits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kvo::platform {

// False (value untouched) for the empty text, any other text or a number out of range.
bool ParseInt32(std::string_view text, int32_t& value);

// Two upper-case hexadecimal digits per byte, nothing around them.
std::string HexBytes(std::string_view bytes);

}  // namespace kvo::platform
