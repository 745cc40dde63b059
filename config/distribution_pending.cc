#include "config/actions.h"
#include "platform/pending.h"

namespace kvo::config {

void VersionAction(cgi::TWebRequest& request, cgi::TWebResponse&, VersionSource) {
  NotAvailableYet(request.PathInfo());
}
void ListaModulosAction(cgi::TWebRequest&, cgi::TWebResponse&) {
  NotAvailableYet("/listakvomodulos");
}

}  // namespace kvo::config
