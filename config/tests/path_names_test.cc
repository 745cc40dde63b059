// Paths in another case, with trailing dots and blanks, through the real program: the version
// of a named file, the information pages, the module list, and the configuration keys that
// hold paths. The installation's own folders are spelled unlike the program's fixed paths.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "configfiles/scramble.h"
#include "configfiles/text_lines.h"
#include "tests/support/cgi_runner.h"
#include "tests/support/form.h"

namespace kvo::config {
namespace {

using testing::FormEncode;

std::string Fixture(const std::string& name) {
  return testing::ReadFile(std::string(KVO_PE_FIXTURES) + "/" + name + ".dll");
}

class PathNames : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KVO_DRIVES", drives_.c_str(), 1);
    Put("kvo/kvo.net/bin/KVO.EXE", Fixture("pt_i686"));
    Put("kvo/DUP/APP.EXE", Fixture("en_i686"));
    Put("kvo/DUP/app.exe", Fixture("lower_i686"));
    Put("kvo/Web/Info/Geral/index.HTML", "<p>geral</p>");
    Put("kvo/kvo.net/M\xC3\xB3"
        "dulos/Leia-me.txt",
        "");
    testing::WriteFile(root_.path() + "/secret.exe", Fixture("first_x86_64"));
    Put("kvo/kvo.net/CONFIG/kvo.EXTRANET.config",
        "[kvo.NET]\n"
        "Executavel=c:\\KVO\\KVO.NET\\BIN\\kvo.exe. \n"
        "PathInfo=C:\\KVO\\WEB\\INFO\\\n"
        "PathModulos=c:\\kvo\\KVO.NET\\m\xF3"
        "dulos\n"
        "LisModules=C:\\KVO\\KVO.NET\\config\\Lista.LM\n"
        "[KVO.Mobile.S\xC3O]\n"
        "URLBase=http://sao\n");
  }
  void TearDown() override { unsetenv("KVO_DRIVES"); }
  void Put(const std::string& relative, const std::string& bytes) {
    testing::WriteFile(drives_ + "/C/" + relative, bytes);
  }
  std::string Get(const std::string& path, const std::string& query = "") {
    auto r = testing::RunCgi(
        {{"PATH_INFO", path}, {"SERVER_PROTOCOL", "HTTP/1.1"}, {"QUERY_STRING", query}});
    EXPECT_EQ(r.output.substr(0, 16), "Status: 200 OK\r\n") << path << "?" << query;
    return r.Body();
  }

  testing::TempDir root_;
  const std::string drives_ = root_.path() + "/drives";
};

TEST_F(PathNames, VersionOfANamedFile) {
  struct Case {
    std::string f;
    std::string version;
  } cases[] = {
      {"c:\\kvo\\kvo.net\\bin\\kvo.exe", "3.1.4.1 (vers\xE3o)"},
      {"C:\\KVO\\KVO.NET\\BIN\\KVO.EXE", "3.1.4.1 (vers\xE3o)"},
      {"C:\\KVO\\KVO.NET\\BIN\\KVO.EXE.", "3.1.4.1 (vers\xE3o)"},
      {"C:\\KVO\\KVO.NET\\BIN\\KVO.EXE ", "3.1.4.1 (vers\xE3o)"},
      {"C:\\KVO\\KVO.NET\\BIN.\\..\\bin \\KVO.EXE", "3.1.4.1 (vers\xE3o)"},
      {"c:/kvo/kvo.net/bin/kvo.exe", "3.1.4.1 (vers\xE3o)"},
      // Two names that differ only in case: the exact one, else the first in byte order.
      {"C:\\kvo\\dup\\app.exe", "4.0.0.1"},
      {"C:\\kvo\\dup\\APP.EXE", " 10, 2, 0, 7 "},
      {"C:\\kvo\\dup\\App.Exe", " 10, 2, 0, 7 "},
      // Nothing above the drive folder, however it is spelled.
      {"C:\\..\\secret.exe", ""},
      {"C:\\..\\..\\SECRET.EXE", ""},
      {"C:\\.. \\..\\secret.exe", ""},
      {"C:\\...\\..\\..\\secret.exe", ""},
      {"C:\\. .\\..\\..\\Secret.Exe.", ""},
      {"C:\\kvo\\..\\..\\..\\secret.exe", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Get("/versaoarquivo", "f=" + FormEncode(c.f)), c.version) << c.f;
  // The configured executable, a path in other letters with a trailing dot and blank.
  EXPECT_EQ(Get("/versaokvo"), "3.1.4.1 (vers\xE3o)");
}

TEST_F(PathNames, InformationPages) {
  struct Case {
    std::string d;
    bool found;
  } cases[] = {
      {"Geral", true},
      {"geral", true},
      {"GERAL.", true},
      {"geral ", true},
      {"..", false},
      {".. ", false},
      {"...", false},
      {". .", false},
      {"..\\Info\\geral", false},
      {"... \\..\\geral", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Get("/info", "d=" + FormEncode(c.d)),
              c.found ? "<p>geral</p>" : "NENHUMA INFORMACAO DISPONIVEL")
        << c.d;
}

TEST_F(PathNames, ModuleListAndSettings) {
  const std::string lines =
      "c:\\kvo\\KVO.NET\\m\xF3"
      "dulos\\Leia-me.txt|Leia-me.txt|0|0\r\n";
  EXPECT_EQ(ScrambleText(Get("/listakvomodulos"), kScrambleKey), lines);
  // The list is saved under the name written, inside the folder that exists in another case.
  EXPECT_EQ(testing::ReadFile(drives_ + "/C/kvo/kvo.net/CONFIG/Lista.LM"), lines);
  EXPECT_FALSE(std::filesystem::exists(drives_ + "/C/KVO"));
  EXPECT_EQ(ScrambleText(Get("/listakvomodulos"), kScrambleKey), lines);

  const TextLines settings =
      SplitLines(ScrambleText(Get("/config", "l=" + FormEncode("s\xE3o")), kScrambleKey));
  ASSERT_FALSE(settings.empty());
  EXPECT_EQ(settings[0], "URLBase=http://sao");
}

}  // namespace
}  // namespace kvo::config
