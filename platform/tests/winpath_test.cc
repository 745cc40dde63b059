// The mapping of Windows paths onto this file system.
#include "platform/winpath.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/files.h"
#include "tests/support/cgi_runner.h"

namespace kvo::platform {
namespace {

class PathLayer : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KVO_DRIVES", dir.path().c_str(), 1); }
  void TearDown() override { unsetenv("KVO_DRIVES"); }
  testing::TempDir dir;
};

TEST_F(PathLayer, HostPaths) {
  const std::string d = dir.path();
  struct Case {
    std::string windows;
    std::string host;
  } cases[] = {
      {"C:\\KVO\\KVO.Net\\Config\\KVO.LM", d + "/C/KVO/KVO.Net/Config/KVO.LM"},
      {"c:\\x", d + "/C/x"},
      {"D:/site/vendas\\Index.html", d + "/D/site/vendas/Index.html"},
      {"\\tabela.txt", d + "/C/tabela.txt"},
      {"C:\\KVO\\KVO.Net\\M\xF3"
       "dulos",
       d + "/C/KVO/KVO.Net/M\xC3\xB3"
           "dulos"},
      {"C:\\a\\..\\..\\..\\etc\\passwd", d + "/C/etc/passwd"},
      {"C:\\a\\.\\b\\\\c\\", d + "/C/a/b/c"},
      {"PathInfo\\vendas\\Index.html", "./PathInfo/vendas/Index.html"},
      {"..\\..\\x", "./x"},
      {"a.\\b \\c. .", "./a/b/c"},
      {"C:", d + "/C"},
  };
  for (const auto& c : cases) EXPECT_EQ(HostPath(c.windows), c.host) << c.windows;
  EXPECT_EQ(HostPath(std::string("C:\\a\0b", 6)), std::nullopt);
}

// Names are found as Windows finds them: the exact spelling when it exists, else one that
// differs only in case (Windows-1252 letters included), trailing dots and blanks ignored; a
// missing name keeps the spelling written.
TEST_F(PathLayer, NamesFoundWithoutRegardToCase) {
  const std::string d = dir.path();
  for (const char* f : {"/C/KVO/KVO.Net/Bin/kvo.exe",
                        "/C/KVO/KVO.Net/M\xC3\xB3"
                        "dulos/Vendas.dll",
                        "/C/info/Geral/Index.html", "/C/dup/GERAL/x", "/C/dup/Geral/x",
                        "/C/dup/geral/x", "/C/S\xC3\x83O/\xC3\x9F.txt", "/C/dots/.../x"})
    testing::WriteFile(d + f, "");
  struct Case {
    std::string windows;
    std::string host;
  } cases[] = {
      {"C:\\KVO\\KVO.NET\\BIN\\KVO.EXE", d + "/C/KVO/KVO.Net/Bin/kvo.exe"},
      {"c:\\kvo\\kvo.net\\bin\\kvo.exe", d + "/C/KVO/KVO.Net/Bin/kvo.exe"},
      {"c:\\kvo\\kvo.net\\bin\\kvo.exe.", d + "/C/KVO/KVO.Net/Bin/kvo.exe"},
      {"c:\\kvo\\kvo.net\\bin\\kvo.exe ", d + "/C/KVO/KVO.Net/Bin/kvo.exe"},
      {"c:\\kvo. \\kvo.net..\\bin\\kvo.exe . ", d + "/C/KVO/KVO.Net/Bin/kvo.exe"},
      {"C:\\KVO\\KVO.NET\\M\xD3"
       "DULOS\\VENDAS.DLL",
       d + "/C/KVO/KVO.Net/M\xC3\xB3"
           "dulos/Vendas.dll"},
      {"C:\\s\xE3o\\\xDF.TXT", d + "/C/S\xC3\x83O/\xC3\x9F.txt"},
      {"info\\geral\\index.html", "./info/Geral/Index.html"},
      // Several spellings exist: the exact one wins, else the first in byte order.
      {"C:\\dup\\geral", d + "/C/dup/geral"},
      {"C:\\dup\\Geral", d + "/C/dup/Geral"},
      {"C:\\dup\\gERAL", d + "/C/dup/GERAL"},
      // Missing names keep the program's spelling, inside folders found without case.
      {"C:\\kvo\\KVO.NET\\Logs\\Log.txt", d + "/C/KVO/KVO.Net/Logs/Log.txt"},
      {"C:\\kvo\\Novo.txt.", d + "/C/KVO/Novo.txt"},
      // "\xDF" has no other case: "SS" is another name.
      {"C:\\s\xE3o\\SS.TXT", d + "/C/S\xC3\x83O/SS.TXT"},
      // Dots and blanks alone never become "." or "..": they stay plain names.
      {"C:\\KVO\\.. \\x", d + "/C/KVO/.. /x"},
      {"C:\\KVO\\...\\..\\x", d + "/C/KVO/x"},
      {"C:\\KVO\\. .\\x", d + "/C/KVO/. ./x"},
      {"C:\\dots\\...\\X", d + "/C/dots/.../x"},
      {"C:\\..\\..\\..\\KVO", d + "/C/KVO"},
      {"C:\\kvo\\..\\..\\d\\x", d + "/C/d/x"},
  };
  char old[4096];
  ASSERT_TRUE(getcwd(old, sizeof old));
  ASSERT_EQ(chdir((d + "/C").c_str()), 0);
  for (const auto& c : cases) EXPECT_EQ(HostPath(c.windows), c.host) << c.windows;
  ASSERT_EQ(chdir(old), 0);
  EXPECT_EQ(ReadWholeFile("C:\\INFO\\GERAL\\INDEX.HTML."), "");
  EXPECT_TRUE(FileExists("c:\\kvo\\kvo.net\\bin\\KVO.EXE"));
  EXPECT_TRUE(
      DirectoryExists("C:\\kvo\\kvo.net\\m\xF3"
                      "dulos"));
}

// Nothing outside the drive folders is reached, whatever case or dots the path is written in.
TEST_F(PathLayer, NoSpellingLeavesTheDrives) {
  const std::string drives = dir.path() + "/drives";
  setenv("KVO_DRIVES", drives.c_str(), 1);
  testing::WriteFile(dir.path() + "/secret.txt", "secret");
  testing::WriteFile(drives + "/C/keep", "");
  testing::WriteFile(drives + "/D/keep", "");
  for (const char* path : {"C:\\..\\secret.txt", "C:\\..\\..\\SECRET.TXT", "C:\\.. \\secret.txt",
                           "C:\\... \\..\\..\\secret.txt", "C:\\. .\\..\\secret.txt",
                           "C:\\..\\D\\..\\..\\secret.txt", "c:/../../secret.txt."}) {
    const auto host = HostPath(path);
    ASSERT_TRUE(host) << path;
    EXPECT_EQ(host->rfind(drives + "/C/", 0), 0u) << path << " -> " << *host;
    EXPECT_THROW(ReadWholeFile(path), Error) << path;
  }
}

// A name created after its folder was listed is found in another case, as is a folder that
// replaced another of the same name.
TEST_F(PathLayer, ListingsFollowTheFolder) {
  const std::string d = dir.path();
  testing::WriteFile(d + "/C/t/keep", "");
  EXPECT_EQ(HostPath("C:\\t\\A.TXT"), d + "/C/t/A.TXT");
  testing::WriteFile(d + "/C/t/a.txt", "1");
  EXPECT_EQ(HostPath("C:\\t\\A.TXT"), d + "/C/t/a.txt");
  EXPECT_EQ(ReadWholeFile("C:\\T\\A.TXT"), "1");
  // A file the program replaces in another case keeps its existing name.
  WriteWholeFile("C:\\T\\A.TXT", "2");
  EXPECT_EQ(testing::ReadFile(d + "/C/t/a.txt"), "2");
  EXPECT_EQ(HostPath("C:\\t\\B.TXT"), d + "/C/t/B.TXT");
  testing::WriteFile(d + "/C/t/b.txt", "");
  EXPECT_EQ(HostPath("C:\\t\\B.TXT"), d + "/C/t/b.txt");
}

TEST_F(PathLayer, DefaultRoot) {
  unsetenv("KVO_DRIVES");
  EXPECT_EQ(HostPath("C:\\x"), "/var/lib/kvo/drives/C/x");
}

TEST_F(PathLayer, WindowsFormsForMessages) {
  EXPECT_EQ(WindowsFullPath("C:\\a\\..\\b.txt"), "C:\\b.txt");
  EXPECT_EQ(WindowsFullPath("\\tabela.txt"), "C:\\tabela.txt");
  EXPECT_EQ(WindowsPathOf(dir.path() + "/C/KVO/M\xC3\xB3"
                                       "dulos"),
            "C:\\KVO\\M\xF3"
            "dulos");
  EXPECT_EQ(WindowsPathOf(dir.path() + "/D"), "D:\\");
  // A relative path is completed with the current directory in its Windows form.
  testing::WriteFile(dir.path() + "/C/work/keep", "");
  char old[4096];
  ASSERT_TRUE(getcwd(old, sizeof old));
  ASSERT_EQ(chdir((dir.path() + "/C/work").c_str()), 0);
  EXPECT_EQ(WindowsFullPath("PathInfo\\x\\Index.html"), "C:\\work\\PathInfo\\x\\Index.html");
  ASSERT_EQ(chdir(old), 0);
}

TEST_F(PathLayer, FileMessagesNameTheWindowsPath) {
  try {
    ReadWholeFile("C:\\KVO\\missing.txt");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"C:\\KVO\\missing.txt\". No such file or directory");
  }
  try {
    ReadWholeFile(std::string("C:\\KVO\\a\0.txt", 13));
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"C:\\KVO\\a\". Invalid argument");
  }
  try {
    WriteWholeFile("C:\\no\\such\\folder\\f.txt", "x");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"C:\\no\\such\\folder\\f.txt\". No such file or directory");
  }
}

