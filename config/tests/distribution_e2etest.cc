// Distribution answers as callers see them through the web server: the scrambled settings
// (bytes of any value), a version text in Windows-1252, and the escaped remote-desktop page.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "configfiles/scramble.h"
#include "configfiles/text_lines.h"
#include "tests/support/cgi_runner.h"
#include "tests/support/http_client.h"

namespace kvo::testing {
namespace {

const char* const kScriptNames[] = {"ikvowebserver.dll", "kvowebserver.exe"};

TEST(DistributionE2e, ScrambledSettings) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  for (const char* script : kScriptNames) {
    SCOPED_TRACE(script);
    HttpResponse r = HttpGet(ActionUrl(base, script, "/config") + "?app=AppNet");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
    const config::TextLines lines =
        config::SplitLines(config::ScrambleText(r.body, config::kScrambleKey));
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0].rfind("URLBase=", 0), 0u);
    EXPECT_EQ(lines[10].rfind("RDPCards=", 0), 0u);
  }
}

TEST(DistributionE2e, VersionOfANamedFile) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  KVO_REQUIRE_ENV(drives, "KVO_HTTP_DRIVES");
  const std::string folder = "distrib-e2e-" + std::to_string(getpid());
  const std::string host = drives + "/C/" + folder;
  WriteFile(host + "/kvo.exe", ReadFile(std::string(KVO_PE_FIXTURES) + "/pt_i686.dll"));
  for (const char* script : kScriptNames) {
    SCOPED_TRACE(script);
    HttpResponse r =
        HttpGet(ActionUrl(base, script, "/versaoarquivo") + "?f=C:%5C" + folder + "%5Ckvo.exe");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "3.1.4.1 (vers\xE3o)");
  }
  std::filesystem::remove_all(host);
}

TEST(DistributionE2e, RemoteDesktopPageEscapesPostedValues) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  for (const char* script : kScriptNames) {
    SCOPED_TRACE(script);
    HttpResponse r = HttpPost(ActionUrl(base, script, "/rdp"),
                              "server_rdp=srv.kvo.local&user_rdp=%3C/script%3E&width_rdp=800x");
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("MsRdpClient.server = \"srv.kvo.local\"; "), std::string::npos);
    EXPECT_NE(r.body.find("MsRdpClient.UserName = \"\\x3C/script\\x3E\"; "), std::string::npos);
    EXPECT_NE(r.body.find("MsRdpClient.Width = ; "), std::string::npos);
    EXPECT_EQ(r.body.find("</script>"), r.body.rfind("</script>"));
  }
}

}  // namespace
}  // namespace kvo::testing
