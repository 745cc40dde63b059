// /usermanager through the real CGI program against the private server's services manager.
#include <gtest/gtest.h>

#include <unistd.h>

#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::dataservice {
namespace {

using testing::Form;

const char kBadParameters[] =
    "Erro: in\xED"
    "cio de Par\xE2metros faltando ou incorreto";
const char kRefused[] =
    "Erro: Your user name and password are not defined. Ask your database administrator to set "
    "up a Firebird login.";

class UserManagerTest : public ::testing::Test {
 public:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    KVO_REQUIRE_ENV(clientConfig, "FIREBIRD");
    admin_ = *testing::Env("KVO_FB_USER");
    password_ = *testing::Env("KVO_FB_PASSWORD");
  }
  std::string Post(const std::vector<std::pair<std::string, std::string>>& fields) {
    testing::CgiResult r = testing::PostCgi("/usermanager", Form(fields));
    EXPECT_EQ(r.Head().substr(0, 41), "Status: 200 OK\r\nContent-Type: text/html\r\n") << r.output;
    return r.Body();
  }
  std::string Op(const std::string& o, const std::string& user = "", const std::string& pw = "") {
    return Post({{"db", "localhost:/x.fdb"},
                 {"u", admin_},
                 {"p", password_},
                 {"o", o},
                 {"username", user},
                 {"password", pw}});
  }
  bool CanLogIn(const std::string& name, const std::string& password) {
    testing::TempDatabase db;
    try {
      fb::Attachment::Open(db.connection(), {"user_name=" + name, "password=" + password}).Close();
      return true;
    } catch (const fb::Error&) {
      return false;
    }
  }
  std::string admin_, password_;
};

TEST_F(UserManagerTest, AddShowChangeDelete) {
  // Upper case, as the server keeps unquoted names, with an accented letter.
  const std::string name =
      "JOS\xC9"
      "_" +
      std::to_string(getpid());
  struct Cleanup {
    UserManagerTest* test;
    std::string name;
    ~Cleanup() { test->Op("del", name); }
  } cleanup{this, name};

  EXPECT_EQ(Op("add", name, "um"), "Usu\xE1rio adicionado com \xEAxito ");
  std::string shown = Op("show");
  EXPECT_NE(("\r\n" + shown).find("\r\n" + admin_ + "\r\n"), std::string::npos) << shown;
  EXPECT_NE(("\r\n" + shown).find("\r\n" + name + "\r\n"), std::string::npos) << shown;
  EXPECT_EQ(shown.substr(shown.size() - 2), "\r\n");
  EXPECT_TRUE(CanLogIn(name, "um"));

  // The server's text, its UTF-8 turned back into our code page.
  std::string again = Op("add", name, "outra");
  EXPECT_EQ(again.rfind("Erro: An error occurred while attempting to add the user.\n-violation of "
                        "PRIMARY or UNIQUE KEY constraint",
                        0),
            0u)
      << again;
  EXPECT_NE(again.find("'" + name + "')"), std::string::npos) << again;

  EXPECT_EQ(Op("upd", name, "dois"), "Usu\xE1rio modificado com \xEAxito ");
  EXPECT_FALSE(CanLogIn(name, "um"));
  EXPECT_TRUE(CanLogIn(name, "dois"));

  // The password of a delete has no effect.
  EXPECT_EQ(Op("del", name, "whatever"),
            "Usu\xE1rio exclu\xED"
            "do com \xEAxito ");
  EXPECT_EQ(Op("show").find(name), std::string::npos);
  EXPECT_EQ(Op("del", name),
            "Erro: The user name specified was not found in the security database");
}

// A name with a control character would be listed as several users (or not at all), a user
// without a password could never log in: add and upd refuse both before the server is asked.
// A user written with such a name before stays reachable by del.
TEST_F(UserManagerTest, ControlCharactersAndEmptyPasswordsAreRefused) {
  const std::string pid = std::to_string(getpid());
  const std::string kControl =
      "Erro: O nome do usu\xE1rio n\xE3o pode conter caracteres de controle (como CR ou LF)";
  const std::string kNoPassword = "Erro: A senha do usu\xE1rio n\xE3o pode ser vazia";
  struct Case {
    const char* operation;
    std::string name, password, answer;
  } cases[] = {
      {"add", "CR\rLF\n" + pid, "x", kControl}, {"add", "LF\n" + pid, "x", kControl},
      {"add", "TAB\t" + pid, "x", kControl},    {"add", "SOH\x01" + pid, "x", kControl},
      {"add", "DEL\x7F" + pid, "x", kControl},  {"add", "SEMSENHA_" + pid, "", kNoPassword},
      {"upd", "A\r\nB" + pid, "x", kControl},   {"upd", admin_, "", kNoPassword},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.operation) + " " + c.name);
    EXPECT_EQ(Op(c.operation, c.name, c.password), c.answer);
  }
  std::string shown = Op("show");
  EXPECT_EQ(shown.find(pid), std::string::npos) << shown;
  EXPECT_TRUE(CanLogIn(admin_, password_));

  const std::string written = "OLD\r\nNAME" + pid;
  fb::ServiceManager services =
      fb::ServiceManager::Open("localhost:service_mgr", admin_, password_);
  services.AddUser(written, "x", 0, 0);
  services.Detach();
  EXPECT_EQ(Op("del", written),
            "Usu\xE1rio exclu\xED"
            "do com \xEAxito ");
  EXPECT_EQ(Op("show").find(pid), std::string::npos);
}

TEST_F(UserManagerTest, ParameterChecksAndOperations) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> fields;
    std::string answer;
  };
  const std::vector<Case> cases = {
      {"blank in the name",
       {{"u", admin_}, {"p", password_}, {"o", "add"}, {"username", "A B"}, {"password", "x"}},
       kBadParameters},
      {"empty name, add",
       {{"u", admin_}, {"p", password_}, {"o", "add"}, {"password", "x"}},
       kBadParameters},
      {"empty name, upd",
       {{"u", admin_}, {"p", password_}, {"o", "upd"}, {"password", "x"}},
       kBadParameters},
      {"empty name, del", {{"u", admin_}, {"p", password_}, {"o", "del"}}, kBadParameters},
      {"operation in capitals", {{"u", admin_}, {"p", password_}, {"o", "SHOW"}}, ""},
      {"operation in mixed case",
       {{"u", admin_}, {"p", password_}, {"o", "Add"}, {"username", "NEVER"}, {"password", "x"}},
       ""},
      {"no operation", {{"u", admin_}, {"p", password_}}, ""},
      // The login is refused before the parameters are looked at.
      {"refused login",
       {{"u", admin_}, {"p", "wrong"}, {"o", "add"}, {"username", "A B"}},
       kRefused},
      {"refused login, show", {{"u", admin_}, {"p", "wrong"}, {"o", "show"}}, kRefused},
      {"refused login, no operation", {{"u", admin_}, {"p", "wrong"}}, kRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Post(c.fields), c.answer);
  }
  std::string shown = Op("show");
  EXPECT_EQ(shown.find("A B"), std::string::npos);
  EXPECT_EQ(shown.find("NEVER"), std::string::npos);
}

}  // namespace
}  // namespace kvo::dataservice
