// Every column type travels into the database as a parameter and back as a typed value.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fb/fb.h"
#include "tests/support/fb_testdb.h"

namespace kvo::fb {
namespace {

using testing::TempDatabase;

class TypesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    db_.emplace();
    db_->Execute(
        "create table t (id integer not null primary key, s smallint, i integer, b bigint,"
        " n2 numeric(4,2), n9 numeric(18,9), d0 decimal(18,0), n18 numeric(18,18),"
        " f float, dp double precision, c char(5), v varchar(20), dt date, tm time,"
        " ts timestamp, bo boolean, bt blob sub_type text, bb blob sub_type binary)");
  }
  std::optional<TempDatabase> db_;
};

TEST_F(TypesTest, ColumnMetadataDescribesEveryType) {
  Attachment a = db_->Attach();
  Transaction t = a.StartTransaction();
  Statement st = a.Prepare(t, "select * from t");
  EXPECT_EQ(st.kind(), Statement::Kind::Select);
  EXPECT_TRUE(st.HasCursor());
  const auto& c = st.OutputColumns();
  ASSERT_EQ(c.size(), 18u);
  struct Expect {
    const char* name;
    SqlType type;
    int scale;
    int subType;
  };
  const Expect expected[] = {
      {"ID", SqlType::Integer, 0, 0},   {"S", SqlType::SmallInt, 0, 0},
      {"I", SqlType::Integer, 0, 0},    {"B", SqlType::BigInt, 0, 0},
      {"N2", SqlType::SmallInt, -2, 1}, {"N9", SqlType::BigInt, -9, 1},
      {"D0", SqlType::BigInt, 0, 2},    {"N18", SqlType::BigInt, -18, 1},
      {"F", SqlType::Float, 0, 0},      {"DP", SqlType::Double, 0, 0},
      {"C", SqlType::Char, 0, 0},       {"V", SqlType::VarChar, 0, 0},
      {"DT", SqlType::Date, 0, 0},      {"TM", SqlType::Time, 0, 0},
      {"TS", SqlType::Timestamp, 0, 0}, {"BO", SqlType::Boolean, 0, 0},
      {"BT", SqlType::Blob, 0, 1},      {"BB", SqlType::Blob, 0, 0},
  };
  for (size_t i = 0; i < c.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(c[i].name, expected[i].name);
    EXPECT_EQ(c[i].field, expected[i].name);
    EXPECT_EQ(c[i].relation, "T");
    EXPECT_EQ(c[i].type, expected[i].type);
    EXPECT_EQ(c[i].scale, expected[i].scale);
    EXPECT_EQ(c[i].subType, expected[i].subType);
  }
  EXPECT_FALSE(c[0].nullable);
  EXPECT_TRUE(c[1].nullable);
  EXPECT_EQ(c[10].length, 5u);
  EXPECT_EQ(c[11].length, 20u);

  st.LookupPrecisions(t);
  EXPECT_EQ(st.OutputColumns()[4].precision, 4);
  EXPECT_EQ(st.OutputColumns()[5].precision, 18);
  EXPECT_EQ(st.OutputColumns()[7].precision, 18);
}

// Precisions of many columns of two tables at once (three lookup batches, two of them the same
// query run twice), and of columns that no table field stands behind.
TEST_F(TypesTest, PrecisionsOfManyColumnsFromSeveralTables) {
  constexpr int kColumns = 120;
  std::string columns;
  for (int i = 0; i < kColumns; ++i)
    columns += (i ? ", " : "") + std::string("c") + std::to_string(i) + " numeric(" +
               std::to_string(1 + i % 18) + ",0)";
  db_->Execute("create table w (" + columns + ")");
  Attachment a = db_->Attach();
  Transaction t = a.StartTransaction();
  Statement st = a.Prepare(t, "select w.*, t.n2, t.id, 1 + 1 as two from w cross join t");
  st.LookupPrecisions(t);
  const auto& c = st.OutputColumns();
  ASSERT_EQ(c.size(), kColumns + 3u);
  for (int i = 0; i < kColumns; ++i) EXPECT_EQ(c[i].precision, 1 + i % 18) << c[i].name;
  EXPECT_EQ(c[kColumns].precision, 4);
  EXPECT_EQ(c[kColumns + 1].precision, 0);
  EXPECT_EQ(c[kColumns + 2].precision, 0);
}

