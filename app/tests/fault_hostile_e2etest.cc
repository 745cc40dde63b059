// Malformed and hostile requests against every action of the real program: whatever comes in,
// the process answers and ends on its own (no crash, no hang), and reads or writes nothing
// outside its drive folder.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>

#include "tests/support/cgi_runner.h"

namespace kvo::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Every path of the action table and one that none handles, with what each answers to the two
// inputs whose answer depends on the action: a form whose every field is badly percent-encoded
// (the query's "%4" is read before the body's "%zz" by the actions that read the query), and
// markup in every field. Only the actions that show a database client's message as it stands
// (the error pages) may carry the markup back: the message names the posted database.
struct Action {
  const char* name;
  const char* decodingAnswer;  // in the answer to bad encoding; "" where no field is decoded
                               // or the action answers with its own fixed text
  bool showsDatabaseMessage;
};
const char* const kBadBody = "Invalid URL encoded character (%zz) at position 3";
const char* const kBadQuery = "Error decoding URL style (%XX) encoded string at position 3";
const Action kActions[] = {
    {"teste", "", false},
    {"sql", kBadBody, true},
    {"tabelas", kBadBody, true},
    {"criarib", kBadBody, true},
    {"versaokvomobile", "", false},
    {"script", "", false},
    {"listakvomodulos", "", false},
    {"versaoarquivo", kBadQuery, false},
    {"versaokvo", "", false},
    {"usermanager", kBadBody, false},
    {"versaokvomobileupdate", "", false},
    {"config", kBadQuery, false},
    {"loginx", "", false},
    {"abrirwebmodulo", "", false},
    {"site", kBadQuery, false},
    {"kml", "", false},
    {"login", "", false},
    {"versaokvocd", "", false},
    {"versaokvocdupdate", "", false},
    {"memo", kBadBody, true},
    {"rdp", kBadBody, false},
    {"rdptools", "", false},
    {"info", kBadQuery, false},
    {"nosuchaction", "", false},
};

struct Outcome {
  bool ended = false;  // on its own, within the limit
  bool exitedNormally = false;
  std::string output;
};

// Runs the program with `env` and `body` in `cwd`; kills it after `limit`.
Outcome RunProgram(const std::map<std::string, std::string>& env, const std::string& body,
                   const std::string& cwd, std::chrono::seconds limit) {
  std::vector<std::string> storage;
  for (const auto& [k, v] : env) storage.push_back(k + "=" + v);
  for (const char* name : {"FIREBIRD"})
    if (auto v = Env(name)) storage.push_back(std::string(name) + "=" + *v);
  for (const char* name : testing::kSanitizerOptions)
    if (auto v = Env(name)) storage.push_back(std::string(name) + "=" + *v);
  std::vector<char*> envp;
  for (auto& s : storage) envp.push_back(s.data());
  envp.push_back(nullptr);
  // The body goes through a file: a program that reads less than it is sent cannot block us.
  std::string bodyFile = cwd + "/../body";
  {
    FILE* f = fopen(bodyFile.c_str(), "wb");
    fwrite(body.data(), 1, body.size(), f);
    fclose(f);
  }
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(bodyFile.c_str(), O_RDONLY);
    dup2(in, 0);
    dup2(out[1], 1);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    char* argv[] = {const_cast<char*>(KVO_SERVER_BINARY), nullptr};
    execve(KVO_SERVER_BINARY, argv, envp.data());
    _exit(127);
  }
  close(out[1]);
  Outcome o;
  auto deadline = Clock::now() + limit;
  char buffer[65536];
  for (;;) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) {
      o.ended = true;
      break;
    }
    o.output.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  if (!o.ended) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  o.exitedNormally = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return o;
}

