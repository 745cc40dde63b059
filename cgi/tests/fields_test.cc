// Splitting and decoding of request fields, as tables of good and malformed inputs.
#include "cgi/fields.h"

#include <gtest/gtest.h>

#include "platform/error.h"

namespace kvo::cgi {
namespace {

std::vector<std::string> Split(std::string_view text) {
  std::vector<std::string> out;
  SplitFields(text, "&\r\n", "\r\n", out);
  return out;
}

TEST(SplitFields, GoodInputs) {
  struct Case {
    std::string text;
    std::vector<std::string> fields;
  } cases[] = {
      {"", {}},
      {"a=1", {"a=1"}},
      {"a=1&&b=2", {"a=1", "", "b=2"}},
      {"a=1&", {"a=1"}},
      {"&a=1", {"", "a=1"}},
      {"a=1\r\nb=2", {"a=1", "b=2"}},
      {"\r\n\r\na=1\n\nb=2\r", {"a=1", "b=2"}},
      {"a+b=c+d", {"a b=c d"}},
      {"x=1%263", {"x=1&3"}},
      {"x=%41%42&y=%%41", {"x=AB", "y=%41"}},
      // A quote inside a field keeps separators inside it and is kept itself.
      {"q=\"a&b\"&z=1", {"q=\"a&b\"", "z=1"}},
      // A field that starts with a quote loses it; the closing quote ends the field.
      {"\"a&b\"c&d", {"a&b", "c", "d"}},
      {"\"a\r\nb", {"a\r\nb"}},
      {"q=\"open&x", {"q=\"open&x"}},
      // The character after an included closing quote is passed over.
      {"q=\"a\"bc&d", {"q=\"a\"", "c", "d"}},
      // Encoded quotes are ordinary bytes after decoding.
      {"q=%22a&b=1", {"q=\"a", "b=1"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Split(c.text), c.fields) << "text: " << c.text;
}

TEST(DecodeField, MalformedPercentSequences) {
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      {"x=%4", "Error decoding URL style (%XX) encoded string at position 3"},
      {"x=%", "Error decoding URL style (%XX) encoded string at position 3"},
      {"%", "Error decoding URL style (%XX) encoded string at position 1"},
      {"x=%zz", "Invalid URL encoded character (%zz) at position 3"},
      {"abc%4g", "Invalid URL encoded character (%4g) at position 4"},
  };
  for (const auto& c : cases) {
    try {
      DecodeField(c.text);
      ADD_FAILURE() << "no failure for " << c.text;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), c.message) << "text: " << c.text;
    }
  }
}

TEST(SplitFields, FailureKeepsFieldsBeforeIt) {
  std::vector<std::string> out;
  EXPECT_THROW(SplitFields("a=1&b=%zz&c=3", "&\r\n", "\r\n", out), Error);
  EXPECT_EQ(out, std::vector<std::string>{"a=1"});
}

TEST(FieldList, ValueByName) {
  FieldList list;
  list.Parse("a=1&a=2&DB=x&novalue&e=&k=v=w", "&\r\n", "\r\n");
  EXPECT_EQ(list.Value("a"), "1");
  EXPECT_EQ(list.Value("db"), "x");
  EXPECT_EQ(list.Value("novalue"), "");
  EXPECT_EQ(list.Value("e"), "");
  EXPECT_EQ(list.Value("k"), "v=w");
  EXPECT_EQ(list.Value("missing"), "");
}

// The list keeps no decoded copies; each lookup must still see the fields exactly as the
// splitting does, escapes in names included.
TEST(FieldList, LookupsDecodeLikeTheSplit) {
  struct Case {
    std::string text, name, value;
    size_t count;
  } cases[] = {
      {"a%3D1=2", "a", "1=2", 1},
      {"%61=1&a=2", "A", "1", 2},
      {"a+b=c+d", "a b", "c d", 1},
      {"x=%%41&y=%41", "x", "%41", 2},
      {"\"q=a&b\"&q=2", "q", "a&b", 3},  // the "&" after a closing quote starts an empty field
      {"\r\n\r\nq=1\n\nq=2\r", "q", "1", 2},
      {"&&&&&&q=last", "q", "last", 7},
      {"q", "q", "", 1},
      {"", "q", "", 0},
  };
  for (const auto& c : cases) {
    FieldList list;
    list.Parse(c.text, "&\r\n", "\r\n");
    EXPECT_EQ(list.Value(c.name), c.value) << "text: " << c.text;
    EXPECT_EQ(list.Count(), c.count) << "text: " << c.text;
    EXPECT_EQ(list.Items(), Split(c.text)) << "text: " << c.text;
  }
}

TEST(FieldList, FailureKeepsFieldsBeforeIt) {
  FieldList list;
  EXPECT_THROW(list.Parse("a=1&b=%zz&a=2&c=3", "&\r\n", "\r\n"), Error);
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.Items(), std::vector<std::string>{"a=1"});
  EXPECT_EQ(list.Value("a"), "1");
  EXPECT_EQ(list.Value("c"), "");
}

}  // namespace
}  // namespace kvo::cgi
