// The server settings file: defaults when missing, each key's reading rule.
#include "configfiles/server_settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "tests/support/cgi_runner.h"

namespace kvo::config {
namespace {

class ServerSettingsFile : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KVO_DRIVES", dir.path().c_str(), 1); }
  void TearDown() override { unsetenv("KVO_DRIVES"); }
  void Write(const std::string& bytes) {
    testing::WriteFile(dir.path() + "/C/KVO/KVO.Net/Config/KVO.Server.Config", bytes);
  }
  testing::TempDir dir;
};

TEST_F(ServerSettingsFile, MissingFileKeepsTodaysBehaviour) {
  ServerSettings s = ServerSettings::Read();
  EXPECT_FALSE(s.AllowedDatabases);
  EXPECT_FALSE(s.MaxPacketBytes);
  EXPECT_TRUE(s.KeepAttachments);
  EXPECT_FALSE(s.KeepAttachmentsRefused);
  EXPECT_EQ(s.KeepAttachmentsSeconds, 30);
  EXPECT_EQ(s.KeepAttachmentsMaxSeconds, 10);
  EXPECT_EQ(s.MaxConcurrentLogins, 2);
  EXPECT_EQ(s.MaxStatementSeconds, 0);
  EXPECT_FALSE(s.MetricsFolder);
}

TEST_F(ServerSettingsFile, ReadsEachKey) {
  Write(
      "[server]\r\nAllowedDatabases = kvodemo; localhost:/data/*.fdb \r\n"
      "MaxPacketBytes=5000000000\r\nKeepAttachments=0\r\nKeepAttachmentsSeconds=5\r\n"
      "KeepAttachmentsMaxSeconds=3\r\nMaxConcurrentLogins=0\r\nMaxStatementSeconds=45\r\n"
      "MetricsFolder = /var/lib/prometheus/node-exporter \r\n");
  ServerSettings s = ServerSettings::Read();
  ASSERT_TRUE(s.AllowedDatabases);
  EXPECT_EQ(*s.AllowedDatabases, "kvodemo; localhost:/data/*.fdb");
  EXPECT_EQ(s.MaxPacketBytes, std::optional<uint64_t>(5000000000u));
  EXPECT_FALSE(s.KeepAttachments);
  EXPECT_EQ(s.KeepAttachmentsSeconds, 5);
  EXPECT_EQ(s.KeepAttachmentsMaxSeconds, 3);
  EXPECT_EQ(s.MaxConcurrentLogins, 0);
  EXPECT_EQ(s.MaxStatementSeconds, 45);
  EXPECT_EQ(s.MetricsFolder, std::optional<std::string>("/var/lib/prometheus/node-exporter"));
}

// The switch takes the usual spellings of yes and no; anything else turns reuse off and is
// reported, never read as "on".
TEST_F(ServerSettingsFile, KeepAttachmentsSpellings) {
  const struct {
    const char* value;
    bool keep;
    bool refused;
  } kCases[] = {
      {"1", true, false},     {"true", true, false},   {" Yes ", true, false},
      {"ON", true, false},    {"0", false, false},     {"false", false, false},
      {"No", false, false},   {"off\t", false, false}, {"2", false, true},
      {"-1", false, true},    {"ja", false, true},     {"", false, true},
      {"truex", false, true}, {"o", false, true},
  };
  for (const auto& c : kCases) {
    Write(std::string("[Server]\r\nKeepAttachments=") + c.value + "\r\n");
    ServerSettings s = ServerSettings::Read();
    EXPECT_EQ(s.KeepAttachments, c.keep) << "'" << c.value << "'";
    EXPECT_EQ(s.KeepAttachmentsRefused.has_value(), c.refused) << "'" << c.value << "'";
    EXPECT_EQ(s.KeepAttachmentsRefused.value_or("(none)"), c.refused ? c.value : "(none)");
  }
}

// A request sees one reading however often it asks; the next request sees the file as it is.
TEST_F(ServerSettingsFile, OneReadingPerRequest) {
  Write("[Server]\r\nKeepAttachments=0\r\n");
  {
    const ServerSettings::RequestScope request;
    EXPECT_FALSE(ServerSettings::Read().KeepAttachments);
    Write("[Server]\r\nKeepAttachments=1\r\n");
    EXPECT_FALSE(ServerSettings::Read().KeepAttachments);
    {
      const ServerSettings::RequestScope inner;
      EXPECT_FALSE(ServerSettings::Read().KeepAttachments);
    }
    EXPECT_FALSE(ServerSettings::Read().KeepAttachments);
  }
  EXPECT_TRUE(ServerSettings::Read().KeepAttachments);
  const ServerSettings::RequestScope next;
  EXPECT_TRUE(ServerSettings::Read().KeepAttachments);
}

TEST_F(ServerSettingsFile, UnreadableSizesMeanNoLimit) {
  for (const char* value : {"", "0", "-1", "12x", "abc"}) {
    Write(std::string("[Server]\nMaxPacketBytes=") + value + "\nAllowedDatabases=\n");
    ServerSettings s = ServerSettings::Read();
    EXPECT_FALSE(s.MaxPacketBytes) << value;
    // A present empty list allows nothing; only a missing key allows everything.
    ASSERT_TRUE(s.AllowedDatabases) << value;
    EXPECT_EQ(*s.AllowedDatabases, "");
  }
}

}  // namespace
}  // namespace kvo::config
