// Finding the processes a test started, through /proc: a request's program and every process
// it forked carry the request's environment, so a marker placed there (a query string, a
// variable) finds them all, wherever the web server put them.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kvo::testing {

// The processes whose environment holds `marker`.
inline std::vector<pid_t> ProcessesWith(const std::string& marker) {
  std::vector<pid_t> found;
  std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
  if (!proc) return found;
  while (const dirent* e = readdir(proc.get())) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    std::ifstream env(std::string("/proc/") + e->d_name + "/environ", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(env)), std::istreambuf_iterator<char>());
    if (bytes.find(marker) != std::string::npos) found.push_back(std::stoi(e->d_name));
  }
  return found;
}

// True when the test environment's web server runs the program in its FastCGI mode (the second
// pass of scripts/test): a request then has no process of its own to find.
inline bool FastCgiMode() {
  const char* url = std::getenv("KVO_HTTP_URL");
  const char* fastcgi = std::getenv("KVO_HTTP_URL_FASTCGI");
  return url && fastcgi && *fastcgi && std::string(url) == fastcgi;
}

// Waits until no process carries `marker`; false after `limit`.
inline bool AllEnded(const std::string& marker, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ProcessesWith(marker).empty()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

}  // namespace kvo::testing
