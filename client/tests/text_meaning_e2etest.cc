// Text beyond ASCII in statements means what the caller wrote (Windows-1252) on every route
// (direct, remote XML, remote compressed), in databases of default set NONE, WIN1252 and UTF8,
// and where a column's set differs from the database's: literals and parameters compare, match
// and write the same, and rows that Windows-1252 cannot hold never make a statement fail.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "client/tests/direct_rows.h"
#include "client/tests/routes_fixture.h"
#include "kvo/client/kvo_client.h"
#include "platform/codepage.h"
#include "tests/support/fb_testdb.h"

namespace kvo::client {
namespace {

// A database kind and the set of its one text column.
struct Kind {
  const char* what;
  const char* databaseSet;
  const char* column;   // the column's declaration
  const char* isqlSet;  // the connection set isql-fb uses for it; nullptr: not compared
  bool holdsOmega;      // the column can hold a character Windows-1252 lacks
};

const Kind kKinds[] = {
    {"NONE database", "NONE", "varchar(30)", "NONE", false},
    {"WIN1252 database", "WIN1252", "varchar(30)", "WIN1252", false},
    {"UTF8 database", "UTF8", "varchar(30)", "UTF8", true},
    {"UTF8 column in a WIN1252 database", "WIN1252", "varchar(30) character set utf8", nullptr,
     true},
    {"UTF8 column in a NONE database", "NONE", "varchar(30) character set utf8", nullptr, true},
    {"NONE column in a UTF8 database", "UTF8", "varchar(30) character set none", nullptr, false},
};

// A statement with one text value (":v"), sent with the value as a literal and as a parameter,
// and what it must answer: the ids of its rows, or, for a write, the column of row `readBack`.
struct Case {
  const char* what;
  const char* sql;
  std::string value;
  std::vector<std::string> ids;  // a select's ids, in order; a write's value read back when not
                                 // `value`
  int readBack = 0;              // a write: the row whose value is read back
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"=", "select id from ad_t where c = :v order by id", "Jos\xE9", {"1"}},
      {"like", "select id from ad_t where c like :v order by id", "Jos\xE9%", {"1", "2"}},
      {"starting with",
       "select id from ad_t where c starting with :v order by id",
       "Jos\xE9",
       {"1", "2"}},
      {"in", "select id from ad_t where c in (:v, 'Ana') order by id", "Jos\xE9", {"1", "3"}},
      {"containing", "select id from ad_t where c containing :v order by id", "\xE9lia", {"2"}},
      {"set col =", "update ad_t set c = :v where id = 3", "Z\xE9 \x80", {}, 3},
      {"insert values", "insert into ad_t (id, c) values (4, :v)", "\xC7\xE3o", {}, 4},
      {"a write finding its row by the text",
       "update ad_t set c = 'x' || c where c = :v",
       "Jos\xE9",
       {"xJos\xE9"},
       1},
  };
  return cases;
}

// The statement with the value written as a literal.
std::string WithLiteral(const Case& c) {
  std::string sql = c.sql;
  const size_t marker = sql.find(":v");
  return marker == std::string::npos ? sql : sql.replace(marker, 2, "'" + c.value + "'");
}

// The ids a select answers through isql-fb on a connection of `set`, the statement converted
// to that set; "failed: ..." when isql-fb reports a failure.
std::vector<std::string> IsqlIds(const testing::TempDatabase& db, const std::string& set,
                                 const std::string& sql) {
  testing::TempDir dir;
  const std::string script = dir.path() + "/q.sql";
  {
    std::ofstream out(script, std::ios::binary);
    out << "set list on;\n" << (set == "UTF8" ? platform::Cp1252ToUtf8(sql) : sql) << ";\n";
  }
  const std::string command = "isql-fb -q -ch " + set + " -user '" + db.user() + "' -password '" +
                              db.password() + "' '" + db.connection() + "' -i '" + script +
                              "' 2>&1";
  std::vector<std::string> ids;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return {"failed: popen"};
  char line[512];
  while (fgets(line, sizeof line, p)) {
    std::string l(line);
    if (l.rfind("ID ", 0) == 0) {
      l = l.substr(l.find_first_not_of(' ', 2));
      ids.push_back(l.substr(0, l.find_first_of(" \r\n")));
    } else if (l.find("Statement failed") != std::string::npos) {
      ids.push_back("failed: " + l);
    }
  }
  pclose(p);
  return ids;
}

