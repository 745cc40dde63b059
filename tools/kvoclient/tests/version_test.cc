// kvoclient --version: the version of the build, the same that the library reports and the
// packages carry.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "kvo/client/classes.h"
#include "tools/kvoclient/kvoclient.h"

namespace kvo::kvoclient {
namespace {

TEST(KvoclientVersion, PrintsTheBuildsVersion) {
  // With other options and without a command too: --version answers before anything is checked.
  const std::vector<std::vector<const char*>> cases = {
      {"kvoclient", "--version"}, {"kvoclient", "--url", "http://x", "--version"}};
  for (const auto& args : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(RunKvoClient(static_cast<int>(args.size()), args.data(), out, err), 0) << args.size();
    EXPECT_EQ(out.str(), std::string("kvoclient ") + client::LibraryVersion() + "\n");
    EXPECT_EQ(err.str(), "");
  }
  // A release, and for a build from a checkout the commit's UTC time and name, which dpkg
  // orders by time.
  EXPECT_TRUE(std::regex_match(
      client::LibraryVersion(),
      std::regex(R"([0-9]+\.[0-9]+\.[0-9]+(\+git[0-9]{8}\.[0-9]{6}\.[0-9a-f]+)?)")))
      << client::LibraryVersion();
}

}  // namespace
}  // namespace kvo::kvoclient
