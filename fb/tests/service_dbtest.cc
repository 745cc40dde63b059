// Users of the private server's security database through its services manager.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include "fb/fb.h"
#include "tests/support/fb_testdb.h"

namespace kvo::fb {
namespace {

class ServiceTest : public ::testing::Test {
 public:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    service_ = "localhost/" + *testing::Env("KVO_FB_PORT") + ":service_mgr";
    user_ = *testing::Env("KVO_FB_USER");
    password_ = *testing::Env("KVO_FB_PASSWORD");
  }
  ServiceManager Admin() { return ServiceManager::Open(service_, user_, password_); }
  bool Listed(const std::string& name) {
    auto users = Admin().DisplayUsers();
    return std::any_of(users.begin(), users.end(),
                       [&](const UserRecord& u) { return u.userName == name; });
  }
  bool CanLogIn(const std::string& name, const std::string& password) {
    testing::TempDatabase db;
    try {
      Attachment::Open(db.connection(), {"user_name=" + name, "password=" + password}).Close();
      return true;
    } catch (const Error&) {
      return false;
    }
  }
  std::string service_, user_, password_;
};

TEST_F(ServiceTest, AddsShowsChangesAndDeletesUsers) {
  // An accented name travels as the server expects it and comes back as the same bytes.
  const std::string name =
      "JOS\xC9"
      "_" +
      std::to_string(getpid());
  struct Cleanup {
    ServiceTest* test;
    std::string name;
    ~Cleanup() {
      try {
        test->Admin().DeleteUser(name);
      } catch (const Error&) {
      }
    }
  } cleanup{this, name};
  {
    ServiceManager sm = Admin();
    sm.AddUser(name, "pw1", 0, 0);
    sm.Detach();
  }
  EXPECT_TRUE(Listed(name));
  EXPECT_TRUE(Listed(user_));
  EXPECT_TRUE(CanLogIn(name, "pw1"));

  Admin().ModifyUser(name, "pw2");
  EXPECT_FALSE(CanLogIn(name, "pw1"));
  EXPECT_TRUE(CanLogIn(name, "pw2"));

  try {
    Admin().AddUser(name, "pw3", 0, 0);
    FAIL() << "added twice";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("An error occurred while attempting to add the user.", 0),
              0u)
        << e.what();
  }

  Admin().DeleteUser(name);
  EXPECT_FALSE(Listed(name));
  try {
    Admin().DeleteUser(name);
    FAIL() << "deleted twice";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "The user name specified was not found in the security database");
  }
}

TEST_F(ServiceTest, RefusedAdministratorLogin) {
  try {
    ServiceManager::Open(service_, user_, "wrong");
    FAIL() << "attached";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Your user name and password are not defined. Ask your database administrator to "
              "set up a Firebird login.");
  }
}

}  // namespace
}  // namespace kvo::fb
