// /config end to end: the two client kinds, variant sections, defaults, integer keys, and the
// scrambler that carries the answer.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "configfiles/scramble.h"
#include "configfiles/text_lines.h"
#include "tests/support/cgi_runner.h"

namespace kvo::config {
namespace {

TEST(ScrambleText, IsItsOwnInverseAndKeepsEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (uint32_t key : {0u, 1u, 0x4Bu, 0xFFu, 0x1234u}) {
    const std::string once = ScrambleText(all, key);
    ASSERT_EQ(once.size(), all.size());
    EXPECT_EQ(ScrambleText(once, key), all) << "key " << key;
    for (int b = 0; b < 256; ++b)
      ASSERT_EQ(static_cast<uint8_t>(once[b]), static_cast<uint8_t>((key & 0xFF) - 1 - b))
          << "key " << key << " byte " << b;
  }
  EXPECT_EQ(ScrambleText("", kScrambleKey), "");
  // Only the low byte of the key counts.
  EXPECT_EQ(ScrambleText("abc", 0x14B), ScrambleText("abc", 0x4B));
}

class ConfigAction : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KVO_DRIVES", drives.path().c_str(), 1); }
  void TearDown() override { unsetenv("KVO_DRIVES"); }

  void WriteConfig(const std::string& text, bool intranet = false) {
    testing::WriteFile(drives.path() + "/C/KVO/KVO.Net/Config/KVO." +
                           (intranet ? "Intranet" : "Extranet") + ".Config",
                       text);
  }
  // The unscrambled body of /config with `query`, as the clients read it.
  std::string Get(const std::string& query, const std::string& remoteHost = "10.0.0.1") {
    auto r = testing::RunCgi({{"REQUEST_METHOD", "GET"},
                              {"SERVER_PROTOCOL", "HTTP/1.1"},
                              {"PATH_INFO", "/config"},
                              {"QUERY_STRING", query},
                              {"REMOTE_HOST", remoteHost}});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output.substr(0, 15), "Status: 200 OK\r") << r.output;
    EXPECT_NE(r.Head().find("Content-Type: text/html\r\n"), std::string::npos) << r.Head();
    return ScrambleText(r.Body(), kScrambleKey);
  }
  testing::TempDir drives;
};

const char* const kMobileNames[] = {
    "URLBase",    "URLUpdate",    "URLImagens", "RemotePath",    "RemoteUser",
    "RemotePass", "URLAjuda",     "EMailDe",    "EmailNome",     "EmailHost",
    "EmailSenha", "EmailUsuario", "MatrizDB",   "MatrizUsuario", "MatrizSenha",
    "FTPHost",    "FTPUser",      "FTPSenha",   "FTPPorta",      "TipoProc",
    "ChatHost",   "ChatPorta",    "SuporteDB",  "SuporteUser",   "SuportePass"};

std::string MobileDefaults() {
  std::string out;
  for (const char* name : kMobileNames)
    out += std::string(name) + "=" +
           (std::string(name) == "FTPPorta" || std::string(name) == "ChatPorta" ? "0" : "") +
           "\r\n";
  return out;
}

TEST_F(ConfigAction, WithoutConfigurationFileServesDefaults) {
  EXPECT_EQ(Get(""), MobileDefaults());
  EXPECT_EQ(Get("app=AppMobile&l=2"), MobileDefaults());
  const std::string net = Get("app=AppNet");
  const TextLines lines = SplitLines(net);
  ASSERT_EQ(lines.size(), 11u) << net;
  const std::vector<std::string> expected = {"URLBase=",          "URLUpdate=",  "Atualizacao=",
                                             "DBSuporte=",        "RDPServer=",  "RDPUser=Suporte",
                                             "RDPPass=Lorvendi7", "RDPDrives=0", "RDPPrinters=1",
                                             "RDPPorts=0",        "RDPCards=0"};
  for (size_t i = 0; i < lines.size(); ++i) {
    if (expected[i].back() == '=')
      EXPECT_EQ(lines[i].rfind(expected[i], 0), 0u) << lines[i];
    else
      EXPECT_EQ(lines[i], expected[i]);
  }
  EXPECT_NE(lines[0].find("/kvo.net"), std::string::npos);
  EXPECT_NE(lines[1].find("/kvo.net.kvoupdate/"), std::string::npos);
  EXPECT_EQ(lines[2].substr(12), lines[1].substr(10));  // Atualizacao defaults to URLUpdate's
  EXPECT_EQ(net.substr(net.size() - 2), "\r\n");
}

