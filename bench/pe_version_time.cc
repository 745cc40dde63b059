// Time of /versaoarquivo (no login needed) for a hostile PE file of 64 MB (65535 sections, the
// resource section last, 131070 root resource entries), against the same request for a missing
// file in the same run: prints both medians and their ratio.
// Usage: kvo_bench_pe_version [RUNS] (5 by default)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/support/cgi_runner.h"
#include "tests/support/hostile_pe.h"

namespace {

double MedianSeconds(const std::string& drives, const char* file, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    kvo::testing::RunCgi({{"REQUEST_METHOD", "GET"},
                          {"SERVER_PROTOCOL", "HTTP/1.1"},
                          {"PATH_INFO", "/versaoarquivo"},
                          {"QUERY_STRING", std::string("f=") + file},
                          {"KVO_DRIVES", drives}});
    times.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  kvo::testing::TempDir drives;
  kvo::testing::WriteFile(drives.path() + "/C/tabela.txt", kvo::testing::HostilePe(64u << 20));
  const double missing = MedianSeconds(drives.path(), "C:\\missing.txt", runs);
  const double hostile = MedianSeconds(drives.path(), "C:\\tabela.txt", runs);
  std::printf("/versaoarquivo, missing file: %.4f s (median of %d)\n", missing, runs);
  std::printf("/versaoarquivo, hostile 64 MB file: %.4f s (median of %d), %.1fx the missing file\n",
              hostile, runs, hostile / missing);
  return 0;
}