// The precision query is prepared once per connection and still reads the tables as they are
// now: a column widened by another connection shows its new precision on the next lookup.
TEST_F(TypesTest, PrecisionQueryPreparedOncePerConnection) {
  Attachment a = db_->Attach();
  const int expected[] = {4, 4, 6};
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    if (round == 2) db_->Execute("alter table t alter n2 type numeric(6,2)");
    Transaction t = a.StartTransaction();
    Statement st = a.Prepare(t, "select i, n2 from t");
    st.LookupPrecisions(t);
    EXPECT_EQ(st.OutputColumns()[0].precision, 0);
    EXPECT_EQ(st.OutputColumns()[1].precision, expected[round]);
    t.Commit();
  }
  Transaction t = a.StartTransaction();
  Statement count = a.Prepare(
      t,
      "select count(*) from mon$statements where mon$attachment_id = current_connection and "
      "mon$sql_text containing 'RDB$FIELD_' || 'PRECISION'");  // not this statement itself
  EXPECT_EQ(count.Execute().at(0), std::optional<std::string>("1"));
}

TEST_F(TypesTest, ValuesRoundTripThroughParameters) {
  std::string bigText(3 * 1024 * 1024 + 17, 'x');
  for (size_t i = 0; i < bigText.size(); i += 997) bigText[i] = static_cast<char>('a' + i % 26);
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>(i * 7 % 256));

  struct Row {
    int id;
    std::vector<Value> values;
  };
  const std::vector<Row> rows = {
      {1,
       {Scaled{-32768, 0}, Scaled{2147483647, 0}, Scaled{INT64_MIN, 0}, Scaled{-9999, -2},
        Scaled{999999999999999999, -9}, Scaled{-999999999999999999, 0},
        Scaled{999999999999999999, -18}, 1.5, 1.0e300, std::string("ab"), std::string("\xE7\xE3o"),
        Date{1, 1, 1}, Time{0, 0, 0, 1}, Timestamp{{1, 1, 1}, {0, 0, 0, 0}}, true, bigText,
        Bytes{binary}}},
      {2,
       {Scaled{32767, 0}, Scaled{INT32_MIN, 0}, Scaled{INT64_MAX, 0}, Scaled{9999, -2},
        Scaled{-1, -9}, Scaled{0, 0}, Scaled{-1, -18}, -0.25, -2.5e-300, std::string("abcde"),
        std::string(20, 'z'), Date{9999, 12, 31}, Time{23, 59, 59, 9999},
        Timestamp{{9999, 12, 31}, {23, 59, 59, 9999}}, false, std::string(""), Bytes{""}}},
  };
  {
    Attachment a = db_->Attach();
    Transaction t = a.StartTransaction();
    Statement ins = a.Prepare(t,
                              "insert into t values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                              "?, ?, ?, ?)");
    EXPECT_EQ(ins.kind(), Statement::Kind::Insert);
    EXPECT_FALSE(ins.HasCursor());
    EXPECT_EQ(ins.InputColumns().size(), 18u);
    for (const Row& r : rows) {
      std::vector<Value> params = {Scaled{r.id, 0}};
      params.insert(params.end(), r.values.begin(), r.values.end());
      ins.Execute(params);
    }
    ins.Execute({Scaled{3, 0}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}});
    t.Commit();
    a.Close();
  }

  Attachment a = db_->Attach();
  Transaction t = a.StartTransaction();
  Statement sel = a.Prepare(t, "select * from t order by id");
  ResultSet rs = sel.Open();

  ASSERT_TRUE(rs.Fetch());
  EXPECT_EQ(rs.GetInt64(0), 1);
  EXPECT_EQ(rs.GetInt64(1), -32768);
  EXPECT_EQ(rs.GetInt64(2), 2147483647);
  EXPECT_EQ(rs.GetInt64(3), INT64_MIN);
  EXPECT_EQ(rs.GetInt64(4), -9999);
  EXPECT_EQ(rs.GetAsText(4), "-99.99");
  EXPECT_EQ(rs.GetInt64(5), 999999999999999999);
  EXPECT_EQ(rs.GetAsText(5), "999999999.999999999");
  EXPECT_EQ(rs.GetAsText(6), "-999999999999999999");
  EXPECT_EQ(rs.GetAsText(7), "0.999999999999999999");
  EXPECT_EQ(rs.GetDouble(8), 1.5);
  EXPECT_EQ(rs.GetDouble(9), 1.0e300);
  EXPECT_EQ(rs.GetText(10), "ab   ");  // CHAR keeps its padding
  EXPECT_EQ(rs.GetText(11), "\xE7\xE3o");
  EXPECT_EQ(rs.GetDate(12), (Date{1, 1, 1}));
  EXPECT_EQ(rs.GetAsText(12), "0001-01-01");
  EXPECT_EQ(rs.GetTime(13), (Time{0, 0, 0, 1}));
  EXPECT_EQ(rs.GetAsText(13), "00:00:00.0001");
  EXPECT_EQ(rs.GetTimestamp(14), (Timestamp{{1, 1, 1}, {0, 0, 0, 0}}));
  EXPECT_TRUE(rs.GetBool(15));
  std::string blob;
  rs.ReadBlob(16, blob);
  EXPECT_TRUE(blob == bigText) << "text blob of " << blob.size() << " bytes";
  blob.clear();
  rs.ReadBlob(17, blob);
  EXPECT_TRUE(blob == binary) << "binary blob of " << blob.size() << " bytes";

  ASSERT_TRUE(rs.Fetch());
  EXPECT_EQ(rs.GetInt64(1), 32767);
  EXPECT_EQ(rs.GetInt64(2), INT32_MIN);
  EXPECT_EQ(rs.GetInt64(3), INT64_MAX);
  EXPECT_EQ(rs.GetAsText(4), "99.99");
  EXPECT_EQ(rs.GetAsText(5), "-0.000000001");
  EXPECT_EQ(rs.GetAsText(6), "0");
  EXPECT_EQ(rs.GetAsText(7), "-0.000000000000000001");
  EXPECT_EQ(rs.GetDouble(8), -0.25);
  EXPECT_EQ(rs.GetDouble(9), -2.5e-300);
  EXPECT_EQ(rs.GetText(10), "abcde");
  EXPECT_EQ(rs.GetText(11), std::string(20, 'z'));
  EXPECT_EQ(rs.GetAsText(12), "9999-12-31");
  EXPECT_EQ(rs.GetTime(13), (Time{23, 59, 59, 9999}));
  EXPECT_EQ(rs.GetAsText(14), "9999-12-31 23:59:59.9999");
  EXPECT_FALSE(rs.GetBool(15));
  EXPECT_EQ(rs.GetAsText(15), "False");
  EXPECT_FALSE(rs.IsNull(16));
  EXPECT_EQ(rs.GetAsText(16), "");

  ASSERT_TRUE(rs.Fetch());
  for (size_t i = 1; i < rs.Columns().size(); ++i) {
    SCOPED_TRACE(rs.Columns()[i].name);
    EXPECT_TRUE(rs.IsNull(i));
    EXPECT_EQ(rs.GetAsText(i), "");
  }
  EXPECT_FALSE(rs.IsNull(0));
  EXPECT_FALSE(rs.Fetch());
  EXPECT_FALSE(rs.Fetch());
}

