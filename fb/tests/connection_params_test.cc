// The "name=value" lines of a connection: the four names taken, everything else refused.
#include <gtest/gtest.h>

#include "fb/fb.h"

namespace kvo::fb {
namespace {

TEST(ConnectionParams, TheFourNamesWithBlanksAndPrefixes) {
  using P = ConnectionParam;
  struct Case {
    std::vector<std::string> lines;
    std::vector<std::pair<P::Name, std::string>> expected;
  } cases[] = {
      {{"user_name=SYSDBA", "password=masterkey"},
       {{P::UserName, "SYSDBA"}, {P::Password, "masterkey"}}},
      {{" user_name = SYSDBA ", "\tpassword=\tpw with blanks\t"},
       {{P::UserName, "SYSDBA"}, {P::Password, "pw with blanks"}}},
      {{"ISC_DPB_USER_NAME=a", "isc_dpb_lc_ctype=WIN1252", "Sql_Role_Name=RDB$ADMIN"},
       {{P::UserName, "a"}, {P::LcCtype, "WIN1252"}, {P::SqlRoleName, "RDB$ADMIN"}}},
      {{"", "  ", "password=a=b", "user_name"}, {{P::Password, "a=b"}, {P::UserName, ""}}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::pair<P::Name, std::string>> got;
    for (const P& p : ParseConnectionParams(c.lines)) got.emplace_back(p.name, p.value);
    EXPECT_EQ(got, c.expected) << ::testing::PrintToString(c.lines);
  }
}

TEST(ConnectionParams, AnyOtherNameIsRefused) {
  struct Case {
    std::string line;
    std::string name;
  } cases[] = {
      {"sql_dialect=1", "sql_dialect"},
      {"  num_buffers = 100", "num_buffers"},
      {"isc_dpb_config=Providers=Engine12", "isc_dpb_config"},
      {"user=SYSDBA", "user"},
      {"isc_dpb_=x", "isc_dpb_"},
      {"=x", ""},
      {"garbage", "garbage"},
  };
  for (const auto& c : cases) {
    try {
      ParseConnectionParams({"user_name=SYSDBA", c.line, "password=x"});
      ADD_FAILURE() << c.line << " was taken";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "Unknown connection parameter \"" + c.name + "\"") << c.line;
    }
    // Where other names are skipped, they are skipped, never sent.
    const auto kept = ParseConnectionParams({"user_name=SYSDBA", c.line, "password=x"}, false);
    ASSERT_EQ(kept.size(), 2u) << c.line;
    EXPECT_EQ(kept[1].name, ConnectionParam::Password) << c.line;
  }
}

}  // namespace
}  // namespace kvo::fb
