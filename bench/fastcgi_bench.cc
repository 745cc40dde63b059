// Requests per second and latency through lighttpd (the stack of scripts/dev-services): the
// program as a CGI process (/kvo) against its FastCGI mode (/kvofcgi) without and with
// attachment reuse (the server settings file's KeepAttachments, read by every request), for a
// one-row /sql and for /script, at several concurrencies. All runs happen in one invocation so
// that they see the same machine; prints every figure and the ratios with their goals.
//   kvo_fastcgi_bench [--seconds S] [--concurrency 1,8,32]
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace {

using Clock = std::chrono::steady_clock;

size_t Collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

struct Request {
  std::string url;
  std::string body;      // POST when not empty
  std::string expected;  // a text the answer must hold; empty: an empty 200 answer
};

struct Result {
  double perSecond = 0, p50 = 0, p99 = 0;
  long errors = 0, count = 0;
};

// Each of `concurrency` threads sends `request` over its own kept-alive connection for
// `seconds` (after a short warm-up that is not counted).
Result Measure(const Request& request, int concurrency, double seconds) {
  std::vector<std::vector<double>> latencies(concurrency);
  std::atomic<long> errors{0};
  std::atomic<bool> counting{false}, stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < concurrency; ++t) {
    threads.emplace_back([&, t] {
      CURL* curl = curl_easy_init();
      std::string answer;
      curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
      curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
      curl_easy_setopt(curl, CURLOPT_PROXY, "");
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
      if (!request.body.empty()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.body.size()));
      }
      while (!stop) {
        answer.clear();
        const auto start = Clock::now();
        const CURLcode code = curl_easy_perform(curl);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        const bool ok = code == CURLE_OK && status == 200 &&
                        (request.expected.empty() ? answer.empty()
                                                  : answer.find(request.expected) != std::string::npos);
        if (counting) {
          latencies[t].push_back(ms);
          if (!ok) ++errors;
        }
      }
      curl_easy_cleanup(curl);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto start = Clock::now();
  counting = true;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  counting = false;
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  stop = true;
  for (auto& th : threads) th.join();
  std::vector<double> all;
  for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
  std::sort(all.begin(), all.end());
  Result r;
  r.count = static_cast<long>(all.size());
  r.errors = errors;
  r.perSecond = all.size() / elapsed;
  if (!all.empty()) {
    r.p50 = all[all.size() / 2];
    r.p99 = all[std::min(all.size() - 1, all.size() * 99 / 100)];
  }
  return r;
}

const char* Need(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) {
    std::fprintf(stderr, "%s is not set: start scripts/dev-services first\n", name);
    std::exit(2);
  }
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3;
  std::vector<int> concurrencies = {1, 8, 32};
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (!std::strcmp(argv[i], "--concurrency") && i + 1 < argc) {
      concurrencies.clear();
      for (char* p = std::strtok(argv[++i], ","); p; p = std::strtok(nullptr, ","))
        concurrencies.push_back(std::atoi(p));
    }
  }
  const std::string cgiUrl = Need("KVO_HTTP_URL_CGI");
  const std::string fcgiUrl = Need("KVO_HTTP_URL_FASTCGI");
  const std::string drives = Need("KVO_HTTP_DRIVES");
  curl_global_init(CURL_GLOBAL_DEFAULT);

  kvo::testing::TempDatabase db;
  db.Execute(std::vector<std::string>{"create table t (id integer primary key, name varchar(40), amount numeric(15,2))",
              "insert into t values (1, 'um', 10.50)"});

  // The server settings file decides reuse for every request; the original comes back at the end.
  const std::string settings = drives + "/C/KVO/KVO.Net/Config/KVO.Server.Config";
  const bool hadSettings = std::filesystem::exists(settings);
  const std::string original = hadSettings ? kvo::testing::ReadFile(settings) : "";
  auto keep = [&](bool on) {
    kvo::testing::WriteFile(settings, std::string("[Server]\r\nKeepAttachments=") +
                                          (on ? "1" : "0") + "\r\n");
  };

  const std::string sqlBody = kvo::testing::Form({{"db", db.connection()},
                                                  {"u", db.user()},
                                                  {"p", db.password()},
                                                  {"q", "select * from t where id = 1"},
                                                  {"z", "false"}});
  struct Mode {
    const char* name;
    std::string base;
    bool reuse;
  } modes[] = {{"CGI", cgiUrl, false},
               {"FastCGI, no reuse", fcgiUrl, false},
               {"FastCGI, reuse", fcgiUrl, true}};
  struct Kind {
    const char* name;
    std::string path, body, expected;
  } kinds[] = {{"one-row /sql", "/kvowebserver.exe/sql", sqlBody, "<ROW ID=\"1\""},
               {"/script", "/kvowebserver.exe/script", "", ""}};

  std::map<std::string, Result> results;
  std::printf("%-18s %-13s %5s %10s %9s %9s %7s\n", "mode", "request", "conc", "req/s", "p50 ms",
              "p99 ms", "errors");
  bool failed = false;
  for (const Kind& k : kinds) {
    for (const Mode& m : modes) {
      keep(m.reuse);
      for (int c : concurrencies) {
        const Result r = Measure({m.base + k.path, k.body, k.expected}, c, seconds);
        results[std::string(m.name) + "|" + k.name + "|" + std::to_string(c)] = r;
        std::printf("%-18s %-13s %5d %10.1f %9.1f %9.1f %7ld\n", m.name, k.name, c, r.perSecond,
                    r.p50, r.p99, r.errors);
        std::fflush(stdout);
        if (r.errors) failed = true;
      }
    }
  }
  if (hadSettings)
    kvo::testing::WriteFile(settings, original);
  else
    std::filesystem::remove(settings);

  auto at = [&](const char* mode, const char* kind, int c) -> const Result* {
    auto it = results.find(std::string(mode) + "|" + kind + "|" + std::to_string(c));
    return it == results.end() ? nullptr : &it->second;
  };
  std::printf("\nratios at concurrency 8 (goals of the shipped defaults):\n");
  const Result* cgiSql = at("CGI", "one-row /sql", 8);
  const Result* plainSql = at("FastCGI, no reuse", "one-row /sql", 8);
  const Result* reuseSql = at("FastCGI, reuse", "one-row /sql", 8);
  const Result* cgiScript = at("CGI", "/script", 8);
  const Result* fcgiScript = at("FastCGI, reuse", "/script", 8);
  if (cgiSql && plainSql && reuseSql && cgiScript && fcgiScript) {
    std::printf("  one-row /sql, FastCGI with reuse / CGI      %6.1fx  (goal >= 8)\n",
                reuseSql->perSecond / cgiSql->perSecond);
    std::printf("  one-row /sql, FastCGI without reuse / CGI   %6.1fx  (goal >= 2)\n",
                plainSql->perSecond / cgiSql->perSecond);
    std::printf("  /script, FastCGI / CGI                      %6.1fx  (goal >= 10)\n",
                fcgiScript->perSecond / cgiScript->perSecond);
    std::printf("  one-row /sql p99, FastCGI with reuse        %6.1f ms (goal <= 50)\n",
                reuseSql->p99);
  } else {
    std::printf("  (run with concurrency 8 to see them)\n");
  }
  if (failed) std::printf("\nSOME ANSWERS WERE WRONG (errors column)\n");
  curl_global_cleanup();
  return failed ? 1 : 0;
}
