#include "platform/error_page.h"

namespace kvo::platform {

namespace {

constexpr std::string_view kTitle = "<TITLE>KVO.Net</TITLE>";
constexpr std::string_view kMessageStart =
    "<p align=center><strong><font face=Arial color=#990000 size=6>";
constexpr std::string_view kMessageEnd = "</font></strong></p>";

}  // namespace

std::string BuildErrorPage(std::string_view message) {
  static constexpr std::string_view kSpacer =
      "<p align=center><strong><font color=#ffffff size=6></font></strong>&nbsp;</p>\r\n";
  std::string page = "<HTML>\r\n<HEAD>\r\n";
  page += kTitle;
  page +=
      "\r\n</HEAD>\r\n<BODY>\r\n<p align=center>\r\n"
      "<strong><font color=#ffffff size=6></font></strong></p>\r\n";
  for (int i = 0; i < 5; ++i) page += kSpacer;
  page += kMessageStart;
  page += message;
  page += kMessageEnd;
  page += "\r\n</BODY>\r\n</HTML>\r\n";
  return page;
}

bool IsErrorPage(std::string_view answer) {
  return answer.find(kTitle) != std::string_view::npos;
}

std::string ErrorPageMessage(std::string_view answer) {
  size_t at = answer.find(kMessageStart);
  if (at == std::string_view::npos) return {};
  std::string_view rest = answer.substr(at + kMessageStart.size());
  size_t stop = rest.find(kMessageEnd);
  if (stop == std::string_view::npos) return {};
  return std::string(rest.substr(0, stop));
}

}  // namespace kvo::platform
