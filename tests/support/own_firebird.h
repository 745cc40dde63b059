// Test support: a Firebird server of the test's own, started by the same script functions as the
// shared one of the test run (scripts/lib/services.sh). For tests that may end the server
// process: a regression there must not take every later test down with it.
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/support/cgi_runner.h"

namespace kvo::testing {

class OwnFirebird {
 public:
  // Starts the server in a fresh folder. Throws std::runtime_error with the script's output
  // when it does not start.
  OwnFirebird();
  // Stops the server (TERM, then KILL) and removes its folder.
  ~OwnFirebird();
  OwnFirebird(const OwnFirebird&) = delete;
  OwnFirebird& operator=(const OwnFirebird&) = delete;

  const std::string& port() const { return port_; }
  const std::string& password() const { return password_; }  // SYSDBA's
  // The client configuration folder for FIREBIRD: plain paths and "localhost:service_mgr" go
  // to this server.
  const std::string& clientFolder() const { return client_; }
  // "localhost/<port>:<path>" of a database file under the server's data folder.
  std::string Database(const std::string& file) const;

  // The server process (tests stop and continue it).
  pid_t pid() const { return pid_; }
  // True while the server process runs (a zombie does not count).
  bool Running() const;
  // Waits up to `seconds` for the server process to end; true when it did.
  bool EndsWithin(double seconds) const;

 private:
  TempDir dir_;
  std::string port_, password_, client_, data_;
  pid_t pid_ = 0;
};

}  // namespace kvo::testing
