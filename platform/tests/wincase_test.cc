// The one letter-case table of file and configuration names.
#include "platform/wincase.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cwctype>

#include "platform/codepage.h"

namespace kvo::platform {
namespace {

// Every byte against the simple upper case that Unicode gives its character, kept only where
// Windows-1252 has that upper case too: so "\xB5" (micro sign, upper case a Greek letter) and
// "\xDF" (sharp s, none) keep their own case, and "\xFF" pairs with "\x9F".
TEST(CaseTable, AgreesWithUnicodeWithinTheCodePage) {
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    const std::u16string wide = Cp1252ToUtf16(byte);
    const auto upper = static_cast<char16_t>(std::towupper(wide[0]));
    std::string expected = Utf16ToCp1252(std::u16string(1, upper), false);
    if (expected == "?" && b != '?') expected = byte;
    EXPECT_EQ(UpperCase1252(static_cast<char>(b)), expected[0]) << "byte " << b;
  }
  std::setlocale(LC_CTYPE, "C");
}

TEST(CaseTable, NamesCompareWithoutCase) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"KVO.Mobile.S\xC3O", "kvo.mobile.s\xE3o", true},
      {"M\xD3"
       "DULOS",
       "m\xF3"
       "dulos",
       true},
      {"\x8A\x8C\x8E\x9F", "\x9A\x9C\x9E\xFF", true},
      {"\xD7", "\xF7", false},  // multiplication and division signs are no pair
      {"\xDF", "SS", false},
      {"a", "ab", false},
  };
  for (const auto& c : cases) EXPECT_EQ(EqualNoCase1252(c.a, c.b), c.equal) << c.a << " " << c.b;
  EXPECT_EQ(UpperCase1252("s\xE3o jo\xE3o \xFF"), "S\xC3O JO\xC3O \x9F");
}

}  // namespace
}  // namespace kvo::platform
