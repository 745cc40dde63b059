// The request helpers that several actions share: the choice of the configuration file by the
// caller's host, the check of the allowed databases, the login of the module's database and the
// commit of a request's work.
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

// The message of work rolled back because nobody waits for its answer any more.
inline constexpr const char* kAnswerNotWanted =
    "The web server no longer waits for this request's answer (its time limit passed or the "
    "connection closed); nothing was committed.";

// Commits `work` (fb::Work::Commit) if the web server still waits for the request's answer;
// otherwise throws kvo::Error(kAnswerNotWanted) and leaves the work to roll back, so that a
// request its caller was told had failed never commits.
void CommitForCaller(fb::Work& work, const cgi::TWebRequest& request);

}  // namespace kvo::helpers
