// The attach parameters the program builds for a caller's login: the database or services name
// and the "name=value" lines, through fb::Attachment::Open and fb::ServiceManager::Open, against
// a Firebird server of the run's own. A fault here can end the server process (a user name it
// cannot keep did), so the target fails when the server is gone after an input.
//
// Input: line 1 "d" (database) or "s" (services), line 2 the database path under the server's
// data folder (ignored for services), rest the parameter lines. For services, the lines'
// user_name and password are the login.
//
// Environment: KVO_FUZZ_FB_PORT and KVO_FUZZ_FB_PID (the server; fuzz/run-attach starts one).
// Without them (the ctest replay), only the checks made before anything is sent run.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fb/fb.h"
#include "fuzz/fuzz_support.h"

namespace {

const intptr_t kConnectionRejected = 335544421;  // isc_connect_reject

bool ServerRuns(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string p, name, state;
  return static_cast<bool>(stat >> p >> name >> state) && state != "Z" && state != "X";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* port = std::getenv("KVO_FUZZ_FB_PORT");
  static const char* pid = std::getenv("KVO_FUZZ_FB_PID");
  std::string_view rest = kvo::fuzz::AsText(data, size);
  const bool services = kvo::fuzz::TakeLine(rest) == "s";
  const std::string path(kvo::fuzz::TakeLine(rest));
  std::vector<std::string> lines;
  while (!rest.empty()) lines.emplace_back(kvo::fuzz::TakeLine(rest));

  std::string user, password;
  try {
    for (const kvo::fb::ConnectionParam& p : kvo::fb::ParseConnectionParams(lines, false)) {
      if (p.name == kvo::fb::ConnectionParam::UserName) user = p.value;
      if (p.name == kvo::fb::ConnectionParam::Password) password = p.value;
    }
  } catch (const kvo::Error&) {
  }
  if (!port || !pid) {
    (void)kvo::fb::UserNameFitsServer(user);
    return 0;
  }
  // An earlier input may have hurt the server without a sign; this one then takes the blame.
  if (!ServerRuns(pid)) __builtin_trap();
  bool rejected = false;
  try {
    const std::string server = std::string("localhost/") + port + ":";
    if (services)
      kvo::fb::ServiceManager::Open(server + "service_mgr", user, password, true).Detach();
    else
      kvo::fb::Attachment::Open(server + path, lines, true).Close();
  } catch (const kvo::fb::Error& e) {
    // "connection rejected by remote interface": the server's worker failed on the attach, and
    // the process ends a moment later.
    for (intptr_t code : e.codes()) rejected = rejected || code == kConnectionRejected;
  } catch (const kvo::Error&) {
  }
  for (int i = 0; rejected && i < 50 && ServerRuns(pid); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (!ServerRuns(pid)) __builtin_trap();
  return 0;
}
