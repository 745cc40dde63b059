// Character sets, column names and time values through the real program: the protocol's text
// is Windows-1252 whatever the database's character sets, and the two renderings of /sql carry
// the same names and values.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "packet/packet.h"
#include "platform/error_page.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::dataservice {
namespace {

using testing::CgiResult;
using testing::Form;
using testing::TempDatabase;

// "ação€" in Windows-1252.
const std::string kLatin = "a\xE7\xE3o\x80";

std::string Inflate(const std::string& bytes) {
  std::string out(bytes.size() * 20 + 1024, '\0');
  for (;;) {
    uLongf n = out.size();
    int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &n,
                        reinterpret_cast<const Bytef*>(bytes.data()), bytes.size());
    if (rc == Z_BUF_ERROR) {
      out.resize(out.size() * 2);
      continue;
    }
    EXPECT_EQ(Z_OK, rc);
    out.resize(n);
    return out;
  }
}

class CharSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    std::filesystem::create_directories(drives_.path() + "/C/KVO/KVO.Net/Logs");
  }

  CgiResult Sql(const TempDatabase& db, const std::string& q, const std::string& z = "false") {
    return testing::PostCgi(
        "/sql",
        Form({{"z", z}, {"db", db.connection()}, {"u", db.user()}, {"p", db.password()}, {"q", q}}),
        {{"KVO_DRIVES", drives_.path()}});
  }
  // A statement that is not a select: it must succeed with the empty answer.
  void Write(const TempDatabase& db, const std::string& q) {
    EXPECT_EQ(
        "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
        "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n",
        Sql(db, q).output)
        << q;
  }
  // The message of the error page.
  std::string Failure(const TempDatabase& db, const std::string& q) {
    std::string body = Sql(db, q).Body();
    if (!platform::IsErrorPage(body)) return "(no error page) " + body.substr(0, 200);
    return platform::ErrorPageMessage(body);
  }
  // The select's packet through the XML or the compressed binary answer.
  packet::Packet Select(const TempDatabase& db, const std::string& q, bool binary) {
    CgiResult r = Sql(db, q, binary ? "true" : "false");
    return binary ? packet::LoadBinary(Inflate(r.Body())) : packet::LoadXml(r.Body());
  }

  testing::TempDir drives_;
};

// Windows-1252 text written into columns of several character sets comes back as the same
// bytes through both renderings; a UTF8 CHAR(5) is 5 characters wide.
TEST_F(CharSetTest, WindowsTextIntoEveryCharacterSetAndBack) {
  for (const char* set : {"UTF8", "NONE", "WIN1252", "ISO8859_1"}) {
    SCOPED_TRACE(set);
    TempDatabase db(set);
    db.Execute(
        "create table t (id integer, u varchar(10) character set utf8, c5 char(5) character set "
        "utf8, w varchar(10) character set win1252, d varchar(10), b blob sub_type 1 character "
        "set utf8, f varchar(10) character set unicode_fss)");
    const std::string v = "'" + kLatin + "'";
    Write(db, "insert into t values (1, " + v + ", " + v + ", " + v + ", " +
                  (std::string(set) == "ISO8859_1" ? "'a\xE7\xE3o'" : v) + ", " + v + ", " + v +
                  ")");
    for (bool binary : {false, true}) {
      SCOPED_TRACE(binary ? "binary" : "xml");
      packet::Packet p = Select(db, "select u, c5, w, d, b, f from t", binary);
      ASSERT_EQ(1u, p.RowCount());
      EXPECT_EQ(kLatin, p.GetBytes(0, 0));
      EXPECT_EQ(kLatin, p.GetBytes(0, 1));
      EXPECT_EQ(kLatin, p.GetBytes(0, 2));
      EXPECT_EQ(std::string(set) == "ISO8859_1" ? "a\xE7\xE3o" : kLatin, p.GetBytes(0, 3));
      EXPECT_EQ(kLatin, p.GetBytes(0, 4));
      EXPECT_EQ(kLatin, p.GetBytes(0, 5));
      EXPECT_EQ(10, p.Fields()[0].width);
      EXPECT_EQ(5, p.Fields()[1].width);
    }
  }
}

