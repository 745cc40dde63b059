// ASCII case: only A-Z and a-z fold; every other byte compares as itself.
#include "platform/ascii.h"

#include <gtest/gtest.h>

namespace kvo::platform {
namespace {

TEST(Ascii, ComparisonsFoldOnlyAsciiLetters) {
  struct Case {
    std::string_view a, b;
    bool same;
  } cases[] = {
      {"/SQL", "/sql", true},  {"Content_Type", "CONTENT_TYPE", true},
      {"", "", true},          {"sql", "sq", false},
      {"\xC9", "\xE9", false},  // Windows-1252 E acute: not an ASCII letter
      {"[", "{", false},        // 0x5B and 0x7B differ by 0x20 like a letter pair
      {"@", "`", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameTextAscii(c.a, c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(SameTextAscii(c.b, c.a), c.same) << c.b << " / " << c.a;
  }
  EXPECT_EQ(AsciiLowered("AbZ[\xC9"), "abz[\xC9");
  EXPECT_EQ(AsciiUppered("azB{\xE9"), "AZB{\xE9");
}

TEST(Ascii, PrefixAndSearch) {
  EXPECT_TRUE(StartsWithAscii("SELECT * from t", "select"));
  EXPECT_TRUE(StartsWithAscii("select", "select"));
  EXPECT_FALSE(StartsWithAscii("selec", "select"));
  EXPECT_FALSE(StartsWithAscii(" select", "select"));
  EXPECT_TRUE(ContainsAscii("insert into t Select 1", "select"));
  EXPECT_TRUE(ContainsAscii("anything", ""));
  EXPECT_TRUE(ContainsAscii("", ""));
  EXPECT_FALSE(ContainsAscii("sele ct", "select"));
}

TEST(Ascii, TrimControlsCutsBytesUpToBlank) {
  struct Case {
    std::string_view in, out;
  } cases[] = {
      {"  select 1 \r\n", "select 1"},
      {std::string_view("\0\x1F x\x7F \t", 6), "x\x7F"},  // DEL is kept
      {" \t\r\n", ""},
      {"\xA0x\xA0", "\xA0x\xA0"},  // a non-breaking space is text
  };
  for (const auto& c : cases) EXPECT_EQ(TrimControls(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace kvo::platform
