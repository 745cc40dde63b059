#include "app/wm.h"

#include <exception>

#include "app/memo_lookup.h"
#include "config/actions.h"
#include "dataservice/actions.h"
#include "pages/actions.h"
#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/winpath.h"

namespace kvo::app {

bool PathMatches(std::string_view itemPath, std::string_view requestPath) {
  return platform::SameTextAscii(itemPath, requestPath);
}

TWM::TWM() {
  PageProducer1.HTMLDoc = pages::SiteTemplate();
  auto tag = [this](pages::TPageProducer& sender, const std::string& tagString,
                    const std::vector<std::string>& tagParams, std::string& replaceText) {
    PageProducer1HTMLTag(sender, tagString, tagParams, replaceText);
  };
  PageProducer1.OnHTMLTag = tag;
  PageProducer2.OnHTMLTag = tag;

  auto item = [this](const char* name, THTTPMethodEvent handler) {
    TWebActionItem a;
    a.Name = name;
    a.PathInfo = std::string("/") + name;
    a.OnAction = handler;
    actions_.push_back(std::move(a));
  };
  item("teste", &TWM::WMtesteAction);
  item("sql", &TWM::WMsqlAction);
  item("tabelas", &TWM::WMtabelasAction);
  item("criarib", &TWM::WMcriaribAction);
  item("versaokvomobile", &TWM::WMversaokvomobileAction);
  item("script", &TWM::WMscriptAction);
  item("listakvomodulos", &TWM::WMlistakvositesAction);
  item("versaoarquivo", &TWM::WMversaoarquivoAction);
  item("versaokvo", &TWM::WMversaokvoAction);
  item("usermanager", &TWM::WMusermanagerAction);
  item("versaokvomobileupdate", &TWM::WMversaokvomobileupdateAction);
  item("config", &TWM::WMconfigAction);
  item("loginx", nullptr);
  item("abrirwebmodulo", nullptr);
  item("site", &TWM::WMsiteAction);
  item("kml", &TWM::WMkmlAction);
  item("login", &TWM::WMloginAction);
  item("versaokvocd", &TWM::WMversaokvocdAction);
  item("versaokvocdupdate", &TWM::WMversaokvocdupdateAction);
  item("memo", &TWM::WMmemoAction);
  item("rdp", &TWM::WMrdpAction);
  item("rdptools", &TWM::WMrdptoolsAction);
  item("info", &TWM::WMinfoAction);
}

bool TWM::Dispatch(cgi::TWebRequest& request, cgi::TWebResponse& response) {
  if (response.Sent()) return true;
  const std::string path = request.PathInfo();
  for (auto& a : actions_) {
    if (!a.Enabled) continue;
    if (a.MethodType != cgi::TMethodType::mtAny && a.MethodType != request.MethodType()) continue;
    if (!PathMatches(a.PathInfo, path)) continue;
    if (!a.OnAction) continue;  // /loginx, /abrirwebmodulo: no handler, the search goes on
    bool handled = true;
    handledAction_ = a.Name;
    (this->*a.OnAction)(a, request, response, handled);
    if (handled) return true;
  }
  return false;
}

bool TWM::HandleRequest(cgi::TWebRequest& request, cgi::TWebResponse& response) {
  bool handled = false;
  // Folders may have changed since an earlier request of this process listed them.
  platform::ForgetFolderListings();
  try {
    handled = Dispatch(request, response);
  } catch (const std::exception& e) {
    response.InternalErrorPage(MessageOf(e));
    return false;
  }
  if (handled && !response.Sent()) response.SendResponse();
  return handled;
}

void TWM::PageProducer1HTMLTag(pages::TPageProducer&, const std::string& tagString,
                               const std::vector<std::string>&, std::string& replaceText) {
  pages::SiteTagHandler(SiteTexts, tagString, replaceText);
}

#define KVO_HANDLER_DEF(name) \
  void TWM::name(TWebActionItem&, cgi::TWebRequest& request, cgi::TWebResponse& response, bool&)

KVO_HANDLER_DEF(WMtesteAction) {
  response.SetBrowserPage();
  pages::TesteAction(request, response);
}
KVO_HANDLER_DEF(WMsqlAction) {
  dataservice::SqlAction(request, response);
}
KVO_HANDLER_DEF(WMtabelasAction) {
  dataservice::TabelasAction(request, response, DBKVO);
}
KVO_HANDLER_DEF(WMcriaribAction) {
  dataservice::CriaribAction(request, response);
}
KVO_HANDLER_DEF(WMversaokvomobileAction) {
  config::VersionAction(request, response, config::VersionSource::Mobile);
}
KVO_HANDLER_DEF(WMscriptAction) {
  (void)request;
  (void)response;
}
KVO_HANDLER_DEF(WMlistakvositesAction) {
  config::ListaModulosAction(request, response);
}
KVO_HANDLER_DEF(WMversaoarquivoAction) {
  config::VersionAction(request, response, config::VersionSource::Arquivo);
}
KVO_HANDLER_DEF(WMversaokvoAction) {
  config::VersionAction(request, response, config::VersionSource::Kvo);
}
KVO_HANDLER_DEF(WMusermanagerAction) {
  dataservice::UserManagerAction(request, response);
}
KVO_HANDLER_DEF(WMversaokvomobileupdateAction) {
  config::VersionAction(request, response, config::VersionSource::MobileUpdate);
}
KVO_HANDLER_DEF(WMconfigAction) {
  config::ConfigAction(request, response);
}
KVO_HANDLER_DEF(WMsiteAction) {
  response.SetBrowserPage();
  pages::SiteAction(request, response, PageProducer1, SiteTexts);
}
KVO_HANDLER_DEF(WMkmlAction) {
  pages::KmlAction(request, response);
}
KVO_HANDLER_DEF(WMloginAction) {
  pages::LoginAction(request, response, DBKVO);
}
KVO_HANDLER_DEF(WMversaokvocdAction) {
  config::VersionAction(request, response, config::VersionSource::Cd);
}
KVO_HANDLER_DEF(WMversaokvocdupdateAction) {
  config::VersionAction(request, response, config::VersionSource::CdUpdate);
}
KVO_HANDLER_DEF(WMmemoAction) {
  config::MemoAction(request, response, DBKVO, LookupThroughWebServer);
}
KVO_HANDLER_DEF(WMrdpAction) {
  response.SetBrowserPage();
  config::RdpAction(request, response);
}
KVO_HANDLER_DEF(WMrdptoolsAction) {
  config::RdpToolsAction(request, response);
}
KVO_HANDLER_DEF(WMinfoAction) {
  response.SetBrowserPage();
  pages::InfoAction(request, response, PageProducer2);
}

#undef KVO_HANDLER_DEF

}  // namespace kvo::app
