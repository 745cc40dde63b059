#include "tests/support/cgi_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/error_page.h"

namespace kvo::testing {

std::string CgiResult::Body() const {
  size_t p = output.find("\r\n\r\n");
  return p == std::string::npos ? output : output.substr(p + 4);
}

std::string CgiResult::Head() const {
  size_t p = output.find("\r\n\r\n");
  return p == std::string::npos ? std::string() : output.substr(0, p + 4);
}

std::optional<std::string> Env(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) return std::nullopt;
  return std::string(v);
}

namespace {

// Runs the program with `stdinBytes` written to a pipe, or with `stdinFd` (when not -1) as its
// standard input.
CgiResult Run(const std::map<std::string, std::string>& env, const std::string& stdinBytes,
              int stdinFd) {
  const ProgramEnvironment environment(env);

  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  // Standard error goes to a file read after the end, so a report there cannot block the
  // program while we wait for standard output.
  const int err = memfd_create("kvo-cgi-stderr", MFD_CLOEXEC);
  if (err < 0) throw std::runtime_error("memfd_create");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    dup2(stdinFd >= 0 ? stdinFd : in[0], 0);
    dup2(out[1], 1);
    dup2(err, 2);
    char* argv[] = {const_cast<char*>(KVO_SERVER_BINARY), nullptr};
    execve(KVO_SERVER_BINARY, argv, environment.envp());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  // Feed standard input and drain standard output together, so neither side can block.
  size_t written = 0;
  bool inOpen = true;
  if (stdinBytes.empty()) {
    close(in[1]);
    inOpen = false;
  } else {
    fcntl(in[1], F_SETFL, O_NONBLOCK);
  }
  CgiResult result;
  char buffer[65536];
  bool outOpen = true;
  while (outOpen) {
    pollfd fds[2] = {{out[0], POLLIN, 0}, {inOpen ? in[1] : -1, POLLOUT, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[0].revents) {
      ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n <= 0)
        outOpen = false;
      else
        result.output.append(buffer, static_cast<size_t>(n));
    }
    if (inOpen && fds[1].revents) {
      ssize_t n = write(in[1], stdinBytes.data() + written, stdinBytes.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN) written = stdinBytes.size();
      if (written >= stdinBytes.size()) {
        close(in[1]);
        inOpen = false;
      }
    }
  }
  if (inOpen) close(in[1]);
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.peakKb = usage.ru_maxrss;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::string& errors = result.errors;
  ssize_t n;
  while ((n = pread(err, buffer, sizeof buffer, static_cast<off_t>(errors.size()))) > 0)
    errors.append(buffer, static_cast<size_t>(n));
  close(err);
  std::cerr << errors;
  if (errors.find("ERROR: LeakSanitizer") != std::string::npos)
    ADD_FAILURE() << "the program leaked (its report is above)";
  return result;
}

std::map<std::string, std::string> PostEnv(const std::string& path, size_t length,
                                           std::map<std::string, std::string> extraEnv) {
  extraEnv.emplace("REQUEST_METHOD", "POST");
  extraEnv.emplace("SERVER_PROTOCOL", "HTTP/1.1");
  extraEnv.emplace("PATH_INFO", path);
  extraEnv.emplace("CONTENT_LENGTH", std::to_string(length));
  extraEnv.emplace("CONTENT_TYPE", "application/x-www-form-urlencoded");
  return extraEnv;
}

}  // namespace

ProgramEnvironment::ProgramEnvironment(std::map<std::string, std::string> env) {
  InheritEnvironment(env);
  for (const auto& [k, v] : env) storage_.push_back(k + "=" + v);
  for (auto& s : storage_) envp_.push_back(s.data());
  envp_.push_back(nullptr);
}

void InheritEnvironment(std::map<std::string, std::string>& env) {
  for (const char* name : {"KVO_DRIVES", "FIREBIRD", "FIREBIRD_LOCK", "FIREBIRD_TMP"})
    if (!env.count(name))
      if (auto v = Env(name)) env[name] = *v;
  for (const char* name : kSanitizerOptions)
    if (!env.count(name))
      if (auto v = Env(name)) env[name] = *v;
}

std::optional<std::string> ErrorMessage(const std::string& body) {
  if (!platform::IsErrorPage(body)) return std::nullopt;
  return platform::ErrorPageMessage(body);
}

CgiResult RunCgi(const std::map<std::string, std::string>& env, const std::string& stdinBytes) {
  return Run(env, stdinBytes, -1);
}

CgiResult RunCgiFromFile(const std::map<std::string, std::string>& env,
                         const std::string& stdinFile) {
  int fd = open(stdinFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + stdinFile);
  CgiResult result = Run(env, "", fd);
  close(fd);
  return result;
}

CgiResult PostCgiFile(const std::string& path, const std::string& bodyFile,
                      std::map<std::string, std::string> extraEnv) {
  const auto size = std::filesystem::file_size(bodyFile);
  return RunCgiFromFile(PostEnv(path, size, std::move(extraEnv)), bodyFile);
}

CgiResult PostCgi(const std::string& path, const std::string& body,
                  std::map<std::string, std::string> extraEnv) {
  return RunCgi(PostEnv(path, body.size(), std::move(extraEnv)), body);
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kvo-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& hostPath, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
  std::ofstream f(hostPath, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + hostPath);
}

std::string ReadFile(const std::string& hostPath) {
  std::ifstream f(hostPath, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

}  // namespace kvo::testing
