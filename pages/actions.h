// The page actions: connection test, information pages, site, login, traffic file, script.
#pragma once

#include <string>
#include <vector>

#include "cgi/request.h"
#include "cgi/response.h"
#include "helpers/database.h"
#include "pages/page_producer.h"

namespace kvo::pages {

// The unit texts of the site page, empty outside /site.
struct SiteTexts {
  std::string SiteLoja;
  std::string SiteUsuario;
};

// The tag handler of both page producers: "XLOJA" and "XUSUARIO" give the unit texts as UTF-8
// (the site page declares it): a text that is valid UTF-8 as it is, any other text read as
// Windows-1252, as the suite's clients encode it; control characters and NUL left out; markup
// characters as entities. Every other tag gives the empty text.
void SiteTagHandler(const SiteTexts& texts, const std::string& tagString, std::string& replaceText);
// The 131 lines of the site template (HTMLDoc of PageProducer1).
std::vector<std::string> SiteTemplate();

void TesteAction(cgi::TWebRequest& request, cgi::TWebResponse& response);
void InfoAction(cgi::TWebRequest& request, cgi::TWebResponse& response, TPageProducer& producer2);
void SiteAction(cgi::TWebRequest& request, cgi::TWebResponse& response, TPageProducer& producer1,
                SiteTexts& texts);
void LoginAction(cgi::TWebRequest& request, cgi::TWebResponse& response, helpers::Database& dbkvo);
void KmlAction(cgi::TWebRequest& request, cgi::TWebResponse& response);

}  // namespace kvo::pages