// Whatever a configuration or a request names, reading it neither blocks nor streams without
// end: only regular files (also through a link) are read.
TEST_F(PathLayer, OnlyRegularFilesAreRead) {
  testing::WriteFile(dir.path() + "/C/f/regular.txt", "text");
  std::filesystem::create_symlink("regular.txt", dir.path() + "/C/f/link.txt");
  std::filesystem::create_symlink("/dev/zero", dir.path() + "/C/f/zero.txt");
  std::filesystem::create_symlink("/dev/null", dir.path() + "/C/f/null.txt");
  ASSERT_EQ(mkfifo((dir.path() + "/C/f/fifo.txt").c_str(), 0666), 0);
  struct Case {
    const char* name;
    std::string result;
  } cases[] = {
      {"regular.txt", "text"},
      {"link.txt", "text"},
      {"fifo.txt", "Cannot open file \"C:\\f\\fifo.txt\". Not a regular file"},
      {"zero.txt", "Cannot open file \"C:\\f\\zero.txt\". Not a regular file"},
      {"null.txt", "Cannot open file \"C:\\f\\null.txt\". Not a regular file"},
  };
  for (const auto& c : cases) {
    std::string result;
    try {
      result = ReadWholeFile(std::string("C:\\f\\") + c.name);
    } catch (const Error& e) {
      result = e.what();
      EXPECT_EQ(e.kind(), "EFOpenError");
    }
    EXPECT_EQ(result, c.result) << c.name;
  }
}

