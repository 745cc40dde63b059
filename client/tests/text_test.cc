#include "kvo/client/text.h"

#include <gtest/gtest.h>

#include "platform/error.h"

namespace kvo::client {
namespace {

TEST(TextConversion, Utf8ToWindows1252AndBack) {
  struct Case {
    std::string utf8;
    std::string refused;   // the message with Refuse; empty when converted
    std::string replaced;  // the result with Replace
  } cases[] = {
      {"plain", "", "plain"},
      {"a\xC3\xA7\xC3\xA3o \xE2\x82\xAC", "", "a\xE7\xE3o \x80"},
      {"", "", ""},
      {"a?b", "", "a?b"},
      {"\xC5\xBC\xC3\xB3", "The text holds \"\xC5\xBC\", which Windows-1252 cannot hold", "?\xF3"},
      {"x\xF0\x9F\x98\x80", "The text holds \"\xF0\x9F\x98\x80\", which Windows-1252 cannot hold",
       "x?"},
      {"bad \xC3", "The text is not valid UTF-8", "bad ?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf8ToWindows1252(c.utf8, TUnmappable::Replace), c.replaced);
    if (c.refused.empty()) {
      EXPECT_EQ(Utf8ToWindows1252(c.utf8), c.replaced);
      EXPECT_EQ(Windows1252ToUtf8(c.replaced), c.utf8) << "back to what it was";
    } else {
      try {
        Utf8ToWindows1252(c.utf8);
        ADD_FAILURE() << "converted";
      } catch (const Error& e) {
        EXPECT_EQ(e.what(), c.refused);
      }
    }
  }
  try {
    Utf8ToWindows1252("\xC5\xBC", TUnmappable::Refuse, "The value of :name");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "The value of :name holds \"\xC5\xBC\", which Windows-1252 cannot hold");
  }
}

}  // namespace
}  // namespace kvo::client
