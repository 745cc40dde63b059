// Test support: runs the CGI program as the web server would, and reads the test environment
// that scripts/test prepares (the private Firebird server, lighttpd, the proxy).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kvo::testing {

// True in the sanitizer build, where the address sanitizer owns the program's memory: it
// reserves more address space than any limit allows and keeps freed blocks, so memory figures
// and address-space limits mean nothing there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

struct CgiResult {
  std::string output;  // everything the program wrote to standard output
  // What it wrote to the web server's error log: standard error, or in FastCGI mode the
  // request's error stream.
  std::string errors;
  int exitCode = -1;
  long peakKb = 0;  // the program's peak resident memory (kilobytes)
  // The body: what follows the first empty line (CR LF CR LF) of the output.
  std::string Body() const;
  // The header block (up to and including the empty line).
  std::string Head() const;
};

// The message of the error page that `body` is; nullopt for any other answer.
std::optional<std::string> ErrorMessage(const std::string& body);

// Runs kvowebserver with exactly `env` as its environment (plus InheritEnvironment's variables),
// `stdinBytes` on standard input, in the current directory. A leak that the sanitizer build
// reports on the program's standard error fails the calling test.
CgiResult RunCgi(const std::map<std::string, std::string>& env, const std::string& stdinBytes = "");

// RunCgi with the file `stdinFile` as standard input. For memory measurements: a forked
// child's peak includes what the parent held at the fork, so a large body is better not held.
CgiResult RunCgiFromFile(const std::map<std::string, std::string>& env,
                         const std::string& stdinFile);

// A POST of a form body to PATH_INFO `path`, SERVER_PROTOCOL HTTP/1.1.
CgiResult PostCgi(const std::string& path, const std::string& body,
                  std::map<std::string, std::string> extraEnv = {});

// PostCgi with the body read from the file `bodyFile`.
CgiResult PostCgiFile(const std::string& path, const std::string& bodyFile,
                      std::map<std::string, std::string> extraEnv = {});

// Adds to `env` the variables of the test's own environment that every run of the program
// needs and `env` does not set: the drives folder, the Firebird client's configuration, and
// the sanitizers' options (the sanitizer build reads its leak suppressions from them).
void InheritEnvironment(std::map<std::string, std::string>& env);
// The environment execve gives the program: `env` plus InheritEnvironment's variables, as
// "NAME=value" strings that live as long as this object.
class ProgramEnvironment {
 public:
  explicit ProgramEnvironment(std::map<std::string, std::string> env);
  ProgramEnvironment(const ProgramEnvironment&) = delete;
  ProgramEnvironment& operator=(const ProgramEnvironment&) = delete;
  // The list execve takes, ended by a null pointer.
  char* const* envp() const { return envp_.data(); }

 private:
  std::vector<std::string> storage_;
  std::vector<char*> envp_;
};
// The sanitizers' option variables, for tests that build the program's environment by hand.
inline constexpr const char* kSanitizerOptions[] = {"ASAN_OPTIONS", "LSAN_OPTIONS",
                                                    "UBSAN_OPTIONS"};

// The value of a variable of the test environment, or nullopt. Tests that need a service call
// RequireEnv, which skips the test, or fails it when KVO_REQUIRE_SERVICES=1 (scripts/test).
std::optional<std::string> Env(const char* name);
#define KVO_REQUIRE_ENV(var, name)                                                 \
  auto var##_opt = ::kvo::testing::Env(name);                                      \
  if (!var##_opt) {                                                                \
    if (::kvo::testing::Env("KVO_REQUIRE_SERVICES")) FAIL() << name " is not set"; \
    GTEST_SKIP() << name " is not set";                                            \
  }                                                                                \
  const std::string var = *var##_opt

// A fresh empty folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Writes a file, creating its folders.
void WriteFile(const std::string& hostPath, const std::string& bytes);
std::string ReadFile(const std::string& hostPath);

}  // namespace kvo::testing
