// The statement log's cost per request against the size of the log: a request's entries
// appended to a 1 MB log and to a 200 MB one (a single huge statement, as a failed 200 MB
// statement leaves it), measured in the same run and printed as a ratio (1.00: the size does
// not matter). Two figures: the log's own work (StatementLog::Save in this process, as /sql
// does it at the end of a request) and whole /sql requests of the built program (with the
// private Firebird server of scripts/dev-services; skipped without it).
// Usage: kvo_log_bench [--runs N]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "configfiles/paths.h"
#include "dataservice/statement_log.h"
#include "tests/support/cgi_runner.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// A log of `bytes` bytes: one stamped entry of that size, as a huge statement is logged.
void MakeLog(const std::string& path, size_t bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::string head = "01/01/2020 00:00:00 - insert into t values ('";
  out << head;
  std::string block(1 << 20, 'x');
  size_t left = bytes - head.size() - 5;
  while (left > 0) {
    size_t n = std::min(left, block.size());
    out.write(block.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
  out << "')\r\n";
  out.close();
  // The file's own write-back must not be charged to the first flushed appends.
  ::sync();
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 15;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));

  kvo::testing::TempDir drives;
  setenv("KVO_DRIVES", drives.path().c_str(), 1);
  const std::string log = drives.path() + "/C/KVO/KVO.Net/Logs/Log.txt";
  const size_t sizes[] = {size_t{1} << 20, size_t{200} << 20};

  // The log's own work per request, alternating the two sizes so that both see the same load.
  std::vector<double> save[2];
  for (int round = 0; round < 2; ++round) {
    for (int s = 0; s < 2; ++s) {
      MakeLog(log, sizes[s]);
      // The first request after somebody else wrote the log counts its lines once.
      {
        kvo::dataservice::StatementLog first(kvo::config::kStatementLog);
        first.Add("select 1 from rdb$database");
        first.Save();
      }
      for (int r = 0; r < runs; ++r) {
        kvo::dataservice::StatementLog entries(kvo::config::kStatementLog);
        entries.Add("select " + std::to_string(r) + " from rdb$database");
        auto t0 = Clock::now();
        entries.Save();
        if (round == 1) save[s].push_back(std::chrono::duration<double>(Clock::now() - t0).count());
      }
    }
  }
  std::printf(
      "statement log append, median of %d: 1 MB log %.3f ms, 200 MB log %.3f ms, "
      "ratio 200 MB / 1 MB %.2f (target about 1)\n",
      runs, Median(save[0]) * 1e3, Median(save[1]) * 1e3, Median(save[1]) / Median(save[0]));

  for (const char* name : {"KVO_FB_PORT", "KVO_FB_USER", "KVO_FB_PASSWORD", "KVO_FB_DATADIR"}) {
    if (!std::getenv(name)) {
      std::printf("whole /sql requests skipped: %s is not set (scripts/dev-services)\n", name);
      return 0;
    }
  }
  kvo::testing::TempDatabase db;
  const std::string body = kvo::testing::Form({{"z", "false"},
                                               {"db", db.connection()},
                                               {"u", db.user()},
                                               {"p", db.password()},
                                               {"q", "select 1 from rdb$database"}});
  // In blocks per size, each after one request that finds the new file and counts it, twice
  // over so that both sizes see the same load.
  std::vector<double> request[2];
  for (int round = 0; round < 2; ++round) {
    for (int s = 0; s < 2; ++s) {
      MakeLog(log, sizes[s]);
      kvo::testing::PostCgi("/sql", body, {{"KVO_DRIVES", drives.path()}});
      for (int r = 0; r < runs; ++r) {
        auto t0 = Clock::now();
        kvo::testing::PostCgi("/sql", body, {{"KVO_DRIVES", drives.path()}});
        request[s].push_back(std::chrono::duration<double>(Clock::now() - t0).count());
      }
    }
  }
  std::printf(
      "whole /sql request, median of %d: 1 MB log %.1f ms, 200 MB log %.1f ms, "
      "ratio 200 MB / 1 MB %.2f (target about 1)\n",
      2 * runs, Median(request[0]) * 1e3, Median(request[1]) * 1e3,
      Median(request[1]) / Median(request[0]));
  return 0;
}
