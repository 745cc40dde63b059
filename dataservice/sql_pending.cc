#include "dataservice/actions.h"
#include "platform/pending.h"

namespace kvo::dataservice {

void SqlAction(cgi::TWebRequest&, cgi::TWebResponse&) {
  NotAvailableYet("/sql");
}

}  // namespace kvo::dataservice
