// Matching a posted database name against the AllowedDatabases list.
#include "configfiles/allowed_databases.h"

#include <gtest/gtest.h>

namespace kvo::config {
namespace {

TEST(AllowedDatabases, Matching) {
  struct Case {
    const char* list;
    const char* db;
    bool allowed;
  } cases[] = {
      // Aliases and paths, compared without regard to case.
      {"shop", "shop", true},
      {"shop", "SHOP", true},
      {"shop", "shop2", false},
      {"/srv/fb/shop.fdb", "/srv/fb/shop.fdb", true},
      {"/srv/fb/shop.fdb", "/srv/fb/other.fdb", false},
      // Host names: localhost and 127.0.0.1 are one host, 3050 is no port.
      {"localhost:/srv/a.fdb", "127.0.0.1:/srv/a.fdb", true},
      {"127.0.0.1:/srv/a.fdb", "LOCALHOST/3050:/srv/a.fdb", true},
      {"localhost:/srv/a.fdb", "localhost/gds_db:/srv/a.fdb", true},
      {"localhost:/srv/a.fdb", "inet://localhost//srv/a.fdb", true},
      {"localhost:/srv/a.fdb", "inet://localhost/srv/a.fdb", false},  // a relative path
      {"localhost/3051:/srv/a.fdb", "inet://127.0.0.1:3051//srv/a.fdb", true},
      {"localhost:/srv/a.fdb", "localhost/3051:/srv/a.fdb", false},
      {"localhost/3051:/srv/a.fdb", "localhost:/srv/a.fdb", false},
      {"localhost:/srv/a.fdb", "db.example:/srv/a.fdb", false},
      {"localhost:/srv/a.fdb", "/srv/a.fdb", false},
      {"/srv/a.fdb", "localhost:/srv/a.fdb", false},
      {"[::1]:/srv/a.fdb", "[::1]/3050:/srv/a.fdb", true},
      // Wildcards.
      {"localhost:/srv/fb/*.fdb", "localhost:/srv/fb/shop.fdb", true},
      {"localhost:/srv/fb/*", "localhost/3051:/srv/fb/shop.fdb", false},
      {"localhost*:/srv/fb/*", "localhost/3051:/srv/fb/shop.fdb", true},
      {"*", "anything.example/1:/etc/passwd", true},
      // "." and ".." cannot lead out of a wildcard's folder.
      {"localhost:/srv/fb/*", "localhost:/srv/fb/../../etc/x.fdb", false},
      {"localhost:/srv/fb/*", "localhost:/srv/fb/./x.fdb", true},
      {"localhost:/srv/fb/x.fdb", "localhost:/srv//fb/sub/../x.fdb", true},
      {"C:\\dados\\*.fdb", "c:\\dados\\..\\windows\\x.fdb", false},
      {"C:\\dados\\*.fdb", "c:\\DADOS\\loja.fdb", true},
      // Lists: entries separated by ";", blanks around them ignored.
      {" shop ; localhost:/srv/a.fdb ;", "localhost:/srv/a.fdb", true},
      {"shop;;other", "other", true},
      {"", "shop", false},
      {" ; ", "", false},
      // Whatever bytes a caller sends, only a match passes.
      {"localhost:/srv/a.fdb", "localhost:/srv/a.fdb\r\nx", false},
      {"localhost:/srv/a.fdb", "", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DatabaseAllowed(c.list, c.db), c.allowed) << "list: " << c.list << " db: " << c.db;
}

}  // namespace
}  // namespace kvo::config
