// Logins through the program can never reach the embedded engine (which opens a database file
// without checking the password), whatever FIREBIRD says in the program's environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::app {
namespace {

using testing::Form;
using testing::TempDatabase;

// Sets or removes FIREBIRD for the programs the test starts; restores it afterwards.
class FirebirdVariable {
 public:
  explicit FirebirdVariable(const std::string* value) {
    if (const char* old = std::getenv("FIREBIRD")) old_ = old;
    if (value)
      setenv("FIREBIRD", value->c_str(), 1);
    else
      unsetenv("FIREBIRD");
  }
  ~FirebirdVariable() {
    if (old_)
      setenv("FIREBIRD", old_->c_str(), 1);
    else
      unsetenv("FIREBIRD");
  }

 private:
  std::optional<std::string> old_;
};

struct Attempt {
  const char* what;
  std::string db, password;
  bool accepted;
};

void Check(const TempDatabase& db, const Attempt& a) {
  SCOPED_TRACE(a.what);
  auto login =
      testing::PostCgi("/login", Form({{"db", a.db}, {"u", db.user()}, {"p", a.password}}));
  EXPECT_EQ(login.Body(), a.accepted ? "true" : "false");
  auto sql = testing::PostCgi("/sql", Form({{"db", a.db},
                                            {"u", db.user()},
                                            {"p", a.password},
                                            {"q", "select 'ROW' || 'SEEN' from rdb$database"}}));
  EXPECT_EQ(sql.Body().find("ROWSEEN") != std::string::npos, a.accepted) << sql.Body();
}

TEST(ServerOnlyAttach, NoEnvironmentLetsAWrongPasswordIn) {
  KVO_REQUIRE_FIREBIRD();
  KVO_REQUIRE_ENV(clientConfig, "FIREBIRD");
  KVO_REQUIRE_ENV(port, "KVO_FB_PORT");
  TempDatabase db;
  const std::string viaServer = db.connection();

  {
    // Without FIREBIRD the client's own configuration names the default port, where no server
    // listens here: a plain path fails to connect instead of opening the file.
    FirebirdVariable unset(nullptr);
    for (const Attempt& a : {Attempt{"plain path, wrong password", db.path(), "wrong", false},
                             Attempt{"plain path, empty password", db.path(), "", false},
                             Attempt{"server path, right password", viaServer, db.password(), true},
                             Attempt{"server path, wrong password", viaServer, "wrong", false}})
      Check(db, a);
  }
  {
    // A client folder that picks the embedded engine for everything, with the server's port.
    testing::TempDir folder;
    testing::WriteFile(folder.path() + "/firebird.conf",
                       "Providers = Engine12\nRemoteServicePort = " + port + "\n");
    std::filesystem::copy_file(clientConfig + "/firebird.msg", folder.path() + "/firebird.msg");
    FirebirdVariable engine(&folder.path());
    for (const Attempt& a : {Attempt{"plain path, wrong password", db.path(), "wrong", false},
                             Attempt{"plain path, right password", db.path(), db.password(), true},
                             Attempt{"server path, wrong password", viaServer, "wrong", false}})
      Check(db, a);
  }
}

}  // namespace
}  // namespace kvo::app