// Text that Windows-1252 cannot hold is read as "?" per character, never as a failure, and a
// CHAR(n) keeps n characters; a write the column's set cannot take fails with the server's
// message; the five bytes Windows-1252 leaves undefined are refused before anything runs.
TEST_F(CharSetTest, CharactersOutsideTheCodePage) {
  TempDatabase db("UTF8");
  db.Execute(std::vector<std::string>{
      "create table t (id integer, u varchar(10), c5 char(5), l varchar(10) character "
      "set iso8859_1)",
      // Written as UTF-8 through a connection without a character set.
      "insert into t (id, u, c5) values (1, '\xD0\x96\xE6\x97\xA5\xE2\x82\xAC"
      "x', "
      "'\xD0\x96\xE2\x82\xAC"
      "x')"});
  for (bool binary : {false, true}) {
    packet::Packet p = Select(db, "select u, c5 from t", binary);
    ASSERT_EQ(1u, p.RowCount());
    EXPECT_EQ("??\x80x", p.GetBytes(0, 0));
    EXPECT_EQ("?\x80x  ", p.GetBytes(0, 1));
  }
  EXPECT_NE(std::string::npos, Failure(db, "insert into t (id, l) values (2, '" + kLatin + "')")
                                   .find("Cannot transliterate character between character sets"));
  for (const char* undefined : {"\x81", "\x8D", "\x8F", "\x90", "\x9D"}) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(undefined[0]));
    EXPECT_EQ(std::string("The statement holds the byte ") + hex +
                  ", which is no character of Windows-1252; nothing was run",
              Failure(db, std::string("insert into t (id, u) values (3, 'a") + undefined + "')"));
  }
  packet::Packet p = Select(db, "select count(*) from t", false);
  EXPECT_EQ(1, p.GetInt(0, 0));
}

// In NONE and WIN1252 databases every byte Windows-1252 defines goes in and comes out as it is.
TEST_F(CharSetTest, NoneAndWin1252DatabasesKeepTheBytes) {
  std::string all;
  for (int b = 0x20; b <= 0xFF; ++b) {
    if (b == '\'' || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) continue;
    all.push_back(static_cast<char>(b));
  }
  for (const char* set : {"NONE", "WIN1252"}) {
    SCOPED_TRACE(set);
    TempDatabase db(set);
    db.Execute("create table t (v varchar(300), c char(300))");
    Write(db, "insert into t values ('" + all + "', '" + all + "')");
    for (bool binary : {false, true}) {
      packet::Packet p = Select(db, "select v, c from t", binary);
      EXPECT_EQ(all, p.GetBytes(0, 0));
      EXPECT_EQ(all + std::string(300 - all.size(), ' '), p.GetBytes(0, 1));
      EXPECT_EQ(300, p.Fields()[1].width);
    }
  }
}

// Names of tables and fields kept as UTF-8 by the server come out in Windows-1252.
TEST_F(CharSetTest, TableAndFieldNames) {
  TempDatabase db("UTF8");
  db.Execute(std::vector<std::string>{"create table \"A\xC3\x87\xC3\x83O\" (x integer)",
                                      "create table t (\"PRE\xC3\x87O\" integer)"});
  Write(db, "insert into t values (7)");
  for (bool binary : {false, true}) {
    packet::Packet p = Select(db, "select * from t", binary);
    ASSERT_EQ(1u, p.RowCount());
    EXPECT_EQ("PRE\xC7O", p.Fields()[0].name);
    EXPECT_EQ(7, p.GetInt(0, 0));
  }
  CgiResult r = testing::PostCgi(
      "/tabelas", Form({{"db", db.connection()}, {"u", db.user()}, {"p", db.password()}}));
  EXPECT_EQ("A\xC7\xC3O\r\nT\r\n", r.Body());
}

