// The same statements and parameters on the direct route and on both forms of the remote route
// (XML and compressed) against the real stack: what each route stored and what it read must be
// the same. Where the routes must differ (what only one route refuses), the case says why.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>

#include "client/tests/direct_rows.h"
#include "client/tests/format_guard.h"
#include "client/tests/routes_fixture.h"
#include "kvo/client/kvo_client.h"
#include "tests/support/fb_testdb.h"

namespace kvo::client {
namespace {

using enum TFieldType;

// How a case runs: Open is OpenQuery alone, as a reading program calls it; Run is what a
// program does that also writes: OpenQuery for a statement with rows, and for one without,
// the direct data set's Execute (direct route) or OpenRemote (remote route).
enum class Mode { Run, Open };

struct Case {
  Case(const char* what, std::string sql, std::function<void(TParams&)> set, Mode mode = Mode::Run,
       const char* remoteRefuses = nullptr, std::function<void(TFormatSettings&)> regional = {})
      : what(what),
        sql(std::move(sql)),
        set(std::move(set)),
        mode(mode),
        remoteRefuses(remoteRefuses),
        regional(std::move(regional)) {}
  const char* what;
  std::string sql;
  std::function<void(TParams&)> set;  // gives the parameters their values
  Mode mode;
  // Set where the remote routes must refuse what the direct route runs; says why.
  const char* remoteRefuses;
  std::function<void(TFormatSettings&)> regional;  // regional settings in force
};

struct Outcome {
  bool failed = false;
  std::string message;
  std::vector<std::string> rows, stored;
  // What the routes must agree on: whether it failed, the rows read, the rows stored.
  std::string Summary() const {
    std::string s = failed ? "failed\n" : "";
    for (const auto& r : rows) s += "read " + r + "\n";
    for (const auto& r : stored) s += "stored " + r + "\n";
    return s;
  }
};

// A long value as its size and a checksum, so that a failure prints readably.
std::string Shortened(const std::string& text) {
  if (text.size() <= 200) return text;
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return text.substr(0, 40) + "...(" + std::to_string(text.size()) + " bytes, " +
         std::to_string(hash) + ")";
}

TParam& Typed(TParams& p, const char* name, TFieldType type, TVariant value) {
  TParam& param = p.ParamByName(name);
  param.DataType = type;
  param.SetValue(std::move(value));
  return param;
}

std::string Bytes(std::initializer_list<unsigned char> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

const char kInsert[] = "insert into ad_s (id, t) values (111, ";

std::vector<Case> Cases() {
  const std::string injection =
      "' || (select first 1 trim(rdb$relation_name) from rdb$relations order by 1) || '";
  return {
      // Values never change the statement around them.
      {"a text value closing the literal around its marker (before: injection)",
       "select 'note :p end' as lit from rdb$database where cast(:p as varchar(200)) <> ''",
       [=](TParams& p) { p.ParamByName("p").SetAsString(injection); }},
      {"the same value stored", "insert into ad_s (id, t) values (111, :p)",
       [=](TParams& p) { p.ParamByName("p").SetAsString(injection); }},
      {"quotes and a comment in a value", "insert into ad_s (id, t) values (111, :p)",
       [](TParams& p) { p.ParamByName("p").SetAsString("x' or 1=1 -- /* \" :p"); }},
      {"line breaks in a value", "insert into ad_s (id, t) values (111, :p)",
       [](TParams& p) { p.ParamByName("p").SetAsString("line1\r\nline2\n"); }},
      {"a value that looks like another marker", "insert into ad_s (id, t, m) values (111, :a, :b)",
       [](TParams& p) {
         p.ParamByName("a").SetAsString(" :b ");
         p.ParamByName("b").SetAsString("x'y");
       }},
      // Colons that are no markers (before: each became a NULL parameter remotely).
      {"a colon in a literal inside double quotes",
       "insert into ad_s (id, t) values (111, 'He said \"meet at 10 :30 today\" ok')", nullptr},
      {"a marker-like word in a literal",
       "insert into ad_s (id, t) values (111, 'say \"a :b c\" ok')", nullptr},
      {"an alternative-quote literal", "insert into ad_s (id, t) values (111, q'{it's :p here}')",
       nullptr},
      {"=: inside a literal", "insert into ad_s (id, t) values (111, 'url?a=:b&c=:d')", nullptr},
      {"a PSQL variable",
       "execute block as declare y integer; begin y = 5; insert into ad_s (id,t) values (111, :y "
       "|| ''); end",
       nullptr},
      {"a colon in a line comment (before: direct counted 2 parameters)",
       "select 1 as a from rdb$database where 1 = :one -- note: x",
       [](TParams& p) { p.ParamByName("one").SetAsInteger(1); }},
      {"a colon in a block comment",
       "select 1 as a from rdb$database where 1 = :one /* time: now */",
       [](TParams& p) { p.ParamByName("one").SetAsInteger(1); }},
      {"a marker in a comment line",
       "select 1 as a from rdb$database\r\n-- filter by :one\r\nwhere 1 = :one",
       [](TParams& p) { p.ParamByName("one").SetAsInteger(1); }},
      {"a quote in a comment (before: later markers lost)",
       "select 1 as a from rdb$database -- it's\r\nwhere 1 = :one",
       [](TParams& p) { p.ParamByName("one").SetAsInteger(1); }},
      {"a line comment before the rest", "delete from ad_s -- every row?\r\nwhere id = :id",
       [](TParams& p) { p.ParamByName("id").SetAsInteger(2); }},
      // Markers wherever they stand (before: left in the text remotely).
      {"after >", "select id from ad_s where id>:x",
       [](TParams& p) { p.ParamByName("x").SetAsInteger(0); }},
      {"before ;", "select id from ad_s where id = :x;",
       [](TParams& p) { p.ParamByName("x").SetAsInteger(1); }},
      {"after =", "update ad_s set t=:t where id=:id",
       [](TParams& p) {
         p.ParamByName("t").SetAsString("new");
         p.ParamByName("id").SetAsInteger(1);
       }},
      {"after ||", "update ad_s set t = t||:t where id = 1",
       [](TParams& p) { p.ParamByName("t").SetAsString("+"); }},
      {"the same name twice, letter case aside", "select id from ad_s where id = :x or id = :X",
       [](TParams& p) {
         p[0].SetAsInteger(1);
         p[1].SetAsInteger(5);
       }},
      {"in a list", "select id from ad_s where id in (:a,:b)",
       [](TParams& p) {
         p.ParamByName("a").SetAsInteger(7);
         p.ParamByName("b").SetAsInteger(1);
       }},
      {"a quoted marker name", "select id from ad_s where id = :\"my id\"",
       [](TParams& p) { p.ParamByName("my id").SetAsInteger(1); }},
      // Dates, times and numbers, whatever the regional settings.
      {"a date-time with its fraction (before: time dropped)",
       "insert into ad_s (id, ts) values (111, :v)",
       [](TParams& p) {
         p.ParamByName("v").SetAsDateTime({{2024, 2, 29}, {13, 14, 15, 1234}});
       }},
      {"a time with its fraction (before: fraction dropped)",
       "insert into ad_s (id, tm) values (111, :v)",
       [](TParams& p) {
         p.ParamByName("v").SetAsTime({13, 14, 15, 1234});
       }},
      {"a date with the separator '.' (before: day and month swapped)",
       "insert into ad_s (id, d) values (111, :v)",
       [](TParams& p) {
         p.ParamByName("v").SetAsDate({2024, 3, 7});
       },
       Mode::Run, nullptr, [](TFormatSettings& f) { f.DateSeparator = '.'; }},
      {"a day above 12 with the separator '.' (before: refused)",
       "insert into ad_s (id, d) values (111, :v)",
       [](TParams& p) {
         p.ParamByName("v").SetAsDate({2024, 3, 13});
       },
       Mode::Run, nullptr, [](TFormatSettings& f) { f.DateSeparator = '.'; }},
      {"a date-time at midnight compared with a date",
       "select id from ad_s where cast('2024-02-29' as date) = :v",
       [](TParams& p) {
         p.ParamByName("v").SetAsDateTime({{2024, 2, 29}, {}});
       }},
      {"a date-time with a time of day where a date stands",
       "select id from ad_s where cast('2024-02-29' as date) = :v",
       [](TParams& p) {
         p.ParamByName("v").SetAsDateTime({{2024, 2, 29}, {18, 30, 0, 0}});
       },
       Mode::Run,
       "the direct route drops the time of day to fit the DATE; the server refuses the text "
       "rather than lose it"},
      {"a date-time given as text", "insert into ad_s (id, ts) values (111, :v)",
       [](TParams& p) { Typed(p, "v", ftDateTime, std::string("2024-02-29 13:14:15.5")); }},
      {"an exact number with the separator ',' (before: refused)",
       "insert into ad_s (id, n) values (111, :v)", [](TParams& p) { Typed(p, "v", ftBCD, 12.5); },
       Mode::Run, nullptr, [](TFormatSettings& f) { f.DecimalSeparator = ','; }},
      {"an exact number as text", "insert into ad_s (id, n) values (111, :v)",
       [](TParams& p) { Typed(p, "v", ftBCD, std::string("-123456789.25")); }},
      {"a float -0 (before: stored +0)", "insert into ad_s (id, f) values (111, :v)",
       [](TParams& p) { p.ParamByName("v").SetAsFloat(-0.0); }},
      {"a float with no short decimal form", "insert into ad_s (id, f) values (111, :v)",
       [](TParams& p) { p.ParamByName("v").SetAsFloat(0.1); }},
      {"a huge float", "insert into ad_s (id, f) values (111, :v)",
       [](TParams& p) { p.ParamByName("v").SetAsFloat(1.7976931348623157e308); }},
      {"a float with the separator ','", "insert into ad_s (id, f) values (111, :v)",
       [](TParams& p) { p.ParamByName("v").SetAsFloat(2.5); }, Mode::Run, nullptr,
       [](TFormatSettings& f) { f.DecimalSeparator = ','; }},
      {"a float NaN, refused alike", "insert into ad_s (id, f) values (111, :v)",
       [](TParams& p) { p.ParamByName("v").SetAsFloat(std::nan("")); }},
      {"a big integer", "insert into ad_s (id, n) values (:id, :v)",
       [](TParams& p) {
         p.ParamByName("id").SetAsInteger(111);
         p.ParamByName("v").SetAsLargeInt(9999999999);
       }},
      {"an integer given as text", "select id from ad_s where id = :v",
       [](TParams& p) { Typed(p, "v", ftInteger, std::string(" 1 ")); }},
      {"a boolean", "select id from ad_s where :v",
       [](TParams& p) { p.ParamByName("v").SetAsBoolean(true); }},
      {"NULL of every type",
       "insert into ad_s (id, t, m, b, d, tm, ts, f, n) values (111, :t, :m, :b, :d, :tm, :ts, :f, "
       ":n)",
       [](TParams& p) {
         for (TParam& param : p) param.SetValue(TNull{});
         p.ParamByName("f").DataType = ftFloat;
         p.ParamByName("d").DataType = ftDate;
         p.ParamByName("b").DataType = ftBlob;
       }},
      // Text, binary and long values.
      {"Windows-1252 text", "insert into ad_s (id, t) values (111, :v)",
       [](TParams& p) { p.ParamByName("v").SetAsString("a\xE7\xE3o \x80"); }},
      {"binary bytes with NUL, 0x81 and 0x8D (before: refused)",
       "insert into ad_s (id, b) values (111, :v)",
       [](TParams& p) {
         Typed(p, "v", ftBlob, Bytes({0, 0x81, 0x8D, '\'', 0xFF, 'a'}));
       }},
      {"a text over 64 KB (before: refused)", "insert into ad_s (id, m) values (111, :v)",
       [](TParams& p) { p.ParamByName("v").SetAsMemo(std::string(70000, 'x') + "'\xE7'"); }},
      {"a binary value of 1 MB (before: refused)", "insert into ad_s (id, b) values (111, :v)",
       [](TParams& p) { Typed(p, "v", ftBlob, Pattern(1 << 20)); }},
      {"a 40 KB text into a varchar column, refused alike",
       "insert into ad_s (id, t) values (111, :v)",
       [](TParams& p) { p.ParamByName("v").SetAsString(std::string(40000, 'y')); }},
      {"a long text read back", "select cast(:v as blob sub_type text) as v from rdb$database",
       [](TParams& p) { p.ParamByName("v").SetAsMemo(std::string(33000, 'z')); }},
      // Statements with rows that the remote route does not read as a select.
      {"insert ... returning through Open (before: stored, then a failure)",
       "insert into ad_s (id, t) values (111, 'r') returning id", nullptr, Mode::Open},
      {"a common table expression through Open (before: no rows, no error)",
       "with x as (select id from ad_s) select id from x", nullptr, Mode::Open,
       "the remote route reads rows only of statements that begin with \"select \"; the "
       "server would run this one and its rows would be lost"},
      {"a row-returning execute block through Open",
       "execute block returns (r integer) as begin r = 1; suspend; end", nullptr, Mode::Open,
       "as above: the rows would be lost"},
      {"select without a blank after it", "select*from ad_s", nullptr, Mode::Open,
       "as above: not read as a select"},
      // Literal forms in the statement itself.
      {"an introducer and a binary literal",
       "insert into ad_s (id, t, b) values (111, _win1252 'a\xE7\xE3o:x', x'3A78')", nullptr},
      {"a division by zero fails alike", "select 1/0 as x from rdb$database", nullptr},
  };
}

class RouteComparisonTest : public testing::RoutesTest {
 protected:
  void SetUp() override {
    RoutesTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db_->Execute(
        "create table ad_s (id integer not null primary key, t varchar(300), m blob sub_type "
        "text, b blob sub_type binary, d date, tm time, ts timestamp, f double precision, n "
        "numeric(12,2))");
  }

  Outcome Run(const Case& c, int route) {
    db_->Execute(
        std::vector<std::string>{"delete from ad_s", "insert into ad_s (id, t) values (1, 'one')"});
    testing::FormatGuard guard;
    if (c.regional) c.regional(FormatSettings());
    RouteQuery r;
    Wire(r, route);
    TTarvoIBDatabase& db = r.db;
    TTarvoIBTransaction& tx = r.tx;
    TTarvoIBQuery& q = r.q;
    q.SQL().SetText(c.sql);
    Outcome o;
    try {
      if (c.set) c.set(q.Params);
      if (c.mode == Mode::Open) {
        q.OpenQuery();
        o.rows = ShortenedRows(q);
      } else if (route == 0) {
        try {
          q.OpenQuery();
          o.rows = ShortenedRows(q);
        } catch (const ENoResultSet&) {
          q.DirectDataSet().Execute();
          tx.Commit();
        }
      } else if (IsRemoteSelect(q.ExpandParams(q.SQL().Text()))) {
        q.OpenQuery();
        o.rows = ShortenedRows(q);
      } else {
        q.OpenRemote();
      }
    } catch (const Error& e) {
      o.failed = true;
      o.message = e.what();
    }
    if (tx.Active()) tx.Rollback();
    db.SetConnected(false);
    for (const std::string& row :
         testing::DirectRows(*db_, "select id, t, m, b, d, tm, ts, f, n from ad_s order by id"))
      o.stored.push_back(Shortened(row));
    return o;
  }

  static std::vector<std::string> ShortenedRows(TTarvoIBQuery& q) {
    std::vector<std::string> rows = Rows(q);
    for (std::string& row : rows) row = Shortened(row);
    return rows;
  }
};

TEST_F(RouteComparisonTest, EveryCaseAnswersAlikeOnEveryRoute) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    std::array<Outcome, 3> o = {Run(c, 0), Run(c, 1), Run(c, 2)};
    const std::string detail =
        "direct: " + o[0].message + "\nxml: " + o[1].message + "\ncompressed: " + o[2].message;
    EXPECT_EQ(o[2].Summary(), o[1].Summary()) << "the two remote forms\n" << detail;
    if (c.remoteRefuses) {
      EXPECT_FALSE(o[0].failed) << detail;
      EXPECT_TRUE(o[1].failed) << detail;
      EXPECT_EQ(o[1].stored, o[0].stored) << detail;
      continue;
    }
    EXPECT_EQ(o[1].Summary(), o[0].Summary()) << detail;
  }
}

}  // namespace
}  // namespace kvo::client
