// The version reader on real PE files built from .rc sources by the MinGW tools (32- and
// 64-bit), checked against an independent reader (wrestool), and on damaged copies of them.
#include "platform/pe_version.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "tests/support/cgi_runner.h"
#include "tests/support/hostile_pe.h"

namespace kvo::platform {
namespace {

std::string Fixture(const std::string& name) {
  return std::string(KVO_PE_FIXTURES) + "/" + name + ".dll";
}

std::string Load(const std::string& name) {
  return testing::ReadFile(Fixture(name));
}

std::string Shell(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return out;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) out.append(buffer.data(), n);
  return out;
}

std::string Utf16(std::string_view ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

struct Good {
  const char* fixture;
  const char* version;          // what the reader answers
  uint16_t language, codePage;  // the first translation, 0/0 when there is none
};

const Good kGood[] = {
    {"pt_x86_64", "3.1.4.1 (vers\xE3o)", 0x0416, 0x04E4},
    {"pt_i686", "3.1.4.1 (vers\xE3o)", 0x0416, 0x04E4},
    {"en_i686", " 10, 2, 0, 7 ", 0x0409, 0x04B0},
    {"en_x86_64", " 10, 2, 0, 7 ", 0x0409, 0x04B0},
    {"first_x86_64", "1.0 first", 0x0409, 0x04B0},
    {"lower_i686", "4.0.0.1", 0x0416, 0x04E4},
    {"wide_x86_64", "1.0\x96L?", 0x0416, 0x04E4},
    {"other_x86_64", "", 0x0416, 0x04E4},  // the table exists only under another translation
    {"notrans_x86_64", "", 0, 0},
    {"nover_x86_64", "", 0, 0},
    {"nores_x86_64", "", 0, 0},
};

TEST(PeVersion, FixturesAsAnIndependentReaderSeesThem) {
  ASSERT_STRNE(KVO_WRESTOOL, "") << "wrestool (package icoutils) is needed to check the fixtures";
  for (const Good& g : kGood) {
    const std::string listing =
        Shell(std::string(KVO_WRESTOOL) + " -l " + Fixture(g.fixture) + " 2>&1");
    const bool hasVersion = g.language != 0 || std::string(g.fixture) == "notrans_x86_64";
    EXPECT_EQ(listing.find("--type=16 --name=1 ") != std::string::npos, hasVersion)
        << g.fixture << ": " << listing;
    if (!hasVersion) continue;
    const std::string raw =
        Shell(std::string(KVO_WRESTOOL) + " -x --type=16 --name=1 --raw " + Fixture(g.fixture));
    EXPECT_NE(raw.find(Utf16("VS_VERSION_INFO")), std::string::npos) << g.fixture;
    if (*g.version) {
      EXPECT_NE(raw.find(Utf16(std::string(g.version).substr(0, 3))), std::string::npos)
          << g.fixture;
    }
  }
  EXPECT_NE(Shell("file -b " + Fixture("pt_x86_64")).find("PE32+"), std::string::npos);
  EXPECT_NE(Shell("file -b " + Fixture("pt_i686")).find("PE32 "), std::string::npos);
}

TEST(PeVersion, ReadsTheFirstTranslationsFileVersion) {
  for (const Good& g : kGood) {
    const std::string image = Load(g.fixture);
    ASSERT_FALSE(image.empty()) << g.fixture;
    EXPECT_EQ(PeFileVersion(image), g.version) << g.fixture;
    auto t = PeFirstTranslation(image);
    if (g.language == 0) {
      EXPECT_FALSE(t) << g.fixture;
    } else {
      ASSERT_TRUE(t) << g.fixture;
      EXPECT_EQ(t->first, g.language) << g.fixture;
      EXPECT_EQ(t->second, g.codePage) << g.fixture;
    }
  }
}

TEST(PeVersion, FileVersionTextByWindowsPath) {
  testing::TempDir drives;
  setenv("KVO_DRIVES", drives.path().c_str(), 1);
  testing::WriteFile(drives.path() + "/C/Bin/kvo.exe", Load("pt_x86_64"));
  testing::WriteFile(drives.path() + "/C/Bin/empty.exe", "");
  EXPECT_EQ(FileVersionText("C:\\Bin\\kvo.exe"), "3.1.4.1 (vers\xE3o)");
  EXPECT_EQ(FileVersionText("c:/bin/../Bin/kvo.exe"), "3.1.4.1 (vers\xE3o)");
  for (const char* path :
       {"", "C:\\Bin\\missing.exe", "C:\\Bin", "C:\\Bin\\empty.exe", "C:\\Bin\\kvo.exe\\x"})
    EXPECT_EQ(FileVersionText(path), "") << path;
  unsetenv("KVO_DRIVES");
}

// A file with as many sections and resource entries as the format allows, its version
// resource behind them all, is read in one pass, through the program as a caller names it.
TEST(PeVersion, HostileLayoutIsReadInOnePass) {
  const std::string real = Load("pt_x86_64");
  const size_t at = real.find(Utf16("VS_VERSION_INFO")) - 6;
  const std::string version = real.substr(
      at, static_cast<unsigned char>(real[at]) | (static_cast<unsigned char>(real[at + 1]) << 8));
  testing::TempDir drives;
  testing::WriteFile(drives.path() + "/C/tabela.txt", testing::HostilePe(64u << 20, version));
  testing::WriteFile(drives.path() + "/C/empty.txt", testing::HostilePe(0));
  struct Case {
    const char* file;
    std::string answer;
  } cases[] = {
      {"C:\\tabela.txt", "3.1.4.1 (vers\xE3o)"},
      {"C:\\empty.txt", ""},
  };
  for (const auto& c : cases) {
    auto r = testing::RunCgi({{"REQUEST_METHOD", "GET"},
                              {"SERVER_PROTOCOL", "HTTP/1.1"},
                              {"PATH_INFO", "/versaoarquivo"},
                              {"QUERY_STRING", std::string("f=") + c.file},
                              {"KVO_DRIVES", drives.path()}});
    EXPECT_EQ(r.Body(), c.answer) << c.file;
  }
}

// Where the pieces of a fixture are, found the simple way, so that damage can be aimed.
struct Layout {
  size_t peHeader = 0, optionalHeader = 0, sectionTable = 0, resourceDirectory = 0, version = 0;
  uint16_t sectionCount = 0;
};

uint32_t Get32(const std::string& s, size_t at) {
  uint32_t v;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}
uint16_t Get16(const std::string& s, size_t at) {
  uint16_t v;
  std::memcpy(&v, s.data() + at, 2);
  return v;
}
void Put32(std::string& s, size_t at, uint32_t v) {
  std::memcpy(s.data() + at, &v, 4);
}
void Put16(std::string& s, size_t at, uint16_t v) {
  std::memcpy(s.data() + at, &v, 2);
}

Layout Locate(const std::string& image) {
  Layout l;
  l.peHeader = Get32(image, 0x3C);
  l.optionalHeader = l.peHeader + 24;
  l.sectionCount = Get16(image, l.peHeader + 6);
  l.sectionTable = l.optionalHeader + Get16(image, l.peHeader + 20);
  for (uint16_t i = 0; i < l.sectionCount; ++i) {
    const size_t s = l.sectionTable + 40 * i;
    if (std::memcmp(image.data() + s, ".rsrc", 5) == 0) l.resourceDirectory = Get32(image, s + 20);
  }
  l.version = image.find(Utf16("VS_VERSION_INFO")) - 6;
  return l;
}

TEST(PeVersion, DamagedFilesHaveNoVersion) {
  for (const char* name : {"pt_x86_64", "pt_i686"}) {
    const std::string good = Load(name);
    const Layout l = Locate(good);
    ASSERT_NE(l.resourceDirectory, 0u);
    const std::string expected = PeFileVersion(good);
    ASSERT_FALSE(expected.empty());
    // The resource directory's levels: root, the RT_VERSION entry's directory, name 1's.
    const size_t typeDir =
        l.resourceDirectory + (Get32(good, l.resourceDirectory + 20) & 0x7FFFFFFF);
    const size_t nameDir = l.resourceDirectory + (Get32(good, typeDir + 20) & 0x7FFFFFFF);
    const size_t dataEntry = l.resourceDirectory + Get32(good, nameDir + 20);
    const uint32_t optionalMagic = Get16(good, l.optionalHeader);
    const size_t directories = l.optionalHeader + (optionalMagic == 0x20B ? 112 : 96);

    struct Damage {
      const char* what;
      std::function<void(std::string&)> apply;
    } damages[] = {
        {"no MZ", [](std::string& s) { s[0] = 'X'; }},
        {"PE header past the end", [](std::string& s) { Put32(s, 0x3C, 0xFFFFFFF0); }},
        {"PE header at the last bytes",
         [](std::string& s) { Put32(s, 0x3C, static_cast<uint32_t>(s.size() - 2)); }},
        {"unknown optional header", [&](std::string& s) { Put16(s, l.optionalHeader, 0x107); }},
        {"optional header too small", [&](std::string& s) { Put16(s, l.peHeader + 20, 8); }},
        {"65535 sections", [&](std::string& s) { Put16(s, l.peHeader + 6, 0xFFFF); }},
        {"no sections", [&](std::string& s) { Put16(s, l.peHeader + 6, 0); }},
        {"resource directory outside every section",
         [&](std::string& s) { Put32(s, directories + 16, 0x7FFFFFF0); }},
        {"two data directories only", [&](std::string& s) { Put32(s, directories - 4, 2); }},
        {"section raw data past the end",
         [&](std::string& s) {
           for (uint16_t i = 0; i < l.sectionCount; ++i)
             Put32(s, l.sectionTable + 40 * i + 20, 0xFFFFFF00);
         }},
        {"section raw size huge",
         [&](std::string& s) {
           for (uint16_t i = 0; i < l.sectionCount; ++i)
             Put32(s, l.sectionTable + 40 * i + 16, 0xFFFFFFFF);
         }},
        {"root directory counts 65535+65535 entries",
         [&](std::string& s) {
           Put16(s, l.resourceDirectory + 12, 0xFFFF);
           Put16(s, l.resourceDirectory + 14, 0xFFFF);
           Put32(s, l.resourceDirectory + 16, 1);  // the real entry no longer matches
         }},
        {"type entry points to the root (a loop)",
         [&](std::string& s) { Put32(s, l.resourceDirectory + 20, 0x80000000); }},
        {"name entry points to itself",
         [&](std::string& s) {
           Put32(s, typeDir + 20,
                 0x80000000 | static_cast<uint32_t>(typeDir - l.resourceDirectory));
         }},
        {"language entry is a directory pointing to the root",
         [&](std::string& s) { Put32(s, nameDir + 20, 0x80000000); }},
        {"sub-directory offset past the end",
         [&](std::string& s) { Put32(s, l.resourceDirectory + 20, 0xFFFFFFFF); }},
        {"data size 4 GB", [&](std::string& s) { Put32(s, dataEntry + 4, 0xFFFFFFFF); }},
        {"data outside every section", [&](std::string& s) { Put32(s, dataEntry, 0xFFFFFF00); }},
        {"version block length 0", [&](std::string& s) { Put16(s, l.version, 0); }},
        {"version block longer than the data",
         [&](std::string& s) { Put16(s, l.version, 0xFFFF); }},
        {"StringFileInfo child of length 0",
         [&](std::string& s) {
           size_t at = s.find(Utf16("StringFileInfo")) - 6;
           Put16(s, at, 0);
         }},
        {"string table renamed",
         [&](std::string& s) {
           size_t at = s.find(Utf16("041604E4"));
           s[at] = '9';
         }},
        {"translation value of two bytes",
         [&](std::string& s) {
           size_t at = s.find(Utf16("Translation")) - 6;
           Put16(s, at + 2, 2);
         }},
        {"key without its NUL up to the end",
         [&](std::string& s) {
           size_t at = s.find(Utf16("VS_VERSION_INFO"));
           for (size_t i = at; i < s.size(); i += 2) {
             s[i] = 'A';
             if (i + 1 < s.size()) s[i + 1] = 0;
           }
         }},
    };
    for (auto& d : damages) {
      std::string bad = good;
      d.apply(bad);
      bad.shrink_to_fit();
      EXPECT_EQ(PeFileVersion(bad), "") << name << ": " << d.what;
    }

    // Every truncation: nothing or, once the whole resource is there, the full answer.
    for (size_t n = 0; n < good.size(); ++n) {
      const std::string cut = good.substr(0, n);
      const std::string v = PeFileVersion(cut);
      EXPECT_TRUE(v.empty() || v == expected) << name << " cut at " << n;
      if (n < l.version + 0x40) {
        EXPECT_EQ(v, "") << name << " cut at " << n;
      }
    }
    // Every byte set to 0x00 and to 0xFF in turn: any answer, but no crash, hang or over-read
    // (run under the sanitizers to see the over-reads).
    for (size_t i = 0; i < good.size(); ++i)
      for (char value : {'\0', '\xFF'}) {
        std::string bad = good;
        bad[i] = value;
        (void)PeFileVersion(bad);
        (void)PeFirstTranslation(bad);
      }
  }
}

}  // namespace
}  // namespace kvo::platform