// /criarib and /tabelas in databases of each kind: a quoted name and a literal beyond ASCII
// reach what they name and meet, the export finds the UTF8 column's rows (it wrote an empty
// file), a write through the statement changes the row it names, and /tabelas lists the table
// as it was named.
TEST_F(CharSetTest, CriaribAndTabelasWithNamesAndLiterals) {
  std::filesystem::create_directories(drives_.path() + "/C");
  for (const char* set : {"NONE", "WIN1252", "UTF8"}) {
    SCOPED_TRACE(set);
    TempDatabase db(set);
    db.Execute(std::vector<std::string>{
        "create table \"Pre\xC3\xA7o\" (id integer, \"N\xC3\xB3\" varchar(20) character set "
        "utf8)",
        "insert into \"Pre\xC3\xA7o\" values (1, _UTF8 'Jos\xC3\xA9')",
        "insert into \"Pre\xC3\xA7o\" values (2, _UTF8 '\xCE\xA9mega')"});
    auto criarib = [&](const std::string& q) {
      return testing::PostCgi(
          "/criarib",
          Form({{"db", db.connection()},
                {"p", "user_name=" + db.user() + "\r\npassword=" + db.password()},
                {"q", q}}),
          {{"KVO_DRIVES", drives_.path()}});
    };
    std::filesystem::remove(drives_.path() + "/C/tabela.txt");
    CgiResult r = criarib("select \"N\xF3\" as nome from \"Pre\xE7o\" where \"N\xF3\" = 'Jos\xE9'");
    EXPECT_EQ(0u, r.output.find("Status: 200 OK")) << r.output;
    std::ifstream in(drives_.path() + "/C/tabela.txt", std::ios::binary);
    EXPECT_EQ("Jos\xE9\r\n", std::string(std::istreambuf_iterator<char>(in), {}));
    r = criarib("update \"Pre\xE7o\" set \"N\xF3\" = 'Z\xE9' where \"N\xF3\" = 'Jos\xE9'");
    EXPECT_EQ(0u, r.output.find("Status: 200 OK")) << r.output;
    packet::Packet p = Select(db, "select \"N\xF3\" from \"Pre\xE7o\" order by id", false);
    ASSERT_EQ(2u, p.RowCount());
    EXPECT_EQ("N\xF3", p.Fields()[0].name);
    EXPECT_EQ("Z\xE9", p.GetBytes(0, 0));
    EXPECT_EQ("?mega", p.GetBytes(1, 0));
    r = testing::PostCgi("/tabelas",
                         Form({{"db", db.connection()}, {"u", db.user()}, {"p", db.password()}}));
    EXPECT_EQ("Pre\xE7o\r\n", r.Body());
  }
}

// Every character of Windows-1252 in a column's name, and a column named xmlns, through both
// renderings: the name and the value under it come back.
TEST_F(CharSetTest, ColumnNamesOfEveryCharacter) {
  TempDatabase db;
  std::string q = "select 0 as \"xmlns\"";
  std::vector<std::string> names = {"xmlns"};
  for (int b = 0x20; b <= 0xFF; ++b) {
    if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) continue;
    std::string name = "N" + std::string(1, static_cast<char>(b)) + "x";
    names.push_back(name);
    std::string quoted;
    for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    q += ", " + std::to_string(names.size() - 1) + " as \"" + quoted + "\"";
  }
  q += " from rdb$database";
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "xml");
    packet::Packet p = Select(db, q, binary);
    ASSERT_EQ(names.size(), p.FieldCount());
    ASSERT_EQ(1u, p.RowCount());
    for (size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(names[i], p.Fields()[i].name) << i;
      EXPECT_EQ(static_cast<int64_t>(i), p.GetInt(0, i)) << names[i];
    }
  }
  std::string xml = Sql(db, "select 1 as \"xmlns\", 2 as \"XMLNS\" from rdb$database").Body();
  EXPECT_NE(std::string::npos, xml.find("<ROW _xmlns=\"1\" _XMLNS_1=\"2\"/>")) << xml;
}

// Times and time stamps keep their 1/10000 s in both renderings; millisecond values keep the
// XML rendering's three digits.
TEST_F(CharSetTest, TimeFractionsInBothRenderings) {
  TempDatabase db;
  const std::string q =
      "select cast('13:14:15.4567' as time) a, cast('2024-02-29 13:14:15.4567' as timestamp) b,"
      " cast('13:14:15.123' as time) c, cast('2024-02-29 13:14:15.1230' as timestamp) d"
      " from rdb$database";
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "xml");
    packet::Packet p = Select(db, q, binary);
    EXPECT_EQ((packet::Time{13, 14, 15, 4567}), p.GetTime(0, 0));
    EXPECT_EQ((packet::Time{13, 14, 15, 4567}), p.GetDateTime(0, 1).time);
    EXPECT_EQ((packet::Time{13, 14, 15, 1230}), p.GetTime(0, 2));
    EXPECT_EQ((packet::Time{13, 14, 15, 1230}), p.GetDateTime(0, 3).time);
  }
  EXPECT_NE(std::string::npos,
            Sql(db, q).Body().find("A=\"13:14:154567\" B=\"20240229T13:14:154567\" "
                                   "C=\"13:14:15123\" D=\"20240229T13:14:15123\""));
}

}  // namespace
}  // namespace kvo::dataservice
