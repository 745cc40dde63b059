// A memory failure inside an action reads "Out of memory", as one outside dispatch does.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/cgi_runner.h"

namespace kvo::app {
namespace {

// Runs the program under an address-space limit (restored afterwards in this process).
testing::CgiResult RunLimited(rlim_t bytes, const std::map<std::string, std::string>& env) {
  rlimit old{};
  getrlimit(RLIMIT_AS, &old);
  rlimit limited = old;
  limited.rlim_cur = bytes;
  setrlimit(RLIMIT_AS, &limited);
  testing::CgiResult r = testing::RunCgi(env);
  setrlimit(RLIMIT_AS, &old);
  return r;
}

TEST(OutOfMemory, InsideAnActionTheMessageIsOutOfMemory) {
  if (testing::kAddressSanitizer) GTEST_SKIP() << "no address-space limit under the sanitizer";
  testing::TempDir drives;
  // A list file that claims 4 GB without taking any disk.
  const std::string list = drives.path() + "/C/KVO/KVO.Net/Config/RDP.Modules";
  testing::WriteFile(list, "");
  ASSERT_EQ(truncate(list.c_str(), off_t{4} << 30), 0);
  auto r = RunLimited(rlim_t{1} << 30, {{"REQUEST_METHOD", "GET"},
                                        {"SERVER_PROTOCOL", "HTTP/1.1"},
                                        {"PATH_INFO", "/rdptools"},
                                        {"KVO_DRIVES", drives.path()}});
  EXPECT_EQ(r.output.rfind("Status: 500", 0), 0u) << r.output;
  EXPECT_NE(r.output.find("Out of memory"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("bad_alloc"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace kvo::app