TEST(HostileRequests, EveryActionAnswersAndEnds) {
  TempDir top;
  const std::string drives = top.path() + "/drives", cwd = top.path() + "/cwd";
  std::filesystem::create_directories(drives + "/C/KVO/KVO.Net/Logs");
  std::filesystem::create_directories(cwd);
  std::mt19937 random(99);
  std::string garbage(4096, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  const std::string markup = "%3Cscript%3Ealert(1)%3C%2Fscript%3E";
  const std::string fields[] = {"q",    "db",      "u",     "p",  "z",    "arquivo", "file",
                                "nome", "usuario", "senha", "id", "site", "tabela",  "path"};
  auto every = [&](const std::string& value) {
    std::string body;
    for (const auto& f : fields) body += f + "=" + value + "&";
    return body;
  };

  struct Case {
    const char* what;
    std::string query, body, contentLength, pathSuffix;
    bool badEncoding = false;
  } cases[] = {
      {"malformed percent-encoding", "a=%4", every("%zz%4"), "", "", true},
      {"lying large CONTENT_LENGTH", "", every("x"), "2147483647", ""},
      {"huge CONTENT_LENGTH", "", every("x"), "99999999999999999999", ""},
      {"negative CONTENT_LENGTH", "", every("x"), "-5", ""},
      {"NUL bytes in fields", "a=%00b", every("a%00b"), "", ""},
      {"dot-dot in fields", "", every("..%5C..%5C..%5C..%5Cetc%5Cpasswd"), "", ""},
      {"dot-dot in the path", "", every("x"), "", "/../../../../etc/passwd"},
      {"very long field", "", "q=" + std::string(1 << 20, 'A') + "&", "", ""},
      {"very long query string", std::string(100000, 'B') + "=1", "", "", ""},
      {"binary garbage body", "", garbage, "", ""},
      {"markup in every field", "a=" + markup, every(markup), "", ""},
  };
  for (const Action& action : kActions) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string("/") + action.name + ": " + c.what);
      std::map<std::string, std::string> env = {
          {"REQUEST_METHOD", "POST"},
          {"SERVER_PROTOCOL", "HTTP/1.1"},
          {"PATH_INFO", std::string("/") + action.name + c.pathSuffix},
          {"QUERY_STRING", c.query},
          {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
          {"CONTENT_LENGTH",
           c.contentLength.empty() ? std::to_string(c.body.size()) : c.contentLength},
          {"REMOTE_HOST", "client.example"},
          {"REMOTE_ADDR", "10.1.2.3"},
          {"KVO_DRIVES", drives},
      };
      Outcome o = RunProgram(env, c.body, cwd, std::chrono::seconds(30));
      ASSERT_TRUE(o.ended) << "hangs";
      EXPECT_TRUE(o.exitedNormally) << "crashed: " << o.output.substr(0, 300);
      // A path no action handles gets no output at all; every other one a whole answer.
      const std::string a = action.name;
      const bool handled =
          c.pathSuffix.empty() && a != "loginx" && a != "abrirwebmodulo" && a != "nosuchaction";
      if (handled) {
        EXPECT_NE(std::string::npos, o.output.find("\r\n\r\n")) << o.output.substr(0, 300);
      } else {
        EXPECT_EQ("", o.output);
      }
      if (handled && c.badEncoding) {
        const std::string expected = action.decodingAnswer;
        if (expected.empty()) {
          EXPECT_EQ(std::string::npos, o.output.find("at position")) << o.output;
        } else {
          EXPECT_NE(std::string::npos, o.output.find(expected)) << o.output;
        }
      }
      if (!action.showsDatabaseMessage) {
        EXPECT_EQ(std::string::npos, o.output.find("<script>")) << "markup echoed";
      }
      EXPECT_EQ(std::string::npos, o.output.find("root:x:0:0")) << "read outside the drives";
      // Nothing written outside the drive folder (the current directory stays empty).
      EXPECT_TRUE(std::filesystem::is_empty(cwd));
    }
  }
}

}  // namespace
}  // namespace kvo::testing
