#include "config/actions.h"
#include "platform/pending.h"

namespace kvo::config {

void MemoAction(cgi::TWebRequest&, cgi::TWebResponse&, fb::Database&) { NotAvailableYet("/memo"); }

}  // namespace kvo::config
