// The FastCGI processes that lighttpd starts (the /kvofcgi folder of the test environment):
// their own environment holds the settings the web server gives them and nothing of a request.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/cgi_runner.h"
#include "tests/support/http_client.h"
#include "tests/support/processes.h"

namespace kvo::testing {
namespace {

std::string ProcFile(pid_t pid, const char* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(FastCgiE2e, ProcessesTakeOnlyTheirSettingsFromTheEnvironment) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL_FASTCGI");
  KVO_REQUIRE_ENV(drives, "KVO_HTTP_DRIVES");
  KVO_REQUIRE_ENV(firebird, "FIREBIRD");
  ASSERT_EQ(HttpGet(ActionUrl(base, "kvowebserver.exe", "/script")).status, 200);
  std::vector<pid_t> servers;
  for (pid_t pid : ProcessesWith("KVO_DRIVES=" + drives + '\0')) {
    const std::string command = ProcFile(pid, "cmdline");
    if (command.find("kvowebserver.exe") != std::string::npos &&
        ProcFile(pid, "environ").find("REQUEST_METHOD=") == std::string::npos)
      servers.push_back(pid);
  }
  ASSERT_FALSE(servers.empty()) << "no FastCGI process runs for " << drives;
  for (pid_t pid : servers) {
    SCOPED_TRACE(pid);
    const std::string env = '\0' + ProcFile(pid, "environ");
    EXPECT_NE(env.find(std::string("\0FIREBIRD=", 10) + firebird + '\0'), std::string::npos);
    for (const char* requestVariable : {"PATH_INFO=", "QUERY_STRING=", "REMOTE_HOST=", "HTTP_"})
      EXPECT_EQ(env.find(std::string(1, '\0') + requestVariable), std::string::npos)
          << requestVariable;
  }
}

}  // namespace
}  // namespace kvo::testing
