// The cost of finding a name without regard to case: a deep path whose last folder holds
// 10,000 names, looked up in its exact spelling (the reference), in another spelling at the
// start of a request (each folder of the path listed once), and again within the request.
// Usage: path_lookup [--runs N]
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/winpath.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double MedianMicros(int runs, F&& f) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    f();
    t.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

// One plain listing of a folder: what any case-insensitive lookup must pay at least once.
size_t ListOnce(const std::string& folder) {
  size_t n = 0;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 201;
  if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::max(1, std::atoi(argv[2]));
  char pattern[] = "/tmp/kvo-path-bench.XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::string root = pattern;
  setenv("KVO_DRIVES", root.c_str(), 1);
  const std::string deep = root +
                           "/C/KVO/KVO.Net/M\xC3\xB3"
                           "dulos/Vendas/Relat\xC3\xB3rios/Mensais";
  std::filesystem::create_directories(deep);
  for (int i = 0; i < 10000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/Arquivo%05d.Dat", i);
    std::ofstream(deep + name).put('x');
  }
  const std::string exact =
      "C:\\KVO\\KVO.Net\\M\xF3"
      "dulos\\Vendas\\Relat\xF3rios\\Mensais\\Arquivo05000.Dat";
  const std::string other =
      "c:\\kvo\\kvo.net\\M\xD3"
      "DULOS\\vendas\\RELAT\xD3RIOS\\mensais\\ARQUIVO05000.DAT.";
  const std::string want = deep + "/Arquivo05000.Dat";
  if (kvo::platform::HostPath(other) != want || kvo::platform::HostPath(exact) != want) {
    std::fprintf(stderr, "lookup went wrong\n");
    return 1;
  }

  const double listing = MedianMicros(runs, [&] { ListOnce(deep); });
  const double exactTime = MedianMicros(runs, [&] {
    kvo::platform::ForgetFolderListings();
    (void)kvo::platform::HostPath(exact);
  });
  const double firstTime = MedianMicros(runs, [&] {
    kvo::platform::ForgetFolderListings();
    (void)kvo::platform::HostPath(other);
  });
  kvo::platform::ForgetFolderListings();
  (void)kvo::platform::HostPath(other);
  const double againTime = MedianMicros(runs, [&] { (void)kvo::platform::HostPath(other); });

  std::printf("a path 7 names deep, its last folder holding 10,000 names; medians of %d runs\n",
              runs);
  std::printf("  exact spelling (reference)          %9.1f us\n", exactTime);
  std::printf("  one readdir of the big folder        %9.1f us\n", listing);
  std::printf("  other spelling, first in a request   %9.1f us\n", firstTime);
  std::printf("  other spelling, again in the request %9.1f us\n", againTime);
  std::printf("ratio first / (exact + one readdir)    %9.2f\n", firstTime / (exactTime + listing));
  std::printf("ratio again / exact                    %9.2f\n", againTime / exactTime);
  std::filesystem::remove_all(root);
  return 0;
}
