// Firebird result sets read into packets: each column type's field and value, NULLs, the limit.
#include <gtest/gtest.h>

#include "fbpacket/fb_packet.h"
#include "tests/support/fb_testdb.h"

namespace kvo::fbpacket {
namespace {

using packet::Field;
using packet::FieldType;
using testing::TempDatabase;

class BuildPacketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    db_.emplace();
  }
  // The packet of `sql`, precisions looked up as the server and the client library do.
  packet::Packet Select(const std::string& sql, uint64_t maxBytes = 0) {
    fb::Attachment a = db_->Attach();
    fb::Transaction t = a.StartTransaction();
    fb::Statement st = a.Prepare(t, sql);
    st.LookupPrecisions(t);
    fb::ResultSet rows = st.Open();
    return BuildPacket(rows, maxBytes);
  }
  std::optional<TempDatabase> db_;
};

TEST_F(BuildPacketTest, EachColumnTypeHasItsFieldAndValue) {
  db_->Execute(
      {"create table t (s smallint not null, i integer, b bigint, n numeric(5,2), "
       "d decimal(12,3), nb numeric(18,4), f float, dp double precision, c char(3), "
       "v varchar(10), bo boolean, dt date, tm time, ts timestamp, "
       "bt blob sub_type text, bb blob sub_type binary)",
       "insert into t values (-7, 70000, 5000000000, 123.45, -1234.567, 12.3456, 1.5, "
       "-2.25, 'ab', 'xyz', true, '2024-02-29', '12:34:56.7890', "
       "'1999-12-31 23:59:58.1230', 'long text', x'00FF10')",
       "insert into t (s) values (1)"});
  packet::Packet p = Select(
      "select s, i, b, n, d, nb, f, dp, c, v, bo, dt, tm, ts, bt, bb, "
      "cast(1.5 as numeric(4,1)) as e from t order by s");

  struct Expected {
    const char* name;
    FieldType type;
    int width, decimals;
    bool fixedChar, required;
  } expected[] = {
      {"S", FieldType::I2, 0, 0, false, true},
      {"I", FieldType::I4, 0, 0, false, false},
      {"B", FieldType::I8, 0, 0, false, false},
      // Declared precisions come from the system tables...
      {"N", FieldType::Fixed, 5, 2, false, false},
      {"D", FieldType::Fixed, 12, 3, false, false},
      {"NB", FieldType::Fixed, 18, 4, false, false},
      {"F", FieldType::R8, 0, 0, false, false},
      {"DP", FieldType::R8, 0, 0, false, false},
      {"C", FieldType::String, 3, 0, true, false},
      {"V", FieldType::String, 10, 0, false, false},
      {"BO", FieldType::Boolean, 0, 0, false, false},
      {"DT", FieldType::Date, 0, 0, false, false},
      {"TM", FieldType::Time, 0, 0, false, false},
      {"TS", FieldType::DateTime, 0, 0, false, false},
      {"BT", FieldType::Text, 0, 0, false, false},
      {"BB", FieldType::Binary, 0, 0, false, false},
      // ...an expression has none: the digits its storage holds (a literal is never NULL).
      {"E", FieldType::Fixed, 4, 1, false, true},
  };
  ASSERT_EQ(p.FieldCount(), std::size(expected));
  for (size_t c = 0; c < std::size(expected); ++c) {
    const Expected& e = expected[c];
    const Field& f = p.Fields()[c];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(f.name, e.name);
    EXPECT_EQ(f.attrName, e.name);
    EXPECT_EQ(f.type, e.type);
    EXPECT_EQ(f.width, e.width);
    EXPECT_EQ(f.decimals, e.decimals);
    EXPECT_EQ(f.fixedChar, e.fixedChar);
    EXPECT_EQ(f.required, e.required);
  }

  ASSERT_EQ(p.RowCount(), 2u);
  const size_t r = 0;  // ordered by s: the full row first
  EXPECT_EQ(p.GetInt(r, 0), -7);
  EXPECT_EQ(p.GetInt(r, 1), 70000);
  EXPECT_EQ(p.GetInt(r, 2), 5000000000);
  EXPECT_EQ(p.GetFixedText(r, 3), "123.45");
  EXPECT_EQ(p.GetFixedText(r, 4), "-1234.567");
  EXPECT_EQ(p.GetFixedText(r, 5), "12.3456");
  EXPECT_EQ(p.GetDouble(r, 6), 1.5);
  EXPECT_EQ(p.GetDouble(r, 7), -2.25);
  EXPECT_EQ(p.GetBytes(r, 8), "ab ");
  EXPECT_EQ(p.GetBytes(r, 9), "xyz");
  EXPECT_TRUE(p.GetBool(r, 10));
  EXPECT_EQ(p.GetDate(r, 11), (packet::Date{2024, 2, 29}));
  EXPECT_EQ(p.GetTime(r, 12), (packet::Time{12, 34, 56, 7890}));
  EXPECT_EQ(p.GetDateTime(r, 13),
            (packet::DateTime{packet::Date{1999, 12, 31}, packet::Time{23, 59, 58, 1230}}));
  EXPECT_EQ(p.GetBytes(r, 14), "long text");
  EXPECT_EQ(p.GetBytes(r, 15), std::string("\x00\xFF\x10", 3));
  EXPECT_EQ(p.GetFixedText(r, 16), "1.5");

  // The second row: NULL wherever the insert gave nothing.
  EXPECT_EQ(p.GetInt(1, 0), 1);
  for (size_t c = 1; c < 16; ++c) EXPECT_TRUE(p.IsNull(1, c)) << c;
}

TEST_F(BuildPacketTest, StopsOnceTheValuesPassTheLimit) {
  db_->Execute({"create table t (v varchar(100), bt blob sub_type text)",
                "execute block as declare i integer = 0; begin while (i < 50) do begin "
                "insert into t (v) values (lpad('', 100, 'x')); i = i + 1; end end",
                "create table big (bt blob sub_type text)",
                "insert into big values (lpad('', 30000, 'y'))"});
  const char* sql = "select v from t";
  EXPECT_EQ(Select(sql).RowCount(), 50u);
  EXPECT_EQ(Select(sql, 1000000).RowCount(), 50u);
  const std::string refused = "The result is larger than this server allows (MaxPacketBytes = ";
  struct Case {
    const char* sql;
    uint64_t maxBytes;
  } cases[] = {{"select v from t", 1000}, {"select bt from big", 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    try {
      Select(c.sql, c.maxBytes);
      ADD_FAILURE() << "no failure";
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), refused + std::to_string(c.maxBytes) + ").");
    }
  }
}

}  // namespace
}  // namespace kvo::fbpacket