class TextMeaningTest : public testing::RoutesTest {
 protected:
  // The kind's database with rows José, Josélia, Ana (and Ωmega where the column holds it),
  // written through a connection of the matching set.
  void Make(const Kind& kind) {
    db_ = std::make_unique<testing::TempDatabase>(kind.databaseSet);
    db_->Execute(std::string("create table ad_t (id integer, c ") + kind.column + ")");
    Reset(kind);
  }
  void Reset(const Kind& kind) {
    const bool utf8 = std::string(kind.column).find("utf8") != std::string::npos ||
                      (std::string(kind.databaseSet) == "UTF8" &&
                       std::string(kind.column).find("none") == std::string::npos);
    // The connection without a set sends the bytes as they are: UTF-8 for a UTF8 column.
    auto text = [utf8](const std::string& cp1252) {
      return utf8 ? "_UTF8 '" + platform::Cp1252ToUtf8(cp1252) + "'" : "'" + cp1252 + "'";
    };
    std::vector<std::string> statements = {
        "delete from ad_t", "insert into ad_t values (1, " + text("Jos\xE9") + ")",
        "insert into ad_t values (2, " + text("Jos\xE9lia") + ")",
        "insert into ad_t values (3, 'Ana')"};
    if (kind.holdsOmega) statements.push_back("insert into ad_t values (9, _UTF8 '\xCE\xA9mega')");
    db_->Execute(statements);
  }

  // A statement without rows on the direct route, as a program runs it.
  static void Execute(TTarvoIBQuery& q, TTarvoIBTransaction& tx) {
    try {
      q.OpenQuery();
    } catch (const ENoResultSet&) {
      q.DirectDataSet().Execute();
      tx.Commit();
    }
  }

  // What the case answers on `route` (0 direct, 1 remote XML, 2 remote compressed): the ids or
  // the value read back, or "failed: <message>".
  std::vector<std::string> Run(const Case& c, bool parameter, int route) {
    RouteQuery r;
    Wire(r, route);
    TTarvoIBDatabase& db = r.db;
    TTarvoIBTransaction& tx = r.tx;
    TTarvoIBQuery& q = r.q;
    q.SQL().SetText(parameter ? c.sql : WithLiteral(c));
    std::vector<std::string> answer;
    try {
      if (parameter) q.Params.ParamByName("v").SetAsString(c.value);
      if (!c.readBack) {
        q.OpenQuery();
        for (q.First(); !q.Eof(); q.Next()) answer.push_back(q.Fields(0).AsString());
      } else if (route == 0) {
        Execute(q, tx);
      } else {
        q.OpenRemote();
      }
    } catch (const Error& e) {
      answer.push_back(std::string("failed: ") + e.what());
    }
    if (tx.Active()) tx.Rollback();
    db.SetConnected(false);
    if (c.readBack && answer.empty())
      answer =
          testing::DirectRows(*db_, "select c from ad_t where id = " + std::to_string(c.readBack));
    return answer;
  }
};

// The table of cases: every kind, operator, form of the value and route answers the rows the
// caller meant; for the kinds of a single set, isql-fb on a connection of that set agrees.
TEST_F(TextMeaningTest, EveryRouteAndDatabaseMeansWhatTheCallerWrote) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.what);
    Make(kind);
    for (const Case& c : Cases()) {
      SCOPED_TRACE(c.what);
      const std::vector<std::string> expected =
          c.readBack && c.ids.empty() ? std::vector<std::string>{c.value} : c.ids;
      if (kind.isqlSet && !c.readBack) {
        EXPECT_EQ(expected, IsqlIds(*db_, kind.isqlSet, WithLiteral(c))) << "isql-fb";
      }
      for (bool parameter : {false, true}) {
        for (int route = 0; route < 3; ++route) {
          SCOPED_TRACE(std::string(parameter ? "parameter" : "literal") + ", route " +
                       std::to_string(route));
          EXPECT_EQ(expected, Run(c, parameter, route));
          if (c.readBack) Reset(kind);
        }
      }
    }
  }
}

