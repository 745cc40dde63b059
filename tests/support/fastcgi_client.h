// Test support: the program in its FastCGI mode, started as spawn-fcgi or lighttpd's bin-path
// start it (a listening socket as standard input), and a client that sends it requests one at a
// time over that socket, so that tests choose every parameter a web server would send.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>

#include "tests/support/cgi_runner.h"

namespace kvo::testing {

using Params = std::map<std::string, std::string>;

class FastCgiProcess {
 public:
  // Starts KVO_SERVER_BINARY in `folder` (the test's folder when empty) with exactly `env` as
  // its environment, plus KVO_DRIVES and FIREBIRD from the test's own when `env` lacks them.
  explicit FastCgiProcess(Params env = {}, const std::string& folder = "");
  // Runs `serve` in a forked copy of the test instead, with the listening socket as its
  // standard input; the copy ends with the status `serve` returns.
  explicit FastCgiProcess(const std::function<int()>& serve);
  // Kills the process when it still runs.
  ~FastCgiProcess();
  FastCgiProcess(const FastCgiProcess&) = delete;
  FastCgiProcess& operator=(const FastCgiProcess&) = delete;

  pid_t pid() const { return pid_; }

  // One request: the parameters, then `body` on its standard input. Returns what the program
  // wrote to the request's standard output; exitCode is 0 when the request ended normally.
  CgiResult Request(const Params& params, const std::string& body = "");

  // The same in steps: Send() leaves the request running and returns its connection (without
  // ending the body when `endBody` is false: SendBody() sends the rest and ends it), Receive()
  // reads its answer and closes the connection.
  int Send(const Params& params, const std::string& body = "", bool endBody = true);
  void SendBody(int connection, const std::string& rest);
  // Send() in two steps: Begin() connects and sends only the record that begins the request,
  // SendParams() the parameters and the body as Send() does.
  int Begin();
  void SendParams(int connection, const Params& params, const std::string& body = "",
                  bool endBody = true);
  CgiResult Receive(int connection);

  // Waits up to `seconds` for the process to end; its exit status, -1 when it still runs or
  // was ended by a signal.
  int WaitExit(double seconds);

 private:
  int Listen();  // the listening socket at socketPath_
  std::string socketPath_;
  TempDir socketDir_;
  pid_t pid_ = -1;
};

// The parameters of a request as lighttpd sends them for `path` (PATH_INFO) of the script
// `script` in `folder`: method, protocol, script name and file, and a form body's type and
// length when `body` is not empty.
Params RequestParams(const std::string& method, const std::string& path, const std::string& folder,
                     const std::string& body = "", const std::string& query = "");

}  // namespace kvo::testing