TEST_F(ConfigAction, MobileKeysInOrderWithIntegers) {
  // Section and keys in other letter case, blanks around a value, an empty value.
  std::string file = "[KVO.MOBILE]\r\n";
  for (const char* name : kMobileNames) {
    std::string n = name;
    if (n == "FTPPorta")
      file += "ftpporta = 0x15 \r\n";
    else if (n == "ChatPorta")
      file += "CHATPORTA=-7\r\n";
    else if (n == "EmailSenha")
      file += "EmailSenha=\r\n";
    else
      file += n + "=v " + n + "\r\n";
  }
  WriteConfig(file);
  std::string expected;
  for (const char* name : kMobileNames) {
    std::string n = name;
    expected += n + "=" +
                (n == "FTPPorta"     ? "21"
                 : n == "ChatPorta"  ? "-7"
                 : n == "EmailSenha" ? ""
                                     : "v " + n) +
                "\r\n";
  }
  EXPECT_EQ(Get(""), expected);
  EXPECT_EQ(Get("app=+AppMobile%09"), expected);
}

TEST_F(ConfigAction, IntegerKeysThatAreNotNumbers) {
  struct Case {
    const char* value;
    const char* served;
  } cases[] = {{"21", "21"}, {"0x15", "21"}, {"abc", "0"},
               {"", "0"},    {"True", "0"},  {"99999999999", "0"}};
  for (const auto& c : cases) {
    WriteConfig(std::string("[KVO.Mobile]\nFTPPorta=") + c.value + "\n");
    const TextLines lines = SplitLines(Get("app=AppMobile"));
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[18], std::string("FTPPorta=") + c.served) << "value " << c.value;
  }
}

TEST_F(ConfigAction, VariantSectionsAndClientKinds) {
  WriteConfig(
      "[KVO.Mobile]\nURLBase=plain\n"
      "[KVO.Mobile.2]\nURLBase=two\n"
      "[KVO.Mobile. 2]\nURLBase=blank-two\n"
      "[KVO.Net]\nURLBase=net\nRDPPrinters=\n");
  struct Case {
    const char* query;
    const char* firstLine;  // empty: no lines at all
  } cases[] = {
      {"", "URLBase=plain"},
      {"l=2", "URLBase=two"},
      {"l=+++", "URLBase=plain"},         // blanks only: the plain section
      {"l=+2", "URLBase=blank-two"},      // the value as sent, blank included
      {"l=3", "URLBase="},                // a variant does not inherit from the plain section
      {"app=AppNet&l=2", "URLBase=net"},  // the variant is ignored for the desktop client
      {"app=+AppNet+", "URLBase=net"},
      {"app=appmobile", ""},
      {"app=Other", ""},
  };
  for (const auto& c : cases) {
    const std::string body = Get(c.query);
    if (*c.firstLine == 0) {
      EXPECT_EQ(body, "") << c.query;
      continue;
    }
    const TextLines lines = SplitLines(body);
    ASSERT_FALSE(lines.empty()) << c.query;
    EXPECT_EQ(lines[0], c.firstLine) << c.query;
  }
  // A present empty value is served empty even where the default is not.
  EXPECT_NE(Get("app=AppNet").find("\r\nRDPPrinters=\r\n"), std::string::npos);
}

TEST_F(ConfigAction, IntranetCallersReadTheIntranetFile) {
  WriteConfig("[KVO.Net]\nRDPUser=outside\n");
  WriteConfig("[KVO.Net]\nRDPUser=inside\n", true);
  EXPECT_NE(Get("app=AppNet", "192.168.254.17").find("RDPUser=inside\r\n"), std::string::npos);
  EXPECT_NE(Get("app=AppNet", "192.168.25.4").find("RDPUser=outside\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kvo::config
