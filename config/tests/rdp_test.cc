// /rdp and /rdptools end to end.
#include "config/rdp.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "tests/support/cgi_runner.h"

namespace kvo::config {
namespace {

// The literal pieces of the page, in order, with every field place empty.
const char kEmptyPage[] =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\"> "
    "<html xmlns=\"http://www.w3.org/1999/xhtml\"> <head> <title>KVO.Net - Remote Desktop Web "
    "Connection</title> <meta content=\"text/html; charset=ISO-8859-1\" "
    "http-equiv=\"Content-Type\"/> <body bgcolor=\"#00CCFF\"> <script language=\"javascript\"> "
    "function ConnectRDP() {     MsRdpClient.server = \"\";     MsRdpClient.UserName = \"\";    "
    " MsRdpClient.Domain = \"\";     MsRdpClient.FullScreen = false;     MsRdpClient.Width = ; "
    "    MsRdpClient.Height = ;     MsRdpClient.Connect(); } function "
    "MsRdpClient_OnDisconnected(disconnectCode){ } </script> <object language=\"javascript\" "
    "id=\"MsRdpClient\" onreadystatechange=\"ConnectRDP()\"         "
    "codebase=\"msrdp.cab#version=5,1,2600,1050\"         "
    "classid=\"CLSID:9059f30f-4eb1-4bd2-9fdc-36f43a218f4a\"         style=\"border: thin none "
    "#FFFFFF\"         width=\"\" height=\"\"> </object> </head> </body> </html> ";

std::string Replace(std::string page, const std::string& from, const std::string& to) {
  size_t p = page.find(from);
  EXPECT_NE(p, std::string::npos) << from;
  if (p != std::string::npos) page.replace(p, from.size(), to);
  return page;
}

TEST(RdpAction, NoFieldsGivesTheLiteralPieces) {
  auto r = testing::PostCgi("/rdp", "");
  EXPECT_EQ(r.output.substr(0, 16), "Status: 200 OK\r\n");
  EXPECT_NE(r.Head().find("Content-Type: text/html\r\n"), std::string::npos);
  EXPECT_EQ(r.Body(), kEmptyPage);
  EXPECT_EQ(r.Body().find_first_of("\r\n"), std::string::npos);
}

TEST(RdpAction, OrdinaryValuesAreInsertedAsSent) {
  auto r = testing::PostCgi("/rdp",
                            "server_rdp=srv-01.kvo.local&user_rdp=Suporte_2&domain_rdp=KVO"
                            "&width_rdp=1024&height_rdp=-768&width_obj=100%25&height_obj=600");
  std::string expected = kEmptyPage;
  expected = Replace(expected, "server = \"\"", "server = \"srv-01.kvo.local\"");
  expected = Replace(expected, "UserName = \"\"", "UserName = \"Suporte_2\"");
  expected = Replace(expected, "Domain = \"\"", "Domain = \"KVO\"");
  expected = Replace(expected, "Width = ;", "Width = 1024;");
  expected = Replace(expected, "Height = ;", "Height = -768;");
  expected = Replace(expected, "width=\"\"", "width=\"100%\"");
  expected = Replace(expected, "height=\"\"", "height=\"600\"");
  EXPECT_EQ(r.Body(), expected);
}

TEST(RdpAction, HostileValuesStayInTheirPlace) {
  struct Case {
    const char* field;
    const char* value;   // form-encoded
    const char* from;    // the empty place in the page
    const char* placed;  // what the place holds
  } cases[] = {
      {"server_rdp", "x%22;alert(1);%22", "server = \"\"", "server = \"x\\\";alert(1);\\\"\""},
      {"user_rdp", "%3C/script%3E%3Cscript%3Ealert(1)%3C/script%3E", "UserName = \"\"",
       "UserName = \"\\x3C/script\\x3E\\x3Cscript\\x3Ealert(1)\\x3C/script\\x3E\""},
      {"domain_rdp", "a%0D%0Ab%5C%27", "Domain = \"\"", "Domain = \"a\\r\\nb\\\\\\'\""},
      {"width_rdp", "1;alert(1)", "Width = ;", "Width = ;"},
      {"height_rdp", "-", "Height = ;", "Height = ;"},
      {"height_rdp", "12%2B", "Height = ;", "Height = ;"},
      {"width_obj", "1%22+onload=%22alert(1)", "width=\"\"",
       "width=\"1&quot; onload=&quot;alert(1)\""},
      {"height_obj", "%3E%3Cscript%3E%26%27%0A", "height=\"\"",
       "height=\"&gt;&lt;script&gt;&amp;&#39;&#10;\""},
  };
  for (const auto& c : cases) {
    auto r = testing::PostCgi("/rdp", std::string(c.field) + "=" + c.value);
    EXPECT_EQ(r.Body(), Replace(kEmptyPage, c.from, c.placed)) << c.field << "=" << c.value;
  }
}

// The desktop size goes into the script bare, so it must be a number the script reads, in any
// of the forms clients send; anything else leaves the place empty.
TEST(ScriptNumber, NumberFormsKeptOthersEmptied) {
  const char* const kept[] = {"1024",   "-768",  "+1024", "1024 ", " 1024", "\t1024\t ",
                              "1024.5", ".5",    "5.",    "1e3",   "1E+3",  "2.5e-1",
                              "0x400",  "0X4fF", "-0x10", "007"};
  for (const char* value : kept) EXPECT_EQ(ScriptNumber(value), value) << value;
  const char* const emptied[] = {"",     " ",   "-",      "+",    ".",      "1;alert(1)",
                                 "12+",  "1 2", "1e",     "1e+",  "0x",     "0xg",
                                 "x400", "- 1", "--1",    "1..2", "1024px", "Infinity",
                                 "NaN",  "1\n", "1\r\n2", "e3",   "0x1.5",  "1_000"};
  for (const char* value : emptied) EXPECT_EQ(ScriptNumber(value), "") << value;
}

TEST(RdpAction, WidthFormsReachTheScript) {
  struct Case {
    const char* posted;  // form-encoded
    const char* placed;
  } cases[] = {
      {"%2B1024", "Width = +1024;"}, {"1024+", "Width = 1024 ;"}, {"1024.5", "Width = 1024.5;"},
      {"0x400", "Width = 0x400;"},   {"1024px", "Width = ;"},
  };
  for (const auto& c : cases) {
    auto r = testing::PostCgi("/rdp", std::string("width_rdp=") + c.posted);
    EXPECT_EQ(r.Body(), Replace(kEmptyPage, "Width = ;", c.placed)) << c.posted;
  }
}

class RdpTools : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KVO_DRIVES", drives.path().c_str(), 1); }
  void TearDown() override { unsetenv("KVO_DRIVES"); }
  testing::TempDir drives;
  std::string toolList = drives.path() + "/C/KVO/KVO.Net/Config/RDP.Modules";
};

TEST_F(RdpTools, ServesTheListWithCrLf) {
  struct Case {
    std::string file, body;
  } cases[] = {{"Tool A|a.exe\nTool B|b.exe", "Tool A|a.exe\r\nTool B|b.exe\r\n"},
               {"", ""},
               {"one\r\n\r\ntwo\rthree\n\r", "one\r\n\r\ntwo\r\nthree\r\n\r\n"},
               {std::string("kept\nx\0hidden\n", 15), "kept\r\nx\r\n"}};
  for (const auto& c : cases) {
    testing::WriteFile(toolList, c.file);
    for (const char* host : {"192.168.254.3", "example.org"}) {
      auto r = testing::RunCgi({{"PATH_INFO", "/rdptools"},
                                {"SERVER_PROTOCOL", "HTTP/1.1"},
                                {"REMOTE_HOST", host},
                                {"QUERY_STRING", "x=1"}});
      EXPECT_EQ(r.output.substr(0, 16), "Status: 200 OK\r\n");
      EXPECT_EQ(r.Body(), c.body);
    }
  }
}

TEST_F(RdpTools, MissingListIsAnInternalError) {
  auto r = testing::RunCgi({{"PATH_INFO", "/rdptools"}, {"SERVER_PROTOCOL", "HTTP/1.1"}});
  EXPECT_EQ(r.output.substr(0, 35), "Status: 500 Internal Server Error\r\n");
  EXPECT_NE(r.Body().find("<p>Cannot open file \"C:\\KVO\\KVO.Net\\Config\\RDP.Modules\". No "
                          "such file or directory\r\n"),
            std::string::npos)
      << r.Body();
}

}  // namespace
}  // namespace kvo::config
