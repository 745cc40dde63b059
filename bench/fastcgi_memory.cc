// Memory of one FastCGI process over many mixed requests: the program started as spawn-fcgi
// starts it, driven directly over its socket (no web server in between), with one-row and
// larger /sql selects in both forms, failing statements and logins, /script, /config, /site and
// /info. Prints the resident set size and the open files after 1,000 requests and after the
// last one; the goal is a growth within 10 %. Needs the private Firebird server of
// scripts/dev-services.
//   kvo_fastcgi_memory [--requests N]      (100000 by default)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/fastcgi_client.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace {

long ResidentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

long OpenFiles(pid_t pid) {
  long n = 0;
  for ([[maybe_unused]] const auto& e :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
    ++n;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  long total = 100000;
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--requests") && i + 1 < argc) total = std::atol(argv[++i]);
  for (const char* v : {"KVO_FB_PORT", "KVO_FB_USER", "KVO_FB_PASSWORD", "KVO_FB_DATADIR"}) {
    if (!std::getenv(v)) {
      std::fprintf(stderr, "%s is not set: start scripts/dev-services first\n", v);
      return 2;
    }
  }
  using kvo::testing::Form;
  using kvo::testing::RequestParams;
  kvo::testing::TempDir drives;
  kvo::testing::WriteFile(drives.path() + "/C/KVO/KVO.Net/Config/KVO.Extranet.Config",
                          "[KVO.Net]\r\nURLBase=http://extranet.example\r\n");
  kvo::testing::TempDatabase db;
  db.Execute(std::vector<std::string>{
      "create table t (id integer primary key, name varchar(40), amount numeric(15,2))",
      "execute block as declare i integer = 0; begin while (i < 200) do begin "
      "insert into t values (:i, 'linha ' || :i, :i * 1.25); i = i + 1; end end"});

  struct Mixed {
    std::string method, path, query, body;
  };
  auto sql = [&](const std::string& q, const char* z, const std::string& password) {
    return Form({{"db", db.connection()}, {"u", db.user()}, {"p", password}, {"q", q}, {"z", z}});
  };
  const std::vector<Mixed> mix = {
      {"POST", "/sql", "", sql("select * from t where id = 1", "false", db.password())},
      {"POST", "/sql", "", sql("select * from t", "true", db.password())},
      {"POST", "/sql", "", sql("select * from t", "false", db.password())},
      {"POST", "/sql", "", sql("select * from nada", "false", db.password())},
      {"GET", "/script", "", ""},
      {"GET", "/config", "app=AppNet", ""},
      {"GET", "/site", "loja=Mercado&usuario=Ana", ""},
      {"GET", "/info", "d=Geral", ""},
      {"POST", "/login", "",
       Form({{"db", db.connection()}, {"u", db.user()}, {"p", db.password()}})},
  };

  kvo::testing::FastCgiProcess process({{"KVO_DRIVES", drives.path()}}, drives.path());
  long rssAt1000 = -1, filesAt1000 = -1, failures = 0;
  const auto start = std::chrono::steady_clock::now();
  // A wrong password now and then: the Firebird server delays every failed login by seconds
  // once one address fails more than a few times in a short while.
  const Mixed wrongPassword = {"POST", "/sql", "",
                               sql("select * from t where id = 2", "false", db.password() + "x")};
  for (long i = 1; i <= total; ++i) {
    const Mixed& m = i % 997 == 0 ? wrongPassword : mix[static_cast<size_t>(i) % mix.size()];
    const kvo::testing::CgiResult r =
        process.Request(RequestParams(m.method, m.path, drives.path(), m.body, m.query), m.body);
    if (r.exitCode != 0 || r.output.rfind("Status: ", 0) != 0) ++failures;
    if (i == 1000) {
      rssAt1000 = ResidentKilobytes(process.pid());
      filesAt1000 = OpenFiles(process.pid());
    }
    if (i % 10000 == 0) {
      std::printf("  %7ld requests: RSS %ld kB, %ld open files\n", i,
                  ResidentKilobytes(process.pid()), OpenFiles(process.pid()));
      std::fflush(stdout);
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long rssEnd = ResidentKilobytes(process.pid());
  const long filesEnd = OpenFiles(process.pid());
  std::printf("one FastCGI process, %ld mixed requests in %.1f s (%.0f/s), %ld without an answer\n",
              total, seconds, total / seconds, failures);
  std::printf("  after 1,000 requests:   RSS %6ld kB, %ld open files\n", rssAt1000, filesAt1000);
  std::printf("  after %ld requests: RSS %6ld kB, %ld open files\n", total, rssEnd, filesEnd);
  if (rssAt1000 > 0)
    std::printf("  RSS growth %.1f %% (goal within 10 %%)\n",
                100.0 * (rssEnd - rssAt1000) / rssAt1000);
  return failures ? 1 : 0;
}
