// /rdp and /rdptools.
#include "config/rdp.h"

#include "platform/markup.h"

#include <cstdio>

#include "config/actions.h"
#include "configfiles/paths.h"
#include "configfiles/text_lines.h"

namespace kvo::config {

namespace {

std::string Hex2(unsigned char c) {
  char buffer[3];
  std::snprintf(buffer, sizeof buffer, "%02X", c);
  return buffer;
}

}  // namespace

std::string EscapeScriptString(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\'':
        out += "\\'";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        if (c < 0x20 || c == 0x7F || c == '<' || c == '>')
          out += "\\x" + Hex2(c);
        else
          out += ch;
    }
  }
  return out;
}

std::string ScriptNumber(std::string_view value) {
  size_t i = 0;
  const size_t n = value.size();
  auto isDigit = [&](size_t k) { return k < n && value[k] >= '0' && value[k] <= '9'; };
  auto isHex = [&](size_t k) {
    return isDigit(k) || (k < n && ((value[k] >= 'a' && value[k] <= 'f') ||
                                    (value[k] >= 'A' && value[k] <= 'F')));
  };
  auto skipBlanks = [&] {
    while (i < n && (value[i] == ' ' || value[i] == '\t')) ++i;
  };
  skipBlanks();
  if (i < n && (value[i] == '+' || value[i] == '-')) ++i;
  if (i + 2 < n && value[i] == '0' && (value[i + 1] == 'x' || value[i + 1] == 'X') &&
      isHex(i + 2)) {
    i += 2;
    while (isHex(i)) ++i;
  } else {
    const size_t start = i;
    while (isDigit(i)) ++i;
    bool digits = i > start;
    if (i < n && value[i] == '.') {
      ++i;
      const size_t fraction = i;
      while (isDigit(i)) ++i;
      digits = digits || i > fraction;
    }
    if (!digits) return "";
    if (i < n && (value[i] == 'e' || value[i] == 'E')) {
      ++i;
      if (i < n && (value[i] == '+' || value[i] == '-')) ++i;
      if (!isDigit(i)) return "";
      while (isDigit(i)) ++i;
    }
  }
  skipBlanks();
  return i == n ? std::string(value) : std::string();
}

std::string RdpPage(const RdpFields& f) {
  std::string page;
  page +=
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
      "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\"> "
      "<html xmlns=\"http://www.w3.org/1999/xhtml\"> "
      "<head> <title>KVO.Net - Remote Desktop Web Connection</title> "
      "<meta content=\"text/html; charset=ISO-8859-1\" http-equiv=\"Content-Type\"/> "
      "<body bgcolor=\"#00CCFF\"> <script language=\"javascript\"> "
      "function ConnectRDP() {     MsRdpClient.server = \"";
  page += EscapeScriptString(f.server);
  page += "\"; ";
  page += "    MsRdpClient.UserName = \"";
  page += EscapeScriptString(f.user);
  page += "\"; ";
  page += "    MsRdpClient.Domain = \"";
  page += EscapeScriptString(f.domain);
  page += "\"; ";
  page += "    MsRdpClient.FullScreen = false; ";
  page += "    MsRdpClient.Width = ";
  page += ScriptNumber(f.desktopWidth);
  page += "; ";
  page += "    MsRdpClient.Height = ";
  page += ScriptNumber(f.desktopHeight);
  page += "; ";
  page += "    MsRdpClient.Connect(); ";
  page += "} ";
  page += "function MsRdpClient_OnDisconnected(disconnectCode){ ";
  page += "} ";
  page += "</script> ";
  page += "<object language=\"javascript\" id=\"MsRdpClient\" onreadystatechange=\"ConnectRDP()\" ";
  page += "        codebase=\"msrdp.cab#version=5,1,2600,1050\" ";
  page += "        classid=\"CLSID:9059f30f-4eb1-4bd2-9fdc-36f43a218f4a\" ";
  page += "        style=\"border: thin none #FFFFFF\" ";
  page += "        width=\"";
  page += platform::HtmlEscape(f.objectWidth);
  page += "\" height=\"";
  page += platform::HtmlEscape(f.objectHeight);
  page += "\"> ";
  page += "</object> ";
  page += "</head> ";
  page += "</body> ";
  page += "</html> ";
  return page;
}

void RdpAction(cgi::TWebRequest& request, cgi::TWebResponse& response) {
  const cgi::FieldList& fields = request.ContentFields();
  RdpFields f;
  f.server = fields.Value("server_rdp");
  f.user = fields.Value("user_rdp");
  f.domain = fields.Value("domain_rdp");
  f.desktopWidth = fields.Value("width_rdp");
  f.desktopHeight = fields.Value("height_rdp");
  f.objectWidth = fields.Value("width_obj");
  f.objectHeight = fields.Value("height_obj");
  response.SetContent(RdpPage(f));
}

void RdpToolsAction(cgi::TWebRequest&, cgi::TWebResponse& response) {
  response.SetContent(JoinLines(LoadLines(kRdpToolList)));
}

}  // namespace kvo::config
