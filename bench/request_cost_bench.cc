// What the per-request settings cost a one-row /sql: FastCGI processes of the program (no web
// server between, so that a few microseconds would show) answer the same select with
//   - no [Server] key of the kind (the reference),
//   - MaxStatementSeconds=60 (the watchdog armed and disarmed by every request),
//   - MetricsFolder set (the host's metrics file updated by every request),
//   - both.
// The variants take turns, one request each, so that all see the same machine load; prints the
// median and mean of each and its ratio to the reference (goal: within noise, about 1.00-1.05).
//   kvo_request_cost_bench [--requests N]   (per variant, default 2000)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/fastcgi_client.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace {

using Clock = std::chrono::steady_clock;
using kvo::testing::FastCgiProcess;

struct Variant {
  const char* name;
  std::string settings;  // lines of the [Server] section
  std::unique_ptr<kvo::testing::TempDir> drives;
  std::unique_ptr<FastCgiProcess> process;
  std::vector<double> micros;
};

}  // namespace

int main(int argc, char** argv) {
  int requests = 2000;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--requests") == 0) requests = std::atoi(argv[i + 1]);
  }
  if (!kvo::testing::Env("KVO_FB_PORT")) {
    std::fprintf(stderr, "start scripts/dev-services first (KVO_FB_PORT is not set)\n");
    return 2;
  }
  kvo::testing::TempDatabase db;
  db.Execute(std::vector<std::string>{"create table t (id integer, s varchar(20))",
                                      "insert into t values (1, 'one')"});
  std::vector<Variant> variants;
  variants.push_back({"reference (neither)", "", nullptr, nullptr, {}});
  variants.push_back(
      {"MaxStatementSeconds=60", "MaxStatementSeconds=60\r\n", nullptr, nullptr, {}});
  variants.push_back({"MetricsFolder", "MetricsFolder=C:\\KVO\\Metrics\r\n", nullptr, nullptr, {}});
  variants.push_back({"both",
                      "MaxStatementSeconds=60\r\nMetricsFolder=C:\\KVO\\Metrics\r\n",
                      nullptr,
                      nullptr,
                      {}});
  const std::string body = kvo::testing::Form({{"db", db.connection()},
                                               {"u", db.user()},
                                               {"p", db.password()},
                                               {"z", "false"},
                                               {"q", "select * from t where id = 1"}});
  for (Variant& v : variants) {
    v.drives = std::make_unique<kvo::testing::TempDir>();
    const std::string root = v.drives->path();
    kvo::testing::WriteFile(root + "/C/KVO/KVO.Net/Logs/Log.txt", "");
    kvo::testing::WriteFile(root + "/C/KVO/Metrics/.keep", "");
    kvo::testing::WriteFile(root + "/C/KVO/KVO.Net/Config/KVO.Server.Config",
                            "[Server]\r\nLogCopies=1\r\n" + v.settings);
    v.process = std::make_unique<FastCgiProcess>(kvo::testing::Params{{"KVO_DRIVES", root}}, root);
    v.micros.reserve(requests);
  }
  // Warm-up: attachments kept, files created, pages touched.
  for (int i = 0; i < 50; ++i) {
    for (Variant& v : variants)
      v.process->Request(kvo::testing::RequestParams("POST", "/sql", v.drives->path(), body), body);
  }
  for (int i = 0; i < requests; ++i) {
    for (Variant& v : variants) {
      const auto params = kvo::testing::RequestParams("POST", "/sql", v.drives->path(), body);
      const auto start = Clock::now();
      const kvo::testing::CgiResult r = v.process->Request(params, body);
      v.micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      if (r.Body().find("ROW ID=\"1\"") == std::string::npos) {
        std::fprintf(stderr, "%s: unexpected answer: %.300s\n", v.name, r.Body().c_str());
        return 1;
      }
    }
  }
  std::printf("one-row /sql through FastCGI, %d requests per variant, taking turns\n", requests);
  double referenceMedian = 0, referenceMean = 0;
  for (Variant& v : variants) {
    std::sort(v.micros.begin(), v.micros.end());
    const double median = v.micros[v.micros.size() / 2];
    double mean = 0;
    for (double m : v.micros) mean += m;
    mean /= static_cast<double>(v.micros.size());
    if (referenceMedian == 0) {
      referenceMedian = median;
      referenceMean = mean;
    }
    std::printf("  %-24s median %8.1f us  mean %8.1f us  ratio %.3f (mean %.3f)\n", v.name, median,
                mean, median / referenceMedian, mean / referenceMean);
  }
  return 0;
}
