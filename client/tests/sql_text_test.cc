// The text functions of the remote exchange: whole-word search and replacement, number and
// parameter literals, the parameter expansion, the error page's message and the form body.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "client/http_client.h"
#include "client/tests/format_guard.h"
#include "kvo/client/kvo_app_dataset.h"
#include "sqltext/scanner.h"

namespace kvo::client {
namespace {

using testing::FormatGuard;

TEST(FindWholeWordTest, Table) {
  struct Case {
    const char* text;
    const char* pattern;
    bool ignoreCase;
    std::optional<TWordPosition> expected;
  } cases[] = {
      {"a :id b", ":id", true, TWordPosition{3, 5}},
      {":id", ":id", true, TWordPosition{1, 3}},
      {"(:id)", ":id", true, TWordPosition{2, 4}},
      {"x:id", ":id", true, std::nullopt},
      {":idx :id", ":id", true, TWordPosition{6, 8}},  // the first occurrence is not whole
      {":ID", ":id", true, TWordPosition{1, 3}},
      {":ID", ":id", false, std::nullopt},
      {"d>:d", ":d", true, std::nullopt},
      {"a=:d", ":d", true, std::nullopt},
      {":id;", ":id", true, std::nullopt},
      {":id=1", ":id", true, std::nullopt},
      {"':id'", ":id", true, std::nullopt},
      {"::id", ":id", true, std::nullopt},
      {"a\t:id\r\n", ":id", true, TWordPosition{3, 5}},
      {"!:id?", ":id", true, TWordPosition{2, 4}},
      {"", ":id", true, std::nullopt},
      {"abc", "", true, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindWholeWord(c.text, c.pattern, c.ignoreCase, SQLWordDelimiters), c.expected)
        << "text [" << c.text << "] pattern [" << c.pattern << "]";
  }
}

TEST(ReplaceWholeWordTest, Table) {
  struct Case {
    const char* text;
    const char* oldPattern;
    const char* newText;
    bool all;
    std::string_view delimiters;
    const char* expected;
  } cases[] = {
      {"a :x b :x", ":x", "1", true, SQLWordDelimiters, "a 1 b 1"},
      {"a :x b :x", ":x", "1", false, SQLWordDelimiters, "a 1 b :x"},
      {"a :X b", ":x", "1", true, SQLWordDelimiters, "a 1 b"},
      {":x:x", ":x", "1", true, SQLWordDelimiters, ":x:x"},
      {"no marker", ":x", "1", true, SQLWordDelimiters, "no marker"},
      // Inserted text is never searched again.
      {":x :x", ":x", ":x :x", true, SQLWordDelimiters, ":x :x :x :x"},
      // The rest after a replacement is a text of its own: its start is a word boundary.
      {".a.a", ".a", "X", true, ".", "XX"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceWholeWord(c.text, c.oldPattern, c.newText, c.all, true, c.delimiters),
              c.expected)
        << "text [" << c.text << "]";
  }
}

TEST(FloatToSQLTest, FourDecimalsAndAFullStopWhateverTheSeparator) {
  struct Case {
    double value;
    const char* expected;
  } cases[] = {
      {1234.5, "1234.5000"}, {2.5, "2.5000"},
      {0, "0.0000"},         {-1.23456, "-1.2346"},
      {1e6, "1000000.0000"}, {-0.00001, "0.0000"},
      {0.99996, "1.0000"},   {123456789012.25, "123456789012.2500"},
  };
  FormatGuard guard;
  for (char separator : {'.', ','}) {
    FormatSettings().DecimalSeparator = separator;
    for (const Case& c : cases) {
      EXPECT_EQ(FloatToSQL(c.value), c.expected) << c.value << " separator " << separator;
    }
  }
}

TEST(ParamLiteralTest, ByDataType) {
  using enum TFieldType;
  struct Case {
    TFieldType type;
    TVariant value;
    const char* expected;
  } cases[] = {
      {ftInteger, int64_t{5}, "5"},
      {ftSmallint, std::string("-12"), "-12"},
      {ftLargeint, int64_t{9007199254740993}, "9007199254740993"},
      {ftWord, 7.0, "7"},
      {ftInteger, TUnassigned{}, "NULL"},
      {ftInteger, TNull{}, "NULL"},
      {ftVarBytes, TNull{}, "NULL"},
      {ftDate, TNull{}, "NULL"},
      {ftTime, TUnassigned{}, "NULL"},
      {ftBoolean, TNull{}, "NULL"},
      {ftFloat, 2.5, "2.5000"},
      {ftCurrency, std::string("1234.5"), "1234.5000"},
      {ftFloat, TNull{}, "NULL"},
      {ftCurrency, TUnassigned{}, "NULL"},
      {ftDate, TDateTime{{2024, 3, 7}, {}}, "'2024-03-07'"},
      {ftDate, TDateTime{{2024, 3, 7}, {13, 14, 15, 1234}}, "'2024-03-07'"},
      {ftDateTime, TDateTime{{2024, 2, 29}, {13, 14, 15, 1234}}, "'2024-02-29 13:14:15.1234'"},
      {ftTimeStamp, std::string("2024-01-02 10:11:12.5"), "'2024-01-02 10:11:12.5000'"},
      {ftDateTime, TDateTime{{2024, 12, 31}, {}}, "'2024-12-31'"},
      {ftTime, TDateTime{{}, {9, 5, 3, 7}}, "'09:05:03.0007'"},
      {ftTime, std::string("2024-01-02 10:11:12"), "'10:11:12.0000'"},
      {ftString, std::string("O'Brien"), "'O''Brien'"},
      {ftString, TUnassigned{}, "NULL"},
      {ftString, TNull{}, "NULL"},
      {ftString, std::string("NULL"), "'NULL'"},
      {ftString, std::string(), "''"},
      {ftUnknown, TUnassigned{}, "NULL"},
      {ftMemo, std::string("a\r\nb"), "'a\r\nb'"},
      {ftBoolean, true, "TRUE"},
      {ftBoolean, false, "FALSE"},
      {ftBoolean, std::string("True"), "'True'"},
      {ftBCD, std::string("12.50"), "'12.50'"},
      {ftBCD, 12.5, "'12.5'"},
      {ftBCD, 0.1, "'0.1'"},
      {ftBCD, 1e-5, "'0.00001'"},
      {ftFMTBcd, int64_t{3}, "'3'"},
      {ftVarBytes, std::string("\x01\xFF'", 3), "X'01FF27'"},
      {ftBlob, std::string("\0\x81\x8D'", 4), "X'00818D27'"},
      {ftGraphic, std::string("\x89PNG"), "X'89504E47'"},
      {ftFloat, -0.0, "-0e0"},
  };
  for (const Case& c : cases) {
    TParam p("x", c.type, TParamType::ptInput);
    p.SetValue(c.value);
    EXPECT_EQ(ParamLiteral(p), c.expected) << "type " << static_cast<int>(c.type);
  }
}

TEST(ParamLiteralTest, RegionalSettingsChangeNoLiteral) {
  FormatGuard guard;
  FormatSettings().DateSeparator = '.';
  FormatSettings().DecimalSeparator = ',';
  TParam date("d", TFieldType::ftDate, TParamType::ptInput);
  date.SetValue(TDateTime{{2024, 3, 7}, {}});
  EXPECT_EQ(ParamLiteral(date), "'2024-03-07'");
  TParam bcd("b", TFieldType::ftBCD, TParamType::ptInput);
  bcd.SetValue(12.5);
  EXPECT_EQ(ParamLiteral(bcd), "'12.5'");
  TParam flt("f", TFieldType::ftFloat, TParamType::ptInput);
  flt.SetValue(std::string("2,5"));
  EXPECT_EQ(ParamLiteral(flt), "2.5000");
}

TEST(ParamLiteralTest, ValuesThatCannotBeConvertedFail) {
  struct Case {
    TFieldType type;
    TVariant value;
    const char* message;
  } cases[] = {
      {TFieldType::ftDate, std::string("abc"), "'abc' is not a valid date"},
      {TFieldType::ftDate, std::string("2024-02-30"), "'2024-02-30' is not a valid date"},
      {TFieldType::ftInteger, std::string("1; drop table t"),
       "'1; drop table t' is not a valid integer value"},
      {TFieldType::ftFloat, std::string("1e"), "'1e' is not a valid floating point value"},
      {TFieldType::ftDate, 3.5, "Could not convert variant of type (Double) into type (Date)"},
  };
  for (const Case& c : cases) {
    TParam p("x", c.type, TParamType::ptInput);
    p.SetValue(c.value);
    try {
      ParamLiteral(p);
      ADD_FAILURE() << "no failure for " << c.message;
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(ExpandParamsTest, Cases) {
  TKVOAppDataSet ds;
  auto& id = ds.Params.CreateParam(TFieldType::ftInteger, "id", TParamType::ptInput);
  id.SetValue(int64_t{5});
  struct Case {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"where id=:id", "where id=5"},
      {"where id = :id", "where id = 5"},
      {"where id = :ID", "where id = 5"},
      {"where d>:id", "where d>5"},
      {"where d<:id", "where d<5"},
      {"where id = :id;", "where id = 5;"},
      {"where :id= id", "where 5= id"},
      {"where a||:id||'x'", "where a||5||'x'"},
      {"where a = ' :id '", "where a = ' :id '"},  // text stays text, as on the direct route
      {"where a = \" :id \"", "where a = \" :id \""},
      {"where a = q'[ :id ]' /* :id */", "where a = q'[ :id ]' /* :id */"},
      {"where id in (:id,:id)", "where id in (5,5)"},
      {"select *\r\nfrom t\r\nwhere id = :id\r\n", "select *  from t  where id = 5  "},
      {"where id=:idx", "where id=:idx"},
      {"where id=:id::x", "where id=5::x"},
      {"execute block as declare id int; begin id = :id; end",
       "execute block as declare id int; begin id = :id; end"},
  };
  for (const Case& c : cases) EXPECT_EQ(ds.ExpandParams(c.sql), c.expected) << c.sql;
}

TEST(ExpandParamsTest, ParametersInListOrder) {
  TKVOAppDataSet ds;
  // Two markers of the same name give two parameters; the first value serves both markers.
  ds.Params.CreateParam(TFieldType::ftInteger, "x", TParamType::ptInput).SetValue(int64_t{1});
  ds.Params.CreateParam(TFieldType::ftInteger, "x", TParamType::ptInput).SetValue(int64_t{2});
  EXPECT_EQ(ds.ExpandParams("select * from t where a = :x and b = :x"),
            "select * from t where a = 1 and b = 1");

  // A literal is never searched for the markers of later parameters: the typed " :b " stays
  // text (searched, b's quoted literal would end a's quotes early), and repeated markers with
  // such values cannot make the text grow without bound.
  TKVOAppDataSet chain;
  chain.Params.CreateParam(TFieldType::ftString, "a", TParamType::ptInput)
      .SetValue(std::string(" :b "));
  chain.Params.CreateParam(TFieldType::ftString, "b", TParamType::ptInput)
      .SetValue(std::string("x' or 1=1 --"));
  EXPECT_EQ(chain.ExpandParams("x = :a and y = :b"), "x = ' :b ' and y = 'x'' or 1=1 --'");
  TKVOAppDataSet repeated;
  std::string sql = "select 1 from t where";
  for (int i = 0; i < 40; ++i) {
    repeated.Params.CreateParam(TFieldType::ftString, "x", TParamType::ptInput)
        .SetValue(std::string(":x :x"));
    sql += " a = :x or";
  }
  EXPECT_EQ(repeated.ExpandParams(sql + " 0 = 1").size(), sql.size() + 40 * 5 + 6);

  TKVOAppDataSet names;
  names.Params.CreateParam(TFieldType::ftUnknown, "n", TParamType::ptUnknown);
  names.Params.CreateParam(TFieldType::ftString, "s", TParamType::ptInput)
      .SetValue(std::string("O'Brien"));
  EXPECT_EQ(names.ExpandParams("values (:n, :s)"), "values (NULL, 'O''Brien')");
}

// Whatever a value holds, it ends up as one literal where its marker stood: the statement
// around it reads as before.
TEST(ExpandParamsTest, NoValueChangesTheStatementAroundIt) {
  const std::string sql =
      "select 'note :p end' as lit from rdb$database where cast(:p as varchar(200)) <> ''";
  const std::vector<std::string> values = {
      "' || (select first 1 trim(rdb$relation_name) from rdb$relations order by 1) || '",
      "x' or 1=1 --",
      "*/ /* ' \" :p -- \r\n",
      "q'{ }' x'41'",
      std::string(70000, '\''),
      std::string("\0\x81\x8D", 3),
  };
  for (const std::string& value : values) {
    TKVOAppDataSet ds;
    ds.Params.CreateParam(TFieldType::ftString, "p", TParamType::ptInput).SetValue(value);
    const std::string literal = ParamLiteral(ds.Params[0]);
    EXPECT_EQ(ds.ExpandParams(sql), "select 'note :p end' as lit from rdb$database where cast(" +
                                        literal + " as varchar(200)) <> ''")
        << value.substr(0, 40);
    // The literal alone reads as literals (and, for a long value, the blob they are joined
    // to) and nothing else: no comment, name or marker.
    for (const sqltext::Token& t : sqltext::Scan(literal)) {
      EXPECT_TRUE(t.kind == sqltext::TokenKind::Literal || t.kind == sqltext::TokenKind::Word ||
                  t.kind == sqltext::TokenKind::Blank || t.kind == sqltext::TokenKind::Other)
          << value.substr(0, 40);
    }
  }
}

TEST(ParamLiteralTest, LongValuesGoAsPiecesOfABlob) {
  TParam text("t", TFieldType::ftMemo, TParamType::ptInput);
  text.SetValue(std::string(32000, 'a') + "b'");
  EXPECT_EQ(ParamLiteral(text),
            "(cast('' as blob sub_type text) || '" + std::string(32000, 'a') + "' || 'b''')");
  TParam bytes("b", TFieldType::ftBlob, TParamType::ptInput);
  bytes.SetValue(std::string(16001, '\x01'));
  std::string hex;
  for (int i = 0; i < 16000; ++i) hex += "01";
  EXPECT_EQ(ParamLiteral(bytes), "(cast('' as blob sub_type binary) || X'" + hex + "' || X'01')");
}

// kvoclient decides with this whether rows come back, so it must answer as the dataset does.
TEST(IsRemoteSelectTest, Table) {
  struct Case {
    const char* sql;
    bool select;
  } cases[] = {
      {"select * from t", true},
      {"  \r\n\tSELECT 1 from rdb$database", true},
      {"select   1", true},
      {"select   ", false},  // trimmed, the blank after the keyword is gone
      {"select", false},
      {"select\t1", false},
      {"selectx from t", false},
      {"update t set a = 1 where b in (select c from d)", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRemoteSelect(c.sql), c.select) << c.sql;
}

TEST(EncodeFormBodyTest, FieldsInOrderWithTheTrailingAmpersand) {
  EXPECT_EQ(EncodeFormBody({{"z", "false"},
                            {"db", "localhost:/x.fdb"},
                            {"u", "SYSDBA"},
                            {"p", ""},
                            {"q", "select * from t"}}),
            "z=false&db=localhost%3A%2Fx%2Efdb&u=SYSDBA&p=&q=select+%2A+from+t&");
  struct Case {
    std::string value;
    const char* encoded;
  } cases[] = {
      {"Az09", "v=Az09&"},
      {"a b", "v=a+b&"},
      {"a=b&c", "v=a%3Db%26c&"},
      {"-_.~'\"%+", "v=%2D%5F%2E%7E%27%22%25%2B&"},
      {"\t\r\n", "v=%09%0D%0A&"},
      {"\xE7\xE3o", "v=%E7%E3o&"},
      {std::string("\0\x7F\xFF", 3), "v=%00%7F%FF&"},
      {"", "v=&"},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeFormBody({{"v", c.value}}), c.encoded);
  EXPECT_EQ(EncodeFormBody({}), "");
}

TEST(ParamLiteralTest, FloatsReadBackAsTheSameDouble) {
  // Where four decimals hold the value exactly the literal keeps that form; elsewhere it is the
  // value's binary mantissa and exponent, which is exact by construction.
  struct Case {
    double value;
    const char* expected;
  } cases[] = {
      {2.5, "2.5000"},
      {-1234.0625, "-1234.0625"},
      {0, "0.0000"},
      {-0.0, "-0e0"},
      {99999999999999.9375, "99999999999999.9375"},
      {0.1, "(3602879701896397*power(2e0,-55))"},
      {1e-5, "(5902958103587057*power(2e0,-69))"},
      {-1.23456, "(-694995494495815*power(2e0,-49))"},
      {1e15, "(30517578125*power(2e0,15))"},
      {6663333333333.334, "(3411626666666667*power(2e0,-9))"},
      {5e-324, "(1*power(2e0,-1074))"},
      {1.7976931348623157e308, "(9007199254740991*power(2e0,971))"},
  };
  for (const Case& c : cases) {
    TParam p("f", TFieldType::ftFloat, TParamType::ptInput);
    p.SetValue(c.value);
    std::string literal = ParamLiteral(p);
    EXPECT_EQ(literal, c.expected) << c.value;
    long long mantissa = 0;
    int exponent = 0;
    if (std::sscanf(literal.c_str(), "(%lld*power(2e0,%d))", &mantissa, &exponent) == 2) {
      EXPECT_EQ(std::ldexp(static_cast<double>(mantissa), exponent), c.value) << literal;
    }
  }
}

TEST(ParamLiteralTest, ValuesWithoutALiteralFailBeforeSending) {
  struct Case {
    double value;
    const char* shown;
  } cases[] = {
      {std::nan(""), "NaN"},
      {HUGE_VAL, "+Inf"},
      {-HUGE_VAL, "-Inf"},
  };
  for (const Case& c : cases) {
    TKVOAppDataSet ds;
    ds.Params.CreateParam(TFieldType::ftFloat, "rate", TParamType::ptInput).SetValue(c.value);
    try {
      ds.RunRemote("update t set r = :rate", false);
      ADD_FAILURE() << c.shown << " was sent";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Parameter 'rate': the value ") + c.shown +
                                           " cannot be sent to the database (Firebird has no "
                                           "value for it)");
    }
  }
}

TEST(ExpandParamsTest, CommentsEndAtTheirLineAndLiteralsKeepTheirLineBreaks) {
  TKVOAppDataSet ds;
  ds.Params.CreateParam(TFieldType::ftInteger, "id", TParamType::ptInput).SetValue(int64_t{1});
  struct Case {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"delete from t -- only one row\r\nwhere id = :id", "delete from t   where id = 1"},
      {"delete from t -- only one row\nwhere id = :id\n", "delete from t  where id = 1 "},
      {"delete from t -- a */ b\rwhere id = :id", "delete from t  where id = 1"},
      {"-- :id first\r\nselect 1 from t", "  select 1 from t"},
      {"select 1 from t -- to the end", "select 1 from t "},
      {"insert into t values ('line1\r\nline2')", "insert into t values ('line1\r\nline2')"},
      {"insert into t values ('it''s\n-- not a comment')",
       "insert into t values ('it''s\n-- not a comment')"},
      {"select \"a\nb\" from t", "select \"a\nb\" from t"},
      {"select q'{it's\n}' from t\nwhere id = :id", "select q'{it's\n}' from t where id = 1"},
      {"select 1 /* -- 'not\n ended */ from t\nwhere id = :id",
       "select 1 /* -- 'not  ended */ from t where id = 1"},
      {"select 5--3\nfrom t", "select 5 from t"},
  };
  for (const Case& c : cases) EXPECT_EQ(ds.ExpandParams(c.sql), c.expected) << c.sql;
}

}  // namespace
}  // namespace kvo::client
