#include "config/actions.h"
#include "platform/pending.h"

namespace kvo::config {

void ListaModulosAction(cgi::TWebRequest&, cgi::TWebResponse&) {
  NotAvailableYet("/listakvomodulos");
}

}  // namespace kvo::config
