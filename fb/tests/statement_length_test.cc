// Firebird's longest statement, measured as the server measures it, and the server's message.
#include <gtest/gtest.h>

#include "fb/fb.h"

namespace kvo::fb {
namespace {

TEST(StatementLength, FirebirdsLimitAndItsMessage) {
  const size_t max = kMaxStatementBytes;
  struct Case {
    size_t bodyBytes;
    std::string tail;
    bool refused;
  } cases[] = {
      {max, "", false},     {max + 1, "", true},  {max, ";", false},
      {max, ";   ", false}, {max + 1, ";", true}, {max, ";;", true},
      {max, " ", true},     {max, ";\n", true},   {max - 1, " ;", false},
  };
  for (const auto& c : cases) {
    const std::string sql = std::string(c.bodyBytes, 'x') + c.tail;
    auto refusal = StatementTooLong(sql);
    EXPECT_EQ(refusal.has_value(), c.refused) << c.bodyBytes << " + \"" << c.tail << "\"";
  }
  auto refusal = StatementTooLong(std::string(max + 1, ' '));
  ASSERT_TRUE(refusal);
  EXPECT_EQ(std::string(refusal->what()),
            "Dynamic SQL Error\n-SQL error code = -902\n-Implementation limit exceeded\n"
            "-SQL statement is too long. Maximum size is 10485760 bytes.");
  EXPECT_EQ(refusal->codes().front(), 335544569);  // isc_dsql_error, as the server's
}

}  // namespace
}  // namespace kvo::fb