// Text bound to a parameter of another type is converted the way the server converts literals.
TEST_F(TypesTest, TextIsConvertedToTheParameterType) {
  Attachment a = db_->Attach();
  Transaction t = a.StartTransaction();
  Statement ins =
      a.Prepare(t, "insert into t (id, n2, dt, ts, bo, f, bt) values (?, ?, ?, ?, ?, ?, ?)");
  ins.Execute({std::string("7"), std::string("12.34"), std::string("2024-02-29"),
               std::string("2024-02-29 13:14:15.5"), std::string("true"), Scaled{125, -2},
               std::string("memo")});
  ResultSet rs = a.Prepare(t, "select id, n2, dt, ts, bo, f, bt from t").Open();
  ASSERT_TRUE(rs.Fetch());
  EXPECT_EQ(rs.GetInt64(0), 7);
  EXPECT_EQ(rs.GetAsText(1), "12.34");
  EXPECT_EQ(rs.GetAsText(2), "2024-02-29");
  EXPECT_EQ(rs.GetAsText(3), "2024-02-29 13:14:15.5000");
  EXPECT_TRUE(rs.GetBool(4));
  EXPECT_EQ(rs.GetDouble(5), 1.25);
  EXPECT_EQ(rs.GetAsText(6), "memo");

  // A text that is not a number fails with the server's conversion message.
  try {
    ins.Execute({std::string("x"), {}, {}, {}, {}, {}, {}});
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("\n-conversion error from string \"x\""),
              std::string::npos)
        << e.what();
  }
  EXPECT_THROW(ins.Execute({std::string("1")}), Error);  // parameter count
}

