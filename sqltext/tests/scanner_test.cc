#include "sqltext/scanner.h"

#include <gtest/gtest.h>

#include <random>

#include "sqltext/tests/reference_scanner.h"

namespace kvo::sqltext {
namespace {

std::vector<std::string> Names(std::string_view sql) {
  std::vector<std::string> names;
  for (const Marker& m : FindMarkers(sql)) names.push_back(m.name);
  return names;
}

TEST(FindMarkers, OnlyWhereAParameterMayStand) {
  struct Case {
    std::string sql;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {"select * from t where a = :x and b = :x", {"x", "x"}},
      {"where id=:id and d>:d and e<:e and f||:f;", {"id", "d", "e", "f"}},
      {"where a = :ID", {"ID"}},
      {"in (:\"y z\", :\"a\"\"b\")", {"y z", "a\"b"}},
      {"select 'note :p end' from t where x = :p", {"p"}},
      {"'He said \"meet at 10 :30 today\" ok'", {}},
      {"'say \"a :b c\" ok'", {}},
      {"q'{it's :p here}' || :q", {"q"}},
      {"Q'<a'>:b>' || :c", {"c"}},
      {"'url?a=:b&c=:d'", {}},
      {"x'3A41' || _win1252 ':n' || :n", {"n"}},
      {"\"col:x\" = :y", {"y"}},
      {"where 1 = :one -- note: x", {"one"}},
      {"where 1 = :one /* time: now */ and 2 = :two", {"one", "two"}},
      {"-- it's\nwhere a = :one\r-- filter by :one\nand b = :two", {"one", "two"}},
      {"a::b and :c", {"c"}},
      {"a : b and :", {}},
      {"execute block (p int = :p) returns (r int) as declare y integer; begin y = :p; "
       "r = :y; suspend; end",
       {"p"}},
      {"EXECUTE\n/* c */ BLOCK as begin insert into t values (:y || ''); end", {}},
      {"create or alter procedure p (a int) as begin insert into t values (:a); end", {}},
      {"recreate trigger tr for t before insert as begin new.a = :b; end", {}},
      {"select a as b from t where c = :c", {"c"}},
      {"execute procedure p :a", {"a"}},
      {"'unterminated :a", {}},
      {"/* unterminated :a", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Names(c.sql), c.names) << c.sql;
    EXPECT_EQ(testing::CheckScanner(c.sql), "") << c.sql;
  }
}

TEST(Scan, LiteralsAndTheirForms) {
  const std::string sql = "_WIN1252 'a''b' q'(x)' '' x'41' \"n\"\"m\" -- c\n/* d */";
  std::vector<Token> tokens = Scan(sql);
  std::vector<std::pair<std::string, LiteralForm>> literals;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].kind != TokenKind::Literal) continue;
    literals.emplace_back(std::string(TextOf(sql, tokens[i])), tokens[i].literal);
    EXPECT_EQ(IsIntroduced(sql, tokens, i), literals.size() == 1) << literals.back().first;
  }
  const std::vector<std::pair<std::string, LiteralForm>> expected = {
      {"'a''b'", LiteralForm::Plain},
      {"q'(x)'", LiteralForm::Alternative},
      {"''", LiteralForm::Plain},
      {"x'41'", LiteralForm::Binary}};
  EXPECT_EQ(literals, expected);
  EXPECT_EQ(FirstWord(sql, tokens), "_win1252");
  EXPECT_EQ(FirstWord(" -- c\n /* x */ SeLeCt 1", Scan(" -- c\n /* x */ SeLeCt 1")), "select");
}

// The value of each form of literal: quotes and delimiters off, a doubled quote as one; an
// unterminated literal keeps what it has.
TEST(Scan, LiteralValues) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"'a''b'", "a'b"}, {"''", ""},      {"q'(x')'", "x'"},  {"Q'{}'", ""},
      {"'open", "open"}, {"q'<ab", "ab"}, {"x'41'", "x'41'"},
  };
  for (const auto& [literal, value] : cases) {
    const std::vector<Token> tokens = Scan(literal);
    ASSERT_EQ(1u, tokens.size()) << literal;
    EXPECT_EQ(value, LiteralValue(literal, tokens[0])) << literal;
  }
}

// Statements built from fragments that open and close every kind of section, in random order:
// the scanner's tokens give the text back and read every byte as the reference does.
TEST(Scan, AgreesWithTheReferenceOnMixedFragments) {
  const std::vector<std::string> fragments = {"'",
                                              "''",
                                              "\"",
                                              "q'",
                                              "Q'{",
                                              "}'",
                                              "x'",
                                              "--",
                                              "/*",
                                              "*/",
                                              "\n",
                                              "\r",
                                              " ",
                                              ":",
                                              "::",
                                              ":a",
                                              ":\"",
                                              "a",
                                              "_x",
                                              "(",
                                              ")",
                                              "as",
                                              "execute block",
                                              "create procedure",
                                              "\xC3\xA7",
                                              "$",
                                              "-",
                                              "/",
                                              "*",
                                              "<",
                                              ">"};
  std::mt19937 random(25);
  for (int round = 0; round < 20000; ++round) {
    std::string sql;
    int parts = 1 + static_cast<int>(random() % 12);
    for (int i = 0; i < parts; ++i) sql += fragments[random() % fragments.size()];
    ASSERT_EQ(testing::CheckScanner(sql), "") << sql;
  }
}

}  // namespace
}  // namespace kvo::sqltext
