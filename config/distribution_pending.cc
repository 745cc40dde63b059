#include "config/actions.h"
#include "platform/pending.h"

namespace kvo::config {

void ConfigAction(cgi::TWebRequest&, cgi::TWebResponse&) { NotAvailableYet("/config"); }
void VersionAction(cgi::TWebRequest& request, cgi::TWebResponse&, VersionSource) {
  NotAvailableYet(request.PathInfo());
}
void ListaModulosAction(cgi::TWebRequest&, cgi::TWebResponse&) {
  NotAvailableYet("/listakvomodulos");
}
void RdpAction(cgi::TWebRequest&, cgi::TWebResponse&) { NotAvailableYet("/rdp"); }
void RdpToolsAction(cgi::TWebRequest&, cgi::TWebResponse&) { NotAvailableYet("/rdptools"); }

}  // namespace kvo::config
