// Test support: a web server on 127.0.0.1 for pages a browser test needs from another origin
// than the program's (a hostile page posting a form, a listener for beacons). It serves fixed
// pages by path, answers 404 to other paths, and records every request line that arrives.
// Each connection runs on its own thread, as a browser opens several at once.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kvo::testing {

class PageServer {
 public:
  // Listens on a free port; throws std::runtime_error when it cannot.
  PageServer();
  ~PageServer();
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  // Serves `body` at `path` (the query is ignored) as text/html with exactly the given header
  // lines ("Name: value", no line end) added.
  void Serve(const std::string& path, std::string body, std::vector<std::string> headers = {});
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string Url(const std::string& path) const;
  // The request lines that arrived so far ("GET /beacon?x HTTP/1.1"), in order.
  std::vector<std::string> Requests() const;

 private:
  struct Page {
    std::string body;
    std::vector<std::string> headers;
  };
  void AcceptLoop();
  void Answer(int client);

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::map<std::string, Page> pages_;
  std::vector<std::string> requests_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

}  // namespace kvo::testing
