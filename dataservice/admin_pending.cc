#include "dataservice/actions.h"
#include "platform/pending.h"

namespace kvo::dataservice {

void TabelasAction(cgi::TWebRequest&, cgi::TWebResponse&, fb::Database&) {
  NotAvailableYet("/tabelas");
}
void CriaribAction(cgi::TWebRequest&, cgi::TWebResponse&) {
  NotAvailableYet("/criarib");
}
void UserManagerAction(cgi::TWebRequest&, cgi::TWebResponse&) {
  NotAvailableYet("/usermanager");
}

}  // namespace kvo::dataservice
