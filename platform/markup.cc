#include "platform/markup.h"

namespace kvo::platform {

std::string HtmlEscape(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        if (c < 0x20 || c == 0x7F)
          out += "&#" + std::to_string(c) + ";";
        else
          out += ch;
    }
  }
  return out;
}

std::string HtmlEscapeText(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char ch : value) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += ch;
    }
  }
  return out;
}

}  // namespace kvo::platform
