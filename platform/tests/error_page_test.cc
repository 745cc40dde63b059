// The error page's bytes, and its message read back out of answers.
#include "platform/error_page.h"

#include <gtest/gtest.h>

namespace kvo::platform {
namespace {

TEST(ErrorPage, FifteenLinesAroundTheMessage) {
  const std::string expected =
      "<HTML>\r\n<HEAD>\r\n<TITLE>KVO.Net</TITLE>\r\n</HEAD>\r\n<BODY>\r\n<p align=center>\r\n"
      "<strong><font color=#ffffff size=6></font></strong></p>\r\n"
      "<p align=center><strong><font color=#ffffff size=6></font></strong>&nbsp;</p>\r\n"
      "<p align=center><strong><font color=#ffffff size=6></font></strong>&nbsp;</p>\r\n"
      "<p align=center><strong><font color=#ffffff size=6></font></strong>&nbsp;</p>\r\n"
      "<p align=center><strong><font color=#ffffff size=6></font></strong>&nbsp;</p>\r\n"
      "<p align=center><strong><font color=#ffffff size=6></font></strong>&nbsp;</p>\r\n"
      "<p align=center><strong><font face=Arial color=#990000 size=6>Cannot attach"
      "</font></strong></p>\r\n</BODY>\r\n</HTML>\r\n";
  EXPECT_EQ(BuildErrorPage("Cannot attach"), expected);
}

TEST(ErrorPage, MessageReadBack) {
  const std::string start = "<p align=center><strong><font face=Arial color=#990000 size=6>";
  struct Case {
    std::string answer;
    bool page;
    std::string message;
  } cases[] = {
      {BuildErrorPage("Cannot attach"), true, "Cannot attach"},
      // The message travels as it is: line breaks and markup included.
      {BuildErrorPage("line one\r\nline <b>two</b> &amp;"), true,
       "line one\r\nline <b>two</b> &amp;"},
      {BuildErrorPage(""), true, ""},
      {"<?xml version=\"1.0\"?><DATAPACKET/>", false, ""},
      {"ALFA\r\nZETA\r\n", false, ""},
      {"<TITLE>KVO.Net</TITLE>", true, ""},
      {start + "no end marker", false, ""},
      {"x" + start + "a</font></strong></p>b</font></strong></p>", false, "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    EXPECT_EQ(IsErrorPage(c.answer), c.page);
    EXPECT_EQ(ErrorPageMessage(c.answer), c.message);
  }
}

}  // namespace
}  // namespace kvo::platform
