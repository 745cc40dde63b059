#include "tests/support/fastcgi_client.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace kvo::testing {

namespace {

enum : unsigned char {
  kBeginRequest = 1,
  kEndRequest = 3,
  kParams = 4,
  kStdin = 5,
  kStdout = 6,
  kStderr = 7,
};

void Record(std::string& out, unsigned char type, std::string_view content) {
  const size_t length = content.size();
  const size_t padding = (8 - length % 8) % 8;
  const unsigned char header[8] = {1,
                                   type,
                                   0,
                                   1,
                                   static_cast<unsigned char>(length >> 8),
                                   static_cast<unsigned char>(length & 0xFF),
                                   static_cast<unsigned char>(padding),
                                   0};
  out.append(reinterpret_cast<const char*>(header), 8);
  out.append(content);
  out.append(padding, '\0');
}

// Records of at most 65,535 bytes each, then the empty record that ends the stream.
void Stream(std::string& out, unsigned char type, std::string_view bytes) {
  for (size_t at = 0; at < bytes.size(); at += 65535) Record(out, type, bytes.substr(at, 65535));
  Record(out, type, {});
}

void Length(std::string& out, size_t n) {
  if (n < 128) {
    out += static_cast<char>(n);
  } else {
    out += static_cast<char>(0x80 | ((n >> 24) & 0x7F));
    out += static_cast<char>((n >> 16) & 0xFF);
    out += static_cast<char>((n >> 8) & 0xFF);
    out += static_cast<char>(n & 0xFF);
  }
}

bool ReadAll(int fd, char* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd, buffer + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int FastCgiProcess::Listen() {
  socketPath_ = socketDir_.path() + "/kvo.sock";
  int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath_.c_str(), sizeof address.sun_path - 1);
  if (listener < 0 ||
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 16) != 0)
    throw std::runtime_error("cannot listen on " + socketPath_);
  return listener;
}

FastCgiProcess::FastCgiProcess(Params env, const std::string& folder) {
  const int listener = Listen();
  const ProgramEnvironment environment(std::move(env));
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    ::dup2(listener, 0);
    if (!folder.empty() && ::chdir(folder.c_str()) != 0) _exit(126);
    char* argv[] = {const_cast<char*>(KVO_SERVER_BINARY), nullptr};
    ::execve(KVO_SERVER_BINARY, argv, environment.envp());
    _exit(127);
  }
  ::close(listener);
}

FastCgiProcess::FastCgiProcess(const std::function<int()>& serve) {
  const int listener = Listen();
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    ::dup2(listener, 0);
    ::close(listener);
    // No exit handlers: they belong to the test.
    _exit(serve());
  }
  ::close(listener);
}

FastCgiProcess::~FastCgiProcess() {
  if (pid_ <= 0) return;
  WaitExit(0);
  if (pid_ > 0) {  // still running (WaitExit forgets a process that ended)
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

namespace {
void SendAll(int fd, const std::string& out) {
  // The program reads the body only as far as CONTENT_LENGTH says; a refused write after that
  // is not the test's concern.
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::send(fd, out.data() + done, out.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}
}  // namespace

void FastCgiProcess::SendBody(int fd, const std::string& rest) {
  std::string out;
  Stream(out, kStdin, rest);
  SendAll(fd, out);
}

int FastCgiProcess::Begin() {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath_.c_str(), sizeof address.sun_path - 1);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("cannot connect to " + socketPath_);
  std::string out;
  const char begin[8] = {0, 1 /* responder */, 0 /* close the connection after */, 0, 0, 0, 0, 0};
  Record(out, kBeginRequest, std::string_view(begin, 8));
  SendAll(fd, out);
  return fd;
}

void FastCgiProcess::SendParams(int fd, const Params& params, const std::string& body,
                                bool endBody) {
  std::string out;
  std::string pairs;
  for (const auto& [name, value] : params) {
    Length(pairs, name.size());
    Length(pairs, value.size());
    pairs += name;
    pairs += value;
  }
  Stream(out, kParams, pairs);
  if (endBody) {
    Stream(out, kStdin, body);
  } else if (!body.empty()) {
    Record(out, kStdin, body);
  }
  SendAll(fd, out);
}

int FastCgiProcess::Send(const Params& params, const std::string& body, bool endBody) {
  const int fd = Begin();
  SendParams(fd, params, body, endBody);
  return fd;
}

CgiResult FastCgiProcess::Receive(int fd) {
  CgiResult result;
  char header[8];
  std::vector<char> content;
  while (ReadAll(fd, header, 8)) {
    const unsigned char type = static_cast<unsigned char>(header[1]);
    const size_t length =
        (static_cast<unsigned char>(header[4]) << 8) | static_cast<unsigned char>(header[5]);
    const size_t padding = static_cast<unsigned char>(header[6]);
    content.resize(length + padding);
    if (!ReadAll(fd, content.data(), content.size())) break;
    if (type == kStdout) result.output.append(content.data(), length);
    if (type == kStderr) result.errors.append(content.data(), length);
    if (type == kEndRequest) {
      result.exitCode = 0;
      break;
    }
  }
  ::close(fd);
  return result;
}

CgiResult FastCgiProcess::Request(const Params& params, const std::string& body) {
  return Receive(Send(params, body));
}

int FastCgiProcess::WaitExit(double seconds) {
  if (pid_ <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (true) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

Params RequestParams(const std::string& method, const std::string& path, const std::string& folder,
                     const std::string& body, const std::string& query) {
  Params p = {{"REQUEST_METHOD", method},
              {"SERVER_PROTOCOL", "HTTP/1.1"},
              {"PATH_INFO", path},
              {"QUERY_STRING", query},
              {"SCRIPT_NAME", "/kvo/kvowebserver.exe"},
              {"SCRIPT_FILENAME", folder + "/kvowebserver.exe"},
              {"REMOTE_ADDR", "127.0.0.1"},
              {"REMOTE_HOST", "127.0.0.1"},
              {"SERVER_PORT", "80"}};
  if (!body.empty()) {
    p["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    p["CONTENT_LENGTH"] = std::to_string(body.size());
  }
  return p;
}

}  // namespace kvo::testing
