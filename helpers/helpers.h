// The request helpers that several actions share: the choice of the configuration file by the
// caller's host, the check of the allowed databases and the login of the module's database.
#pragma once

#include <string>
#include <string_view>

#include "cgi/request.h"
#include "helpers/database.h"

namespace kvo::helpers {

// The intranet configuration file when REMOTE_HOST contains "192.168.254.", else the extranet.
std::string ChooseConfigFile(const cgi::TWebRequest& request);

// Throws, without contacting anything, the client's own failure for a wrong password
// (kvo::fb::Error, gds code 335544472) when the server settings list the allowed databases and
// `database` is not among them; nothing when the list is not set.
void RequireAllowedDatabase(std::string_view database);

// Disconnects `database`, sets its name from the posted "db" and its parameter lines to
// "user_name=<u>" and "password=<p>", and connects (RequireAllowedDatabase first). Throws the
// client's failure unchanged.
void ConnectModuleDatabase(Database& database, cgi::TWebRequest& request);

}  // namespace kvo::helpers
