// Letter case of Windows-1252 text as Windows compares file names and INI names: one table for
// paths and configuration names alike, so that a name found in one is found in the other.
//
// Pairs: ASCII letters; 0xE0-0xFE with 0xC0-0xDE except the signs 0xF7 and 0xD7; and the four
// letters of the 0x80 row: 0x9A/0x8A, 0x9C/0x8C, 0x9E/0x8E, 0xFF/0x9F. Every other byte,
// 0xDF and 0xB5 among them, has no other case.
#pragma once

#include <string>
#include <string_view>

namespace kvo::platform {

// The upper-case form of one Windows-1252 byte (itself when it has none).
char UpperCase1252(char c);

// The whole text in upper case by the table above.
std::string UpperCase1252(std::string_view text);

// True when the texts are equal without regard to letter case.
bool EqualNoCase1252(std::string_view a, std::string_view b);

}  // namespace kvo::platform
