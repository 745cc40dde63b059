// The web module TWM: its components, its table of 23 actions in matching order, and dispatch.
#pragma once

#include <string>
#include <vector>

#include "cgi/request.h"
#include "cgi/response.h"
#include "helpers/database.h"
#include "pages/actions.h"
#include "pages/page_producer.h"

namespace kvo::app {

class TWM;

struct TWebActionItem;
using THTTPMethodEvent = void (TWM::*)(TWebActionItem& sender, cgi::TWebRequest& request,
                                       cgi::TWebResponse& response, bool& handled);

struct TWebActionItem {
  std::string Name;
  std::string PathInfo;
  cgi::TMethodType MethodType = cgi::TMethodType::mtAny;
  bool Enabled = true;
  bool Default = false;
  THTTPMethodEvent OnAction = nullptr;
};

class TWM {
 public:
  TWM();
  TWM(const TWM&) = delete;
  TWM& operator=(const TWM&) = delete;

  // Runs the first matching action; false when no action handled the request. A failure of
  // the action is answered with the internal error page and counts as not handled.
  bool HandleRequest(cgi::TWebRequest& request, cgi::TWebResponse& response);
  // The name of the action whose handler ran (also when it failed), lower case as in the
  // table; "other" when none did. One of a fixed set, whatever the request's path.
  const std::string& HandledAction() const { return handledAction_; }

  // Components.
  helpers::Database DBKVO;
  pages::TPageProducer PageProducer1;
  pages::TPageProducer PageProducer2;
  pages::SiteTexts SiteTexts;  // the unit texts SiteLoja and SiteUsuario

  void PageProducer1HTMLTag(pages::TPageProducer& sender, const std::string& tagString,
                            const std::vector<std::string>& tagParams, std::string& replaceText);

  // Handlers, in table order.
#define KVO_HANDLER(name)                                                                   \
  void name(TWebActionItem& sender, cgi::TWebRequest& request, cgi::TWebResponse& response, \
            bool& handled)
  KVO_HANDLER(WMtesteAction);
  KVO_HANDLER(WMsqlAction);
  KVO_HANDLER(WMtabelasAction);
  KVO_HANDLER(WMcriaribAction);
  KVO_HANDLER(WMversaokvomobileAction);
  KVO_HANDLER(WMscriptAction);
  KVO_HANDLER(WMlistakvositesAction);
  KVO_HANDLER(WMversaoarquivoAction);
  KVO_HANDLER(WMversaokvoAction);
  KVO_HANDLER(WMusermanagerAction);
  KVO_HANDLER(WMversaokvomobileupdateAction);
  KVO_HANDLER(WMconfigAction);
  KVO_HANDLER(WMsiteAction);
  KVO_HANDLER(WMkmlAction);
  KVO_HANDLER(WMloginAction);
  KVO_HANDLER(WMversaokvocdAction);
  KVO_HANDLER(WMversaokvocdupdateAction);
  KVO_HANDLER(WMmemoAction);
  KVO_HANDLER(WMrdpAction);
  KVO_HANDLER(WMrdptoolsAction);
  KVO_HANDLER(WMinfoAction);
#undef KVO_HANDLER

 private:
  bool Dispatch(cgi::TWebRequest& request, cgi::TWebResponse& response);
  std::vector<TWebActionItem> actions_;
  std::string handledAction_ = "other";
};

// Whole-path comparison without regard to ASCII case.
bool PathMatches(std::string_view itemPath, std::string_view requestPath);

}  // namespace kvo::app
