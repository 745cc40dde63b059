// A tiny HTTP/1.1 server on 127.0.0.1 for tests: records each request as it arrived on the
// wire and answers with what the test's handler returns. One connection at a time; every
// answer closes its connection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kvo::testing {

struct HttpRequest {
  std::string requestLine;  // "POST /x/sql HTTP/1.1"
  std::string headers;      // the header lines, CR LF after each
  std::string body;
  // The value of a header (name without regard to case), or "".
  std::string Header(const std::string& name) const {
    size_t pos = 0;
    while (pos < headers.size()) {
      size_t end = headers.find("\r\n", pos);
      std::string line = headers.substr(pos, end - pos);
      size_t colon = line.find(':');
      if (colon != std::string::npos &&
          strcasecmp(line.substr(0, colon).c_str(), name.c_str()) == 0) {
        size_t v = colon + 1;
        while (v < line.size() && line[v] == ' ') ++v;
        return line.substr(v);
      }
      if (end == std::string::npos) break;
      pos = end + 2;
    }
    return "";
  }
};

struct HttpReply {
  std::string statusLine = "HTTP/1.1 200 OK";
  std::string body;
  std::string contentType = "text/html";
};

class LocalHttpServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequest&)>;

  explicit LocalHttpServer(Handler handler) : handler_(std::move(handler)) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) throw std::runtime_error("socket");
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd_, 8) != 0) {
      close(fd_);
      throw std::runtime_error("bind/listen");
    }
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LocalHttpServer() {
    stopping_ = true;
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    thread_.join();
  }
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<HttpRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    while (!stopping_) {
      int client = accept(fd_, nullptr, nullptr);
      if (client < 0) {
        if (stopping_) return;
        continue;
      }
      Handle(client);
      close(client);
    }
  }

  void Handle(int client) {
    std::string data;
    char buffer[4096];
    size_t headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
      ssize_t n = recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      data.append(buffer, n);
    }
    HttpRequest request;
    size_t lineEnd = data.find("\r\n");
    request.requestLine = data.substr(0, lineEnd);
    request.headers = data.substr(lineEnd + 2, headerEnd + 2 - (lineEnd + 2));
    size_t length = std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10);
    request.body = data.substr(headerEnd + 4);
    while (request.body.size() < length) {
      ssize_t n = recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.body.append(buffer, n);
    }
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    HttpReply reply = handler_(request);
    std::string answer = reply.statusLine + "\r\nContent-Type: " + reply.contentType +
                         "\r\nContent-Length: " + std::to_string(reply.body.size()) +
                         "\r\nConnection: close\r\n\r\n" + reply.body;
    size_t sent = 0;
    while (sent < answer.size()) {
      ssize_t n = send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += n;
    }
  }

  Handler handler_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<HttpRequest> requests_;
  std::thread thread_;
};

}  // namespace kvo::testing
