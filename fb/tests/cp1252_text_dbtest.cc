// A connection without a character set that takes Windows-1252 text: what reaches each column,
// seen through a UTF8 connection, which gives every column's bytes as stored (NONE as they are).
#include <gtest/gtest.h>

#include "fb/fb.h"
#include "tests/support/fb_testdb.h"

namespace kvo::fb {
namespace {

class Cp1252TextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    db_.Execute(
        "create table w (id integer, v varchar(20) character set utf8, "
        "n varchar(20) character set none, b blob sub_type text character set utf8)");
  }

  Attachment Open(std::vector<std::string> extra = {}) {
    std::vector<std::string> params = db_.params();
    params.insert(params.end(), extra.begin(), extra.end());
    return Attachment::Open(db_.connection(), params, false, PlainText::Cp1252);
  }

  // "v|n|b" of the row, as stored.
  std::string Stored(int id) {
    std::vector<std::string> params = db_.params();
    params.push_back("lc_ctype=UTF8");
    Attachment a = Attachment::Open(db_.connection(), params);
    Transaction t = a.StartTransaction();
    ResultSet rs = a.Prepare(t, "select v, n, b from w where id = " + std::to_string(id)).Open();
    if (!rs.Fetch()) return "(no row)";
    return rs.GetAsText(0) + "|" + rs.GetAsText(1) + "|" + rs.GetAsText(2);
  }

  testing::TempDatabase db_;
};

TEST_F(Cp1252TextTest, LiteralsReachEachColumnInItsOwnSet) {
  struct Case {
    const char* values;  // after "insert into w (id, v, n) values (<id>, "
    const char* stored;  // v|n| as a UTF8 connection reads them
  };
  const Case cases[] = {
      {"'a\xE7\xE3o\x80', 'a\xE7\xE3o')", "a\xC3\xA7\xC3\xA3o\xE2\x82\xAC|a\xE7\xE3o|"},
      {"'d''\xE9', 'plain')", "d'\xC3\xA9|plain|"},
      {"q'{it's \xE9}', q'<\xE9>')", "it's \xC3\xA9|\xE9|"},
      // A literal naming its set keeps it.
      {"_ISO8859_1 '\xE7', _UTF8\n'\xC3\xA7')", "\xC3\xA7|\xC3\xA7|"},
      {"/* it's */ '\xE9', -- it's\n '\xE9')", "\xC3\xA9|\xE9|"},
      {"(select '\xC9' from rdb$database \"it's\"), x'41')", "\xC3\x89|A|"},
  };
  Attachment a = Open();
  {
    Transaction t = a.StartTransaction();
    int id = 0;
    for (const Case& c : cases) {
      std::string sql =
          "insert into w (id, v, n) values (" + std::to_string(++id) + ", " + c.values;
      SCOPED_TRACE(sql);
      try {
        if (id % 2)
          a.ExecuteImmediate(t, sql);
        else
          a.Prepare(t, sql).Execute();
      } catch (const Error& e) {
        ADD_FAILURE() << e.what();
      }
    }
    t.Commit();
  }
  int id = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.values);
    EXPECT_EQ(Stored(++id), c.stored);
  }
}

TEST_F(Cp1252TextTest, ParametersTravelAsWindows1252) {
  Attachment a = Open();
  Transaction t = a.StartTransaction();
  a.Prepare(t, "insert into w (id, v, n, b) values (1, ?, ?, ?)")
      .Execute({std::string("a\xE7\xE3o\x80"), std::string("a\xE7\xE3o"), std::string("\xE9\x80")});
  // Reads convert each column to Windows-1252, a character it lacks as "?".
  a.ExecuteImmediate(t, "insert into w (id, v) values (2, _UTF8 '\xC5\xBC\xC3\xB3\xC5\x82w')");
  ResultSet rs = a.Prepare(t, "select v, n, b from w order by id").Open();
  ASSERT_TRUE(rs.Fetch());
  EXPECT_EQ(rs.GetAsText(0) + "|" + rs.GetAsText(1) + "|" + rs.GetAsText(2),
            "a\xE7\xE3o\x80|a\xE7\xE3o|\xE9\x80");
  ASSERT_TRUE(rs.Fetch());
  EXPECT_EQ(rs.GetAsText(0), "?\xF3?w");
  rs.Close();
  t.Commit();
  EXPECT_EQ(Stored(1), "a\xC3\xA7\xC3\xA3o\xE2\x82\xAC|a\xE7\xE3o|\xC3\xA9\xE2\x82\xAC");
}

TEST_F(Cp1252TextTest, BytesWindows1252LeavesUndefinedAreRefused) {
  Attachment a = Open();
  Transaction t = a.StartTransaction();
  const char* refused = ", which is no character of Windows-1252; nothing was run";
  for (const char* sql : {"insert into w (id, v) values (1, 'x\x81')",
                          "insert into w (id, v) values (1, q'(\x9D)')"}) {
    SCOPED_TRACE(sql);
    try {
      a.ExecuteImmediate(t, sql);
      ADD_FAILURE() << "ran";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(refused), std::string::npos) << e.what();
    }
  }
  try {
    a.Prepare(t, "insert into w (id, v) values (1, ?)").Execute({std::string("\x8F")});
    ADD_FAILURE() << "ran";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), std::string("Parameter 1 holds the byte 0x8F") + refused);
  }
  // Outside a literal, or bound to a NONE column, the byte goes as it is.
  a.ExecuteImmediate(t, "insert into w (id, n) values (3, 'x') /* \x81 */");
  a.Prepare(t, "insert into w (id, n) values (4, ?)").Execute({std::string("\x81")});
  t.Commit();
  EXPECT_EQ(Stored(3), "|x|");
  EXPECT_EQ(Stored(4), "|\x81|");
}

TEST_F(Cp1252TextTest, ACharacterSetNamedByTheCallerIsUsedAsIs) {
  Attachment a = Open({"lc_ctype=UTF8"});
  Transaction t = a.StartTransaction();
  a.ExecuteImmediate(t, "insert into w (id, v) values (1, 'a\xC3\xA7\xC3\xA3o')");
  ResultSet rs = a.Prepare(t, "select v from w").Open();
  ASSERT_TRUE(rs.Fetch());
  EXPECT_EQ(rs.GetText(0), "a\xC3\xA7\xC3\xA3o");
  rs.Close();
  t.Commit();
  EXPECT_EQ(Stored(1), "a\xC3\xA7\xC3\xA3o||");
}

}  // namespace
}  // namespace kvo::fb