TEST_F(PathLayer, FilesRoundTripThroughMappedNames) {
  testing::WriteFile(dir.path() + "/C/keep", "");
  WriteWholeFile(
      "C:\\"
      "\xC7"
      "a\xE7"
      "a.txt",
      std::string("a\0b", 3));
  EXPECT_TRUE(
      FileExists("c:\\\xC7"
                 "a\xE7"
                 "a.txt"));
  EXPECT_EQ(testing::ReadFile(dir.path() + "/C/\xC3\x87"
                                           "a\xC3\xA7"
                                           "a.txt"),
            std::string("a\0b", 3));
  EXPECT_EQ(ReadWholeFile("C:\\\xC7"
                          "a\xE7"
                          "a.txt"),
            std::string("a\0b", 3));
  EXPECT_FALSE(FileExists("C:\\"));
  EXPECT_TRUE(DirectoryExists("C:\\"));
  try {
    ReadWholeFile("C:\\");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"C:\\\". Is a directory");
  }
}

TEST(CodePage, RoundTripsAndReplacements) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(Utf8ToCp1252("\xE4\xB8\xAD"), "?");  // a CJK character
  EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");        // broken UTF-8
  EXPECT_EQ(Utf16ToCp1252(u"Jos\u00E9 \u20AC"), "Jos\xE9 \x80");
  EXPECT_EQ(Utf16ToCp1252(u"\u0141\u00F3d\u017A"),
            "L\xF3"
            "dz");  // look-alikes
  EXPECT_EQ(Utf16ToCp1252(u"\u4E2D"), "?");
  EXPECT_EQ(Utf16ToCp1252(u"\u0141", false), "?");
  EXPECT_EQ(Cp1252ToUtf16("\xE9\x80"), u"\u00E9\u20AC");
}

// Every byte of a sequence that is not the shortest UTF-8 of a character becomes "?", so an
// encoded dot or separator never comes back as one.
TEST(CodePage, BrokenUtf8BecomesOneQuestionMarkPerByte) {
  struct Case {
    std::string utf8, cp1252;
  } cases[] = {
      {"\xC0\xAE", "??"},                // overlong "."
      {"\xC1\x9C", "??"},                // overlong "\\"
      {"a\xC0\xAFz", "a??z"},            // overlong "/"
      {"\xE0\x80\xAE", "???"},           // three-byte overlong "."
      {"\xF0\x80\x80\xAE", "????"},      // four-byte overlong "."
      {"\xED\xA0\x80", "???"},           // a surrogate
      {"\xF4\x90\x80\x80", "????"},      // beyond U+10FFFF
      {"\xC2\xA0\xC3\xA9", "\xA0\xE9"},  // the shortest forms stay
      {"\xE2\x82\xAC", "\x80"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252) << c.utf8;
}

}  // namespace
}  // namespace kvo::platform
