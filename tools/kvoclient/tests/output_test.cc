// kvoclient's output formats on rows that need care: quotes, separators, line breaks, NULL
// against the empty text, wide characters and repeated column names.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/kvoclient/output.h"

namespace kvo::kvoclient {
namespace {

using Kind = ResultTable::Kind;

ResultTable Sample() {
  ResultTable t;
  t.columns = {{"N", Kind::Number}, {"S", Kind::Text}, {"B", Kind::Boolean}, {"S", Kind::Text}};
  t.rows = {
      {"-1.50", "a,\"b\"\r\nc", "true", ""},
      {"10", "Jo\xC3\xA3o\t", std::nullopt, std::nullopt},
  };
  return t;
}

std::string Write(const ResultTable& t, Format f) {
  std::ostringstream out;
  WriteRows(out, t, f);
  return out.str();
}

TEST(KvoclientOutput, Formats) {
  EXPECT_EQ(Write(Sample(), Format::Table),
            "N     | S          | B    | S\n"
            "------+------------+------+-----\n"
            "-1.50 | a,\"b\"\\r\\nc | true | \n"
            "   10 | Jo\xC3\xA3o\\t     | NULL | NULL\n"
            "(2 rows)\n");
  EXPECT_EQ(Write(Sample(), Format::Csv),
            "N,S,B,S\r\n-1.50,\"a,\"\"b\"\"\r\nc\",true,\"\"\r\n10,Jo\xC3\xA3o\t,,\r\n");
  EXPECT_EQ(Write(Sample(), Format::Json),
            "[\n  {\"N\": -1.50, \"S\": \"a,\\\"b\\\"\\r\\nc\", \"B\": true, \"S_2\": \"\"},\n"
            "  {\"N\": 10, \"S\": \"Jo\xC3\xA3o\\t\", \"B\": null, \"S_2\": null}\n]\n");
}

TEST(KvoclientOutput, BinaryValuesAsHexadecimal) {
  ResultTable t;
  t.columns = {{"B", Kind::Binary}};
  t.rows = {{"0x00FF0D0A"}, {std::nullopt}};
  EXPECT_EQ(Write(t, Format::Table), "B\n----------\n0x00FF0D0A\nNULL\n(2 rows)\n");
  EXPECT_EQ(Write(t, Format::Csv), "B\r\n0x00FF0D0A\r\n\r\n");
  EXPECT_EQ(Write(t, Format::Json), "[\n  {\"B\": \"0x00FF0D0A\"},\n  {\"B\": null}\n]\n");
}

TEST(KvoclientOutput, NoRows) {
  ResultTable t;
  t.columns = {{"ID", Kind::Number}};
  EXPECT_EQ(Write(t, Format::Table), "ID\n--\n(0 rows)\n");
  EXPECT_EQ(Write(t, Format::Csv), "ID\r\n");
  EXPECT_EQ(Write(t, Format::Json), "[]\n");
  EXPECT_EQ(JsonString(std::string("\x01\\", 2)), "\"\\u0001\\\\\"");
}

}  // namespace
}  // namespace kvo::kvoclient
