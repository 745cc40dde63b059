// The list of databases that the server's actions may attach to (the AllowedDatabases key of
// the server settings) and how a posted database name is matched against it.
#pragma once

#include <string>
#include <string_view>

namespace kvo::config {

// The comparable form of a database name as the Firebird client reads it: "host/port:path"
// for a server name ("inet://host:port/path" too), the name itself for a local path or alias.
// The host and the whole name lose their ASCII case; "localhost" and "127.0.0.1" are one host;
// port 3050 (or its service name gds_db) is left out like an omitted port; "." and ".."
// components and doubled separators of the path are resolved, so that "/data/../etc/x" cannot
// pass for a name under "/data".
std::string CanonicalDatabaseName(std::string_view database);

// True when `database` matches an entry of `list` (entries separated by ";", blanks around them
// ignored; "*" in an entry matches any run of characters). Both sides are compared in their
// canonical form. An empty list allows nothing.
bool DatabaseAllowed(std::string_view list, std::string_view database);

}  // namespace kvo::config
