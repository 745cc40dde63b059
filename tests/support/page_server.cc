#include "tests/support/page_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace kvo::testing {

PageServer::PageServer() {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd_, 16) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd_);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

PageServer::~PageServer() {
  stopping_ = true;
  acceptor_.join();
  close(fd_);
  for (auto& t : connections_) t.join();
}

void PageServer::Serve(const std::string& path, std::string body,
                       std::vector<std::string> headers) {
  std::lock_guard lock(mutex_);
  pages_[path] = Page{std::move(body), std::move(headers)};
}

std::string PageServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> PageServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void PageServer::AcceptLoop() {
  // Polls with a short timeout so that the destructor's flag ends the loop.
  while (!stopping_) {
    pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    connections_.emplace_back([this, client] {
      Answer(client);
      close(client);
    });
  }
}

void PageServer::Answer(int client) {
  // A browser may open a connection and never use it: give up after a few quiet seconds.
  timeval quiet{5, 0};
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &quiet, sizeof quiet);
  std::string data;
  char buffer[4096];
  while (data.find("\r\n\r\n") == std::string::npos) {
    ssize_t n = recv(client, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || stopping_) return;
    data.append(buffer, static_cast<size_t>(n));
  }
  const std::string requestLine = data.substr(0, data.find("\r\n"));
  std::string path = requestLine.substr(requestLine.find(' ') + 1);
  path = path.substr(0, path.find(' '));
  path = path.substr(0, path.find('?'));
  std::string answer;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(requestLine);
    auto it = pages_.find(path);
    if (it == pages_.end()) {
      answer = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    } else {
      answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
      for (const auto& h : it->second.headers) answer += h + "\r\n";
      answer += "Content-Length: " + std::to_string(it->second.body.size()) +
                "\r\nConnection: close\r\n\r\n" + it->second.body;
    }
  }
  size_t sent = 0;
  while (sent < answer.size()) {
    ssize_t n = send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
}

}  // namespace kvo::testing
