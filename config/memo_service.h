// The memo service's building blocks: the one-value lookup that runs on the client library's own
// components (so the server machine's client settings file can send it through a web server), and
// the path of a company's memo file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "helpers/database.h"
#include "kvo/client/ib.h"

namespace kvo::config {

// The longest the lookup may take through a web server, in seconds. That web server is usually
// this program's own: in FastCGI mode the lookup needs a free process of the very pool whose
// processes may all be waiting on lookups, so it must give up, and free its process, well before
// the web server gives up on the caller.
inline constexpr double kLookupSeconds = 10;

// Runs `statement` on a fresh TTarvoIBDatabase that copies `databaseName` and the parameter
// lines, with its own transaction and query, and returns the first column of the first row as
// text ("" when there are no rows). The database component reads "C:\KVO\Bin\KVO.ini" when it
// connects, so the statement runs directly or through the web server that file names (for at most
// kLookupSeconds: then it throws "No answer from <URL> within 10 seconds, ..."). Everything
// it creates is released before it returns. Throws what the connection or the query throws
// (kvo::Error, message unchanged).
std::string FetchFirstValue(std::string_view databaseName, const std::vector<std::string>& params,
                            std::string_view statement);
// The same with the database name and parameter lines of a component.
std::string FetchFirstValue(const helpers::Database& database, std::string_view statement);
std::string FetchFirstValue(const client::TIBDatabase& database, std::string_view statement);

// The memo file of a company: `directory` + "\" + `cnpj` + ".rtf", unchanged.
std::string MemoPath(std::string_view directory, std::string_view cnpj);
// Whether `cnpj` names a file inside the memo directory: false for a ".." component ("\" and "/"
// both separate components, as on Windows), a leading separator, a ":" or a NUL byte. A written
// CNPJ such as 12.345.678/0001-90 passes: it names a file in a sub-folder.
bool IsMemoName(std::string_view cnpj);

}  // namespace kvo::config
