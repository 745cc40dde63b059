// The memo service's building blocks: the one-value lookup of the memo directory, and the path
// of a company's memo file.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "helpers/database.h"

namespace kvo::config {

// The longest the lookup may take through a web server, in seconds. That web server is usually
// this program's own: in FastCGI mode the lookup needs a free process of the very pool whose
// processes may all be waiting on lookups, so it must give up, and free its process, well before
// the web server gives up on the caller.
inline constexpr double kLookupSeconds = 10;

// The lookup through a web server, which the server machine's client settings file
// ("C:\KVO\Bin\KVO.ini") may choose: given the database name, the parameter lines and the
// statement, it answers the first column of the first row as text ("" when there are no rows),
// or nullopt when the settings choose the direct route. It throws what the request throws
// (kvo::Error, message unchanged); it must give up after kLookupSeconds. The program provides
// it; the service knows nothing of how it travels.
using RemoteLookup = std::function<std::optional<std::string>(
    std::string_view databaseName, const std::vector<std::string>& params,
    std::string_view statement)>;

// Runs `statement` and returns the first column of the first row as text ("" when there are no
// rows, or for NULL): through `remote` when it takes the lookup, otherwise directly, as one unit
// of work (fb::Work) on the database server with the parameter lines, committed before the value
// is returned, so a commit the server refuses is the lookup's failure. Everything it opens is
// closed before it returns. Throws what the connection, the query or the commit throws
// (kvo::Error, message unchanged).
std::string FetchFirstValue(std::string_view databaseName, const std::vector<std::string>& params,
                            std::string_view statement, const RemoteLookup& remote = {});
// The same with the database name and parameter lines of the component.
std::string FetchFirstValue(const helpers::Database& database, std::string_view statement,
                            const RemoteLookup& remote = {});

// The memo file of a company: `directory` + "\" + `cnpj` + ".rtf", unchanged.
std::string MemoPath(std::string_view directory, std::string_view cnpj);
// Whether `cnpj` names a file inside the memo directory: false for a ".." component ("\" and "/"
// both separate components, as on Windows), a leading separator, a ":" or a NUL byte. A written
// CNPJ such as 12.345.678/0001-90 passes: it names a file in a sub-folder.
bool IsMemoName(std::string_view cnpj);

}  // namespace kvo::config
