// The six version actions end to end, serving the PE fixtures built from .rc sources.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "tests/support/cgi_runner.h"

namespace kvo::config {
namespace {

std::string Fixture(const std::string& name) {
  return testing::ReadFile(std::string(KVO_PE_FIXTURES) + "/" + name + ".dll");
}

class VersionActions : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KVO_DRIVES", drives.path().c_str(), 1); }
  void TearDown() override { unsetenv("KVO_DRIVES"); }
  void Put(const std::string& windowsLikePath, const std::string& bytes) {
    testing::WriteFile(drives.path() + "/C/" + windowsLikePath, bytes);
  }
  void WriteConfig(const std::string& text, bool intranet = false) {
    Put(std::string("KVO/KVO.Net/Config/KVO.") + (intranet ? "Intranet" : "Extranet") + ".Config",
        text);
  }
  // The body of `path`, checking that the answer is an ordinary 200.
  std::string Get(const std::string& path, const std::string& query = "",
                  const std::string& host = "") {
    auto r = testing::RunCgi({{"PATH_INFO", path},
                              {"SERVER_PROTOCOL", "HTTP/1.1"},
                              {"QUERY_STRING", query},
                              {"REMOTE_HOST", host}});
    EXPECT_EQ(r.output.substr(0, 16), "Status: 200 OK\r\n") << path << "?" << query;
    EXPECT_EQ(r.Head().find("Content-Length:") != std::string::npos, !r.Body().empty());
    return r.Body();
  }
  testing::TempDir drives;
};

TEST_F(VersionActions, DesktopExecutableDefaultsToTheFixedPath) {
  EXPECT_EQ(Get("/versaokvo"), "");  // nothing there yet
  Put("KVO/KVO.Net/Bin/kvo.exe", Fixture("pt_x86_64"));
  EXPECT_EQ(Get("/versaokvo"), "3.1.4.1 (vers\xE3o)");
  EXPECT_EQ(Get("/VERSAOKVO"), "3.1.4.1 (vers\xE3o)");
}

TEST_F(VersionActions, EachActionReadsItsOwnKey) {
  Put("Bin/net.exe", Fixture("en_i686"));
  Put("Bin/mobile.exe", Fixture("pt_i686"));
  Put("Bin/mobileupd.exe", Fixture("first_x86_64"));
  Put("Bin/cd.exe", Fixture("lower_i686"));
  Put("Bin/cdupd.exe", Fixture("wide_x86_64"));
  WriteConfig(
      "[kvo.net]\nexecutavel=C:\\Bin\\net.exe\n"
      "[KVO.Mobile]\nExecutavel=C:\\Bin\\mobile.exe\nExecutavelUpdate=C:\\Bin\\mobileupd.exe\n"
      "[KVO.Mobile.2]\nExecutavel=C:\\Bin\\cd.exe\n"
      "[KVO.CD]\nExecutavel=C:\\Bin\\cd.exe\nExecutavelUpdate=C:\\Bin\\cdupd.exe\n");
  struct Case {
    const char* path;
    const char* version;
  } cases[] = {
      {"/versaokvo", " 10, 2, 0, 7 "},         {"/versaokvomobile", "3.1.4.1 (vers\xE3o)"},
      {"/versaokvomobileupdate", "1.0 first"}, {"/versaokvocd", "4.0.0.1"},
      {"/versaokvocdupdate", "1.0\x96L?"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Get(c.path, "l=2&f=C:\\Bin\\net.exe"), c.version) << c.path;
  }
  // The intranet file is another file: there, none of the keys exist.
  WriteConfig("[KVO.Net]\nExecutavel=C:\\Bin\\mobile.exe\n", true);
  EXPECT_EQ(Get("/versaokvo", "", "192.168.254.9"), "3.1.4.1 (vers\xE3o)");
  EXPECT_EQ(Get("/versaokvomobile", "", "192.168.254.9"), "");
  EXPECT_EQ(Get("/versaokvocdupdate", "", "192.168.254.9"), "");
}

TEST_F(VersionActions, FilesWithoutAVersionGiveAnEmptyBody) {
  Put("Bin/other.exe", Fixture("other_x86_64"));
  Put("Bin/notrans.exe", Fixture("notrans_x86_64"));
  Put("Bin/nover.exe", Fixture("nover_x86_64"));
  Put("Bin/nores.exe", Fixture("nores_x86_64"));
  Put("Bin/text.exe", "MZ but nothing else");
  std::string truncated = Fixture("pt_x86_64");
  truncated.resize(truncated.size() / 2);
  Put("Bin/truncated.exe", truncated);
  WriteConfig("[KVO.Net]\nExecutavel=C:\\Bin\\nover.exe\n[KVO.Mobile]\nExecutavel=\n");
  EXPECT_EQ(Get("/versaokvo"), "");
  EXPECT_EQ(Get("/versaokvomobile"), "");  // an empty path
  for (const char* f :
       {"", "C:\\Bin\\other.exe", "C:\\Bin\\notrans.exe", "C:\\Bin\\nores.exe", "C:\\Bin\\text.exe",
        "C:\\Bin\\truncated.exe", "C:\\Bin\\missing.exe", "C:\\Bin", "C:\\Bin\\%00x"})
    EXPECT_EQ(Get("/versaoarquivo", std::string("f=") + f), "") << f;
}

TEST_F(VersionActions, NamedFile) {
  Put("KVO/Arquivos/Sub Pasta/app.exe", Fixture("pt_i686"));
  EXPECT_EQ(Get("/versaoarquivo", "f=C:\\KVO\\Arquivos\\Sub+Pasta\\app.exe"),
            "3.1.4.1 (vers\xE3o)");
  EXPECT_EQ(Get("/versaoarquivo", "f=c%3A%5Ckvo%5C..%5CKVO%5CArquivos%5CSub%20Pasta%5Capp.exe"),
            "3.1.4.1 (vers\xE3o)");
}

}  // namespace
}  // namespace kvo::config
