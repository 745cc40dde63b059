// Telling well-formed UTF-8 from other bytes (Windows-1252 text, damaged or disguised forms).
#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"

namespace kvo::platform {
namespace {

TEST(IsValidUtf8, GoodAndMalformedTexts) {
  struct Case {
    std::string text;
    bool valid;
    const char* what;
  } cases[] = {
      {"", true, "empty"},
      {"Padaria 12", true, "ASCII"},
      {"S\xC3\xA3o Jo\xC3\xA3o", true, "two-byte letters"},
      {"\xE2\x82\xAC 5", true, "euro sign, three bytes"},
      {"\xF0\x9F\x98\x80", true, "four bytes"},
      {"\xF4\x8F\xBF\xBF", true, "U+10FFFF"},
      {"S\xE3o Jo\xE3o", false, "Windows-1252 letters"},
      {"\x80", false, "euro sign in Windows-1252"},
      {"\xC3", false, "cut after the lead byte"},
      {"\xE2\x82", false, "cut inside three bytes"},
      {"\xC3\x41", false, "lead byte without continuation"},
      {"\xC0\xAE", false, "overlong dot"},
      {"\xC1\x9C", false, "overlong backslash"},
      {"\xE0\x80\xAE", false, "overlong in three bytes"},
      {"\xF0\x80\x80\xAE", false, "overlong in four bytes"},
      {"\xED\xA0\x80", false, "surrogate"},
      {"\xF4\x90\x80\x80", false, "above U+10FFFF"},
      {"\xF8\x88\x80\x80\x80", false, "five-byte form"},
      {"\xBF", false, "lone continuation byte"},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.what;
}

}  // namespace
}  // namespace kvo::platform
