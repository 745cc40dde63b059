// The connection test page and the information pages.
#include <exception>

#include "configfiles/profile_file.h"
#include "configfiles/text_lines.h"
#include "helpers/helpers.h"
#include "pages/actions.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/winpath.h"

namespace kvo::pages {

namespace {

std::string LabelLine(std::string_view label) {
  return "<p align=justify><strong><font face=Arial color=#990000><font color=#000000>" +
         std::string(label) + "</font>";
}

std::string ValueLine(std::string_view value) {
  return "<font color=#ff0000>" + std::string(value) +
         "</font></font></strong></FONT></FONT></STRONG></p>";
}

}  // namespace

void TesteAction(cgi::TWebRequest& request, cgi::TWebResponse& response) {
  try {
    auto var = [&request](int index) { return request.StringVariable(index); };
    config::TextLines lines = {
        "<HTML>",
        "<HEAD>",
        "<TITLE></TITLE>",
        "</HEAD>",
        "<BODY>",
        "<p align=center><strong><font face=Arial color=#990000 size=6>Teste de Conex\xE3o do "
        "KVO.Net</font></strong></p>",
        "<p align=justify><strong><font face=Arial color=#990000></font></strong></p>",
        LabelLine("Agente:"),
        "<font color=#ff0000>" + var(cgi::rvUserAgent) + "</p>",
        LabelLine("Host Remoto:"),
        ValueLine(var(cgi::rvRemoteHost)),
        LabelLine("M\xE9todo:"),
        ValueLine(var(cgi::rvMethod)),
        LabelLine("Vers\xE3o do Protocolo:"),
        ValueLine(var(cgi::rvProtocol)),
        LabelLine("PathInfo:"),
        ValueLine(var(cgi::rvPathInfo)),
        LabelLine("Path Completo:"),
        ValueLine(var(cgi::rvPathTranslated)),
        LabelLine("Host:"),
        ValueLine(var(cgi::rvHost)),
        LabelLine("Endere\xE7o Remoto:"),
        ValueLine(var(cgi::rvRemoteAddr)),
        LabelLine("Porta do Servidor:"),
        ValueLine(std::to_string(request.IntegerVariable(cgi::rvServerPort))),
        LabelLine("PathInfo Interno:"),
        ValueLine(request.PathInfo()),
        "</BODY>",
        "</HTML>",
    };
    response.SetContent(config::JoinLines(lines));
  } catch (const std::exception& e) {
    response.SetFailureContent(MessageOf(e));
  }
}

void InfoAction(cgi::TWebRequest& request, cgi::TWebResponse& response, TPageProducer& producer2) {
  config::TProfileFile profile(helpers::ChooseConfigFile(request));
  const std::string topic = request.QueryFields().Value("d");
  const std::string base = profile.ReadText("KVO.Net", "PathInfo", "PathInfo");
  const std::string pageFile = base + "\\" + topic + "\\Index.html";
  // A topic that climbs out of the information folder ("..") or names a place of its own (a
  // root or a drive) has no page, whatever exists there.
  if (platform::StaysInsideFolder(topic) && platform::FileExists(pageFile)) {
    producer2.SetHTMLFile(pageFile);
    response.SetContent(ProduceContent(producer2));
  } else {
    response.SetContent("NENHUMA INFORMACAO DISPONIVEL");
  }
}

}  // namespace kvo::pages