TEST_F(TypesTest, CursorDetectionFollowsTheStatementNotItsFirstWord) {
  db_->Execute(
      "create procedure p (x integer) returns (y integer) as begin y = x * 2; suspend; end");
  Attachment a = db_->Attach();
  Transaction t = a.StartTransaction();
  struct Case {
    const char* sql;
    bool cursor;
    Statement::Kind kind;
  };
  const Case cases[] = {
      {"with x as (select 1 as a from rdb$database) select a from x", true,
       Statement::Kind::Select},
      {"  select 1 from rdb$database", true, Statement::Kind::Select},
      {"select * from t for update", true, Statement::Kind::SelectForUpdate},
      {"select y from p(2)", true, Statement::Kind::Select},
      // The server reports an INSERT ... RETURNING as a procedure call.
      {"insert into t (id) values (10) returning id", false, Statement::Kind::ExecProcedure},
      {"execute procedure p(3)", false, Statement::Kind::ExecProcedure},
      {"update t set i = 1", false, Statement::Kind::Update},
      {"delete from t", false, Statement::Kind::Delete},
      {"create table u (x integer)", false, Statement::Kind::Ddl},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    Statement st = a.Prepare(t, c.sql);
    EXPECT_EQ(st.HasCursor(), c.cursor);
    EXPECT_EQ(st.kind(), c.kind);
  }
  auto ret = a.Prepare(t, "insert into t (id, v) values (11, null) returning id, v").Execute();
  ASSERT_EQ(ret.size(), 2u);
  EXPECT_EQ(ret[0], "11");
  EXPECT_EQ(ret[1], std::nullopt);
  auto proc = a.Prepare(t, "execute procedure p(21)").Execute();
  ASSERT_EQ(proc.size(), 1u);
  EXPECT_EQ(proc[0], "42");
}

}  // namespace
}  // namespace kvo::fb

namespace kvo::fb {
namespace {

TEST_F(TypesTest, BareNullsAndUnsupportedTypes) {
  db_->Execute("create table arr (a integer[3])");
  Attachment a = db_->Attach();
  Transaction t = a.StartTransaction();
  try {
    a.Prepare(t, "select a from arr");
    FAIL() << "prepared";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "Column A has the unsupported type ARRAY");
  }
  ResultSet rs =
      a.Prepare(t, "select null as n, 1 from rdb$database where ? is null").Open({Value{}});
  ASSERT_TRUE(rs.Fetch());
  EXPECT_TRUE(rs.IsNull(0));
  EXPECT_EQ(rs.GetAsText(0), "");
  EXPECT_EQ(rs.GetAsText(1), "1");
}

TEST_F(TypesTest, ConvertedTextViewsLastUntilTheNextFetch) {
  // Columns of a set the program converts to Windows-1252, long enough to live on the heap.
  Attachment a = db_->Attach();
  Transaction t = a.StartTransaction();
  ResultSet rs = a.Prepare(t,
                           "select cast(rdb$type_name as varchar(40) character set utf8), "
                           "cast('caf\xc3\xa9 ' || rdb$type_name as char(40) character set utf8) "
                           "from rdb$types where rdb$type = 0 order by rdb$field_name rows 2")
                     .Open();
  std::vector<std::string> seen;
  while (rs.Fetch()) {
    const std::string_view firstV = rs.GetText(0), firstC = rs.GetText(1);
    const std::string v(firstV), c(firstC);
    ASSERT_GT(v.size(), 15u);
    EXPECT_EQ(c.substr(0, 5), "caf\xe9 ");
    EXPECT_EQ(c.size(), 40u);
    // Reading the same columns again, then memory that could take the place of a freed text.
    EXPECT_EQ(rs.GetText(0), v);
    EXPECT_EQ(rs.GetText(1), c);
    const std::string fillV(v.size(), 'x'), fillC(c.size(), 'x');
    EXPECT_EQ(firstV, v);
    EXPECT_EQ(firstC, c);
    seen.push_back(v);
  }
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[0], seen[1]) << "each row reads its own text";
}

}  // namespace
}  // namespace kvo::fb