// Where a literal meets no column the server can name (the select list, another literal, an
// expression of literals) it is Windows-1252 text, in a database of one set or of several, and
// a row of a character the code page lacks does not make it fail.
TEST_F(TextMeaningTest, LiteralsThatMeetNoColumn) {
  struct NoColumnCase {
    const char* what;
    const char* sql;
    std::vector<std::string> uniform, mixed;  // the answer in each kind of database
  };
  const std::vector<NoColumnCase> cases = {
      {"a literal in the select list",
       "select 'Jos\xE9' from ad_t where id = 1",
       {"Jos\xE9"},
       {"Jos\xE9"}},
      {"two literals compared",
       "select id from ad_t where 'Jos\xE9' = 'Jos\xE9' and id < 3",
       {"1", "2"},
       {"1", "2"}},
      {"a column met through an expression",
       "select id from ad_t where 'Jos' || '\xE9' = c",
       {"1"},
       {"1"}},
  };
  for (const Kind& kind : {kKinds[1], kKinds[3]}) {
    SCOPED_TRACE(kind.what);
    const bool mixed = kind.isqlSet == nullptr;
    Make(kind);
    for (const NoColumnCase& c : cases) {
      for (int route = 0; route < 3; ++route) {
        SCOPED_TRACE(std::string(c.what) + ", route " + std::to_string(route));
        std::vector<std::string> answer = Run({c.what, c.sql, "", {}}, false, route);
        const std::vector<std::string>& expected = mixed ? c.mixed : c.uniform;
        EXPECT_EQ(expected, answer);
      }
    }
  }
}

// Quoted names beyond ASCII (tables, columns, aliases, procedures) reach what they name on every
// route and in every kind of database, and come back as the caller wrote them.
TEST_F(TextMeaningTest, QuotedNamesOnEveryRoute) {
  struct NameCase {
    const char* what;
    std::string sql;
    std::string answer;  // field name=value of the first row; "" for a statement without rows
  };
  const std::vector<NameCase> cases = {
      {"table and column", "select \"Pre\xE7o\" from \"Pre\xE7o\"", "Pre\xE7o=7"},
      {"an alias that is well-formed UTF-8 as bytes", "select 1 as \"\xC3\xA9\" from rdb$database",
       "\xC3\xA9=1"},
      {"an alias", "select 2 as \"\xE9\" from rdb$database", "\xE9=2"},
      {"a procedure", "select \"r\xE9\" from \"Pro\xE7\"", "r\xE9=5"},
      {"a write", "update \"Pre\xE7o\" set \"Pre\xE7o\" = \"Pre\xE7o\" + 0", ""},
  };
  for (const char* set : {"NONE", "WIN1252", "UTF8"}) {
    SCOPED_TRACE(set);
    db_ = std::make_unique<testing::TempDatabase>(set);
    // Names as the server keeps them: UTF-8, sent as they are on a connection without a set.
    db_->Execute(std::vector<std::string>{
        "create table \"Pre\xC3\xA7o\" (\"Pre\xC3\xA7o\" integer)",
        "insert into \"Pre\xC3\xA7o\" values (7)",
        "create procedure \"Pro\xC3\xA7\" returns (\"r\xC3\xA9\" integer) as begin "
        "\"r\xC3\xA9\" = 5; suspend; end"});
    for (const NameCase& c : cases) {
      for (int route = 0; route < 3; ++route) {
        SCOPED_TRACE(std::string(c.what) + ", route " + std::to_string(route));
        RouteQuery r;
        Wire(r, route);
        TTarvoIBDatabase& db = r.db;
        TTarvoIBTransaction& tx = r.tx;
        TTarvoIBQuery& q = r.q;
        q.SQL().SetText(c.sql);
        std::string answer;
        try {
          if (c.answer.empty()) {
            if (route == 0) {
              Execute(q, tx);
            } else {
              q.OpenRemote();
            }
          } else {
            q.OpenQuery();
            ASSERT_FALSE(q.Eof());
            TField& f = q.Fields(0);
            answer = f.FieldName() + "=" + f.AsString();
            EXPECT_EQ(f.AsString(), q.FieldByName(f.FieldName()).AsString());
          }
        } catch (const Error& e) {
          answer = std::string("failed: ") + e.what();
        }
        EXPECT_EQ(c.answer, answer);
        if (tx.Active()) tx.Rollback();
        db.SetConnected(false);
      }
    }
  }
}

}  // namespace
}  // namespace kvo::client
