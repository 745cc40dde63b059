#include "pages/actions.h"
#include "platform/pending.h"

namespace kvo::pages {

void SiteTagHandler(const SiteTexts& texts, const std::string& tagString,
                    std::string& replaceText) {
  if (tagString == "XLOJA") replaceText = texts.SiteLoja;
  if (tagString == "XUSUARIO") replaceText = texts.SiteUsuario;
}
std::vector<std::string> SiteTemplate() { return {}; }

void TesteAction(cgi::TWebRequest&, cgi::TWebResponse&) { NotAvailableYet("/teste"); }
void InfoAction(cgi::TWebRequest&, cgi::TWebResponse&, TPageProducer&) { NotAvailableYet("/info"); }
void SiteAction(cgi::TWebRequest&, cgi::TWebResponse&, TPageProducer&, SiteTexts&) {
  NotAvailableYet("/site");
}
void LoginAction(cgi::TWebRequest&, cgi::TWebResponse&, fb::Database&) { NotAvailableYet("/login"); }
void KmlAction(cgi::TWebRequest&, cgi::TWebResponse&) { NotAvailableYet("/kml"); }

void TPageProducer::SetHTMLFile(std::string windowsPath) { htmlFile_ = std::move(windowsPath); }
std::string ProduceContent(TPageProducer&) { NotAvailableYet("the page renderer"); }

}  // namespace kvo::pages
