// Conversions between the program's single-byte Windows-1252 text and the encodings of this
// platform (UTF-8 file names, UTF-16 module descriptions).
#pragma once

#include <string>
#include <string_view>

namespace kvo::platform {

// Windows-1252 bytes to UTF-8. The five undefined bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to
// U+0081... as Windows' own conversion does, so every byte survives a round trip.
std::string Cp1252ToUtf8(std::string_view text);

// UTF-8 to Windows-1252; characters the code page lacks (and broken UTF-8) become "?".
std::string Utf8ToCp1252(std::string_view text);

// Text in the character set that iconv names `encoding` ("ISO-8859-5", "CP1250", "SJIS", ...)
// to Windows-1252 the way Windows converts: each character the code page lacks, and each byte
// that decodes to no character, becomes "?". Never fails; an encoding iconv does not know
// gives "?" for every byte beyond ASCII.
std::string EncodingToCp1252(const char* encoding, std::string_view text);

// UTF-16 (native byte order, no BOM) to Windows-1252. With `lookAlike`, characters the code
// page lacks become a look-alike where one is known (as iconv's //TRANSLIT gives), else "?".
std::string Utf16ToCp1252(std::u16string_view text, bool lookAlike = true);

// Windows-1252 to UTF-16.
std::u16string Cp1252ToUtf16(std::string_view text);

// True when `text` is well-formed UTF-8: shortest forms only, no surrogates, nothing above
// U+10FFFF. The empty text and plain ASCII are UTF-8.
bool IsValidUtf8(std::string_view text);

}  // namespace kvo::platform
