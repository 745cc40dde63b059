// The site frame page, the tag handler of both page producers, the login check and the
// traffic file.
#include <exception>

#include "configfiles/paths.h"
#include "configfiles/text_lines.h"
#include "fb/fb.h"
#include "helpers/helpers.h"
#include "pages/actions.h"
#include "pages/base64.h"
#include "platform/codepage.h"
#include "platform/markup.h"

namespace kvo::pages {

// The public site that serves the two background pictures of the site page.
#define KVO_PICTURES "http://www.kvo.net.br"

namespace {

// The decoded name as the UTF-8 the page declares. The decision is per whole text: guessing per
// byte would turn a Windows-1252 pair such as "\xC3\xA3" ("Ã£") into one letter.
std::string PageText(std::string_view name) {
  const std::string utf8 =
      platform::IsValidUtf8(name) ? std::string(name) : platform::Cp1252ToUtf8(name);
  // Control characters would show as nothing or as an invalid reference ("&#0;"): left out,
  // the C1 range (two bytes in UTF-8: C2 80..C2 9F) included.
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 || c == 0x7F) continue;
    if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
      ++i;
      continue;
    }
    out += utf8[i];
  }
  return out;
}

}  // namespace

void SiteTagHandler(const SiteTexts& texts, const std::string& tagString,
                    std::string& replaceText) {
  // The names come from the link that opened the page; inserted raw they would let a crafted
  // link put script into the page, so markup characters go in as entities.
  if (tagString == "XLOJA") replaceText = platform::HtmlEscape(PageText(texts.SiteLoja));
  if (tagString == "XUSUARIO") replaceText = platform::HtmlEscape(PageText(texts.SiteUsuario));
}

std::vector<std::string> SiteTemplate() {
  return {
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" "
      "\"http://www.w3.org/TR/html4/loose.dtd\">",
      "<html>",
      "<head>",
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">",
      "<title>KVO.Net</title>",
      "<style type=\"text/css\">",
      "<!--",
      "body {",
      "\tfont: 100%/1.4 Verdana, Arial, Helvetica, sans-serif;",
      "\tbackground: #4E5869;",
      "\tmargin: 0;",
      "\tpadding: 0;",
      "\tcolor: #000;",
      "}",
      "",
      "/* Lists start without the browser's own indentation; each list sets its own. */",
      "ul, ol, dl {",
      "\tpadding: 0;",
      "\tmargin: 0;",
      "}",
      "",
      "/* Headings and paragraphs: white text, centred, with room at the sides. */",
      "h1, h2, h3, h4, h5, h6, p {",
      "\tmargin-top: 0;",
      "\tpadding-right: 15px;",
      "\tpadding-left: 15px;",
      "\tfont-size: 12px;",
      "\tcolor: #FFF;",
      "\ttext-align: center;",
      "\tfont-family: Arial, Helvetica, sans-serif;",
      "}",
      "",
      "/* Linked pictures get no border in any browser. */",
      "a img {",
      "\tborder: none;",
      "}",
      "",
      "/* Link colours: keep the order link, visited, hover. */",
      "a:link {",
      "\tcolor: #414958;",
      "\ttext-decoration: underline;",
      "}",
      "",
      "a:visited {",
      "\tcolor: #4E5869;",
      "\ttext-decoration: underline;",
      "}",
      "",
      "a:hover, a:active, a:focus {",
      "\ttext-decoration: none;",
      "}",
      "",
      "/* The page frame: a fixed-width column centred in the window. */",
      ".container {",
      "\twidth: 800px;",
      "\tmax-width: 1260px;",
      "\tmin-width: 780px;",
      "\tbackground-color: #FFF;",
      "\tbackground-image: url(" KVO_PICTURES "/kvo.net.site/fundo2.jpg);",
      "\tbackground-repeat: repeat-y;",
      "\tmargin-top: 0;",
      "\tmargin-right: auto;",
      "\tmargin-bottom: 0;",
      "\tmargin-left: auto;",
      "\theight: auto;",
      "}",
      "",
      ".header {",
      "\tbackground-color: #6F7D94;",
      "\tbackground-image: url(" KVO_PICTURES "/kvo.net.site/KVONet_Topo.jpg);",
      "\theight: 80px;",
      "\twidth: 800px;",
      "\tcolor: #FFF;",
      "\tfont-family: Tahoma, Geneva, sans-serif;",
      "\tfont-weight: bold;",
      "\ttext-align: right;",
      "\tfont-size: 10pt;",
      "}",
      "",
      ".content {",
      "\theight: 600px;",
      "\twidth: 800px;",
      "\tpadding-top: 10px;",
      "\tpadding-right: 0;",
      "\tpadding-bottom: 10px;",
      "\tpadding-left: 0;",
      "}",
      "",
      ".content ul, .content ol {",
      "\tpadding: 0 15px 15px 40px;",
      "}",
      "",
      ".footer {",
      "\tpadding: 10px;",
      "\tbackground: #6F7D94;",
      "\theight: auto;",
      "}",
      "",
      "/* Helpers for floating pictures and for clearing floats. */",
      ".fltrt {",
      "\tfloat: right;",
      "\tmargin-left: 8px;",
      "}",
      "",
      ".fltlft {",
      "\tfloat: left;",
      "\tmargin-right: 8px;",
      "}",
      "",
      ".clearfloat {",
      "\tclear: both;",
      "\theight: 0;",
      "\tfont-size: 1px;",
      "\tline-height: 0px;",
      "}",
      "-->",
      "</style></head>",
      "",
      "<body>",
      "",
      "<div class=\"container\">",
      "  <div class=\"header\">Loja:[ <#XLOJA> ] Usuario:[ <#XUSUARIO> ]</div>",
      "  <div class=\"content\">",
      "    <h1>&nbsp;</h1>",
      "    <!-- end .content --></div>",
      "  <div class=\"footer\">",
      "    <p>KVO.Net - todos os direitos reservados.</p>",
      "    <!-- end .footer --></div>",
      "  <!-- end .container --></div>",
      "</body>",
      "</html>",
  };
}

#undef KVO_PICTURES

void SiteAction(cgi::TWebRequest& request, cgi::TWebResponse& response, TPageProducer& producer1,
                SiteTexts& texts) {
  // "p1" first: a bad shop text fails before the user text is looked at.
  texts.SiteLoja = DecodeBase64(request.QueryFields().Value("p1"));
  texts.SiteUsuario = DecodeBase64(request.QueryFields().Value("p2"));
  response.SetContent(ProduceContent(producer1));
}

void LoginAction(cgi::TWebRequest& request, cgi::TWebResponse& response, helpers::Database& dbkvo) {
  // The caller only learns whether the login works; no message goes out.
  try {
    helpers::ConnectModuleDatabase(dbkvo, request);
    // A kept attachment answers nothing by being there: the server must answer now (a broken
    // one is replaced by a fresh attach, whose failure is the answer).
    dbkvo.work().transaction();
    // Nothing ran: the commit only ends the attachment (or keeps it for a later request).
    dbkvo.work().Commit();
    response.SetContent("true");
    dbkvo.Disconnect();
  } catch (const std::exception&) {
    dbkvo.Disconnect();
    response.SetContent("false");
  }
}

void KmlAction(cgi::TWebRequest&, cgi::TWebResponse& response) {
  response.SetContent(config::JoinLines(config::LoadLines(config::kTrafficFile)));
}

}  // namespace kvo::pages
