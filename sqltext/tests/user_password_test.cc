#include "sqltext/user_password.h"

#include <gtest/gtest.h>

namespace kvo::sqltext {
namespace {

TEST(HidePasswords, OnlyThePasswordLiteralOfLoginStatements) {
  struct Case {
    std::string sql, logged;
  };
  const std::vector<Case> cases = {
      {"alter user DEMO password 'demo'", "alter user DEMO password '#'"},
      {"CREATE USER x PASSWORD 'it''s' FIRSTNAME 'Ana'",
       "CREATE USER x PASSWORD '#' FIRSTNAME 'Ana'"},
      {"create or alter user x password q'{a'b}' using plugin Srp",
       "create or alter user x password '#' using plugin Srp"},
      {"Create Or Alter User x Set PassWord Q'!x!'", "Create Or Alter User x Set PassWord '#'"},
      {"alter current user set password 'p'", "alter current user set password '#'"},
      {"recreate user x password 'p'", "recreate user x password '#'"},
      {"  -- note\n/* a */ alter /* b */ user x password -- c\n 'p'",
       "  -- note\n/* a */ alter /* b */ user x password -- c\n '#'"},
      {"alter user x password _UTF8 'p' grant admin role",
       "alter user x password _UTF8 '#' grant admin role"},
      {"alter user x password x'70'", "alter user x password '#'"},
      {"create user password password 'p'", "create user password password '#'"},
      {"create user \"PASSWORD\" firstname 'password' password 'p' lastname 'q'",
       "create user \"PASSWORD\" firstname 'password' password '#' lastname 'q'"},
      {"alter user x password 'p", "alter user x password '#'"},
      {"alter user x tags (password = 'kept')", "alter user x tags (password = 'kept')"},
      // Other statements keep every byte, a column or variable named password included.
      {"update users set password = 'p' where id = 1",
       "update users set password = 'p' where id = 1"},
      {"select password 'p' from rdb$database", "select password 'p' from rdb$database"},
      {"alter table user_t add password varchar(10) default 'p'",
       "alter table user_t add password varchar(10) default 'p'"},
      {"select 'alter user x password ''p''' from rdb$database",
       "select 'alter user x password ''p''' from rdb$database"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(HidePasswords(c.sql, "'#'"), c.logged) << c.sql;
}

}  // namespace
}  // namespace kvo::sqltext
