#include "tests/support/own_firebird.h"

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace kvo::testing {

namespace {

// Runs a bash script with the services' functions loaded; returns its standard output and
// standard error, and whether it succeeded.
bool RunServicesScript(const std::string& script, std::string& output) {
  const std::string command =
      "bash -c '. \"" KVO_SOURCE_ROOT "/scripts/lib/services.sh\" && " + script + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return false;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe.get())) > 0) output.append(buf, n);
  return pclose(pipe.release()) == 0;
}

}  // namespace

OwnFirebird::OwnFirebird() {
  std::string out;
  const std::string script = "fb_start " + dir_.path() +
                             " && echo \"port=$FB_PORT\" && echo \"password=$FB_PASSWORD\" && "
                             "echo \"client=$FB_CLIENT\" && echo \"data=$FB_DATADIR\"";
  const bool started = RunServicesScript(script, out);
  std::map<std::string, std::string> values;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (auto eq = line.find('='); eq != std::string::npos)
      values[line.substr(0, eq)] = line.substr(eq + 1);
  port_ = values["port"];
  password_ = values["password"];
  client_ = values["client"];
  data_ = values["data"];
  std::ifstream pidFile(dir_.path() + "/fb/server/firebird.pid");
  pidFile >> pid_;
  if (!started || port_.empty() || pid_ <= 0)
    throw std::runtime_error("the test's own Firebird server did not start: " + out);
}

OwnFirebird::~OwnFirebird() {
  std::string out;
  RunServicesScript("fb_stop " + dir_.path(), out);
}

std::string OwnFirebird::Database(const std::string& file) const {
  return "localhost/" + port_ + ":" + data_ + "/" + file;
}

bool OwnFirebird::Running() const {
  std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
  std::string pid, name, state;
  if (!(stat >> pid >> name >> state)) return false;
  return state != "Z" && state != "X";
}

bool OwnFirebird::EndsWithin(double seconds) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (Running()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

}  // namespace kvo::testing
