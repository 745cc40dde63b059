// Test support: throwaway databases on the private Firebird server of the test environment
// (KVO_FB_PORT, KVO_FB_USER, KVO_FB_PASSWORD, KVO_FB_DATADIR).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fb/fb.h"
#include "tests/support/cgi_runner.h"

namespace kvo::testing {

// Skips the test (or fails it under KVO_REQUIRE_SERVICES=1) when the Firebird variables of the
// test environment are missing.
#define KVO_REQUIRE_FIREBIRD()                                                                     \
  do {                                                                                             \
    for (const char* name : {"KVO_FB_PORT", "KVO_FB_USER", "KVO_FB_PASSWORD", "KVO_FB_DATADIR"}) { \
      if (!::kvo::testing::Env(name)) {                                                            \
        if (::kvo::testing::Env("KVO_REQUIRE_SERVICES")) FAIL() << name << " is not set";          \
        GTEST_SKIP() << name << " is not set";                                                     \
      }                                                                                            \
    }                                                                                              \
  } while (0)

// A new empty database in $KVO_FB_DATADIR (default character set WIN1252, or the one given),
// created through the server and dropped (or at least deleted) by the destructor. Throws
// kvo::fb::Error when it cannot be created.
class TempDatabase {
 public:
  explicit TempDatabase(std::string_view charSet = "WIN1252");
  ~TempDatabase();
  TempDatabase(const TempDatabase&) = delete;
  TempDatabase& operator=(const TempDatabase&) = delete;

  // The database file as the server sees it.
  const std::string& path() const { return path_; }
  // "localhost/<port>:<path>": through the server, password checked.
  std::string connection() const;
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  // The parameter lines "user_name=<user>" and "password=<password>".
  std::vector<std::string> params() const;
  // A new attachment through the server.
  fb::Attachment Attach() const;
  // Runs the statements (DDL or DML) one after another, each committed.
  void Execute(const std::vector<std::string>& statements) const;
  void Execute(std::string_view statement) const {
    Execute(std::vector<std::string>{std::string(statement)});
  }

 private:
  std::string path_, port_, user_, password_;
};

// "localhost/<port>:<path>" for any path (a missing database, say).
std::string ServerPath(const std::string& path);

}  // namespace kvo::testing
