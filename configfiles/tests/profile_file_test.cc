// The INI reading rules and text-file lines.
#include "configfiles/profile_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "configfiles/text_lines.h"
#include "platform/error.h"
#include "tests/support/cgi_runner.h"

namespace kvo::config {
namespace {

class ConfigFiles : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KVO_DRIVES", dir.path().c_str(), 1); }
  void TearDown() override { unsetenv("KVO_DRIVES"); }
  void Write(const std::string& bytes) { testing::WriteFile(dir.path() + "/C/k.ini", bytes); }
  testing::TempDir dir;
  TProfileFile ini{"C:\\k.ini"};
};

TEST_F(ConfigFiles, MissingFileGivesDefaults) {
  EXPECT_EQ(ini.ReadText("KVO.Net", "RDPPrinters", "1"), "1");
  EXPECT_EQ(ini.ReadNumber("KVO.Mobile", "FTPPorta", 0), 0);
  EXPECT_TRUE(ini.ReadFlag("General", "x", true));
}

// A configuration file that is a FIFO or a device reads as missing, at once.
TEST_F(ConfigFiles, ANonRegularFileGivesDefaults) {
  std::filesystem::create_directories(dir.path() + "/C");
  ASSERT_EQ(mkfifo((dir.path() + "/C/k.ini").c_str(), 0666), 0);
  EXPECT_EQ(ini.ReadText("KVO.Net", "RDPPrinters", "1"), "1");
  std::filesystem::remove(dir.path() + "/C/k.ini");
  std::filesystem::create_symlink("/dev/zero", dir.path() + "/C/k.ini");
  EXPECT_EQ(ini.ReadNumber("KVO.Mobile", "FTPPorta", 7), 7);
}

TEST_F(ConfigFiles, TextRules) {
  Write(
      "; comment\r\n[kvo.net]\r\nexecutavel = C:\\a b\\kvo.exe  \r\nRDPPrinters=\r\n"
      "Long=" +
      std::string(3000, 'x') + "\n[Other]\nExecutavel=other\n[KVO.NET]\nDup=2\n");
  EXPECT_EQ(ini.ReadText("KVO.Net", "Executavel", "d"), "C:\\a b\\kvo.exe");
  EXPECT_EQ(ini.ReadText("KVO.Net", "RDPPrinters", "1"), "");
  EXPECT_EQ(ini.ReadText("KVO.Net", "Long", "").size(), 2047u);
  EXPECT_EQ(ini.ReadText("KVO.Net", "Missing", "def"), "def");
  EXPECT_EQ(ini.ReadText("Other", "EXECUTAVEL", ""), "other");
  EXPECT_EQ(ini.ReadText("Nope", "Executavel", "d"), "d");
}

// A plain reader sees each change of the file; a snapshot keeps what the file held when it was
// made, a missing file included, so its keys always come from one version of the file.
TEST_F(ConfigFiles, SnapshotKeepsOneVersion) {
  const TProfileFile before = TProfileFile::Snapshot("C:\\k.ini");
  Write("[S]\r\nA=1\r\nB=1\r\n");
  const TProfileFile first = TProfileFile::Snapshot("C:\\k.ini");
  Write("[S]\r\nA=2\r\nB=2\r\n");
  EXPECT_EQ(before.ReadNumber("S", "A", 9), 9);
  EXPECT_EQ(first.ReadNumber("S", "A", 9), 1);
  EXPECT_EQ(first.ReadText("s", "b", ""), "1");
  EXPECT_EQ(ini.ReadNumber("S", "A", 9), 2);
  EXPECT_EQ(TProfileFile::Snapshot("C:\\k.ini").ReadNumber("S", "B", 9), 2);
}

// Section and key names compare with the letter case of file names, accented letters included.
TEST_F(ConfigFiles, NamesWithoutRegardToCase) {
  Write(
      "[KVO.Mobile.S\xC3O]\nCidade=SP\n[Op\xC7\xD5"
      "ES]\nA\xC7\xC3O=1\n[\xDF]\nx=sharp\n");
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"KVO.Mobile.s\xE3o", "cidade", "SP"},
      {"kvo.mobile.S\xC3O", "CIDADE", "SP"},
      {"op\xE7\xF5"
       "es",
       "a\xE7\xE3o", "1"},
      {"KVO.Mobile.SAO", "Cidade", "-"},
      {"SS", "x", "-"},
      {"\xDF", "X", "sharp"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ini.ReadText(c.section, c.key, "-"), c.expected) << c.section << " " << c.key;
}

// The file itself is found as the path layer finds names.
TEST_F(ConfigFiles, FileNameWithoutRegardToCase) {
  testing::WriteFile(dir.path() + "/C/KVO/Config/KVO.Extranet.Config", "[KVO.Net]\nA=1\n");
  EXPECT_EQ(TProfileFile("C:\\kvo\\CONFIG\\kvo.extranet.config.").ReadText("kvo.net", "a", ""),
            "1");
}

TEST_F(ConfigFiles, Numbers) {
  struct Case {
    const char* value;
    int32_t expected;
  } cases[] = {{"21", 21},
               {"0x15", 21},
               {"0X1f", 31},
               {"$15", 21},
               {"-5", -5},
               {"+7", 7},
               {"abc", 0},
               {"", 0},
               {"2147483647", 2147483647},
               {"2147483648", 0},
               {"-2147483648", INT32_MIN},
               {"0x", 0},
               {"12abc", 0},
               {"0x7FFFFFFF", INT32_MAX},
               {"0x80000000", 0},
               {"True", 0},
               {"1.5", 0}};
  for (const auto& c : cases) {
    Write(std::string("[KVO.Mobile]\nFTPPorta=") + c.value + "\n");
    EXPECT_EQ(ini.ReadNumber("KVO.Mobile", "FTPPorta", 0), c.expected) << c.value;
  }
}

TEST_F(ConfigFiles, Flags) {
  struct Case {
    const char* value;
    bool def, expected;
  } cases[] = {{"1", false, true},   {"0", true, false}, {"True", false, false},
               {"True", true, true}, {"2", false, true}, {"", true, true}};
  for (const auto& c : cases) {
    Write(std::string("[General]\nWebServerActive=") + c.value + "\n");
    EXPECT_EQ(ini.ReadFlag("General", "WebServerActive", c.def), c.expected) << c.value;
  }
}

TEST(TextLines, SplitAndJoin) {
  struct Case {
    std::string bytes;
    TextLines lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\n\rc", {"a", "b", "", "c"}},
      {"a\n\n", {"a", ""}},
      {std::string("a\nb\0c\nd", 7), {"a", "b"}},
      {std::string("\0x", 2), {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLines(c.bytes), c.lines) << c.bytes;
  EXPECT_EQ(JoinLines({"a", "b"}), "a\r\nb\r\n");
  EXPECT_EQ(JoinLines({}), "");
  EXPECT_EQ(JoinLines({""}), "\r\n");
}

TEST_F(ConfigFiles, LoadAndSaveLines) {
  testing::WriteFile(dir.path() + "/C/t/list.txt", "a\nb");
  EXPECT_EQ(LoadLines("C:\\t\\list.txt"), (TextLines{"a", "b"}));
  SaveLines("C:\\t\\out.txt", {"x", "y"});
  EXPECT_EQ(testing::ReadFile(dir.path() + "/C/t/out.txt"), "x\r\ny\r\n");
  EXPECT_THROW(LoadLines("C:\\t\\none.txt"), Error);
  EXPECT_THROW(SaveLines("C:\\none\\out.txt", {}), Error);
}

}  // namespace
}  // namespace kvo::config
