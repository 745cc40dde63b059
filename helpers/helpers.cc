#include "helpers/helpers.h"

#include <cstdio>

#include "configfiles/allowed_databases.h"
#include "configfiles/paths.h"
#include "configfiles/server_settings.h"

namespace kvo::helpers {

std::string ChooseConfigFile(const cgi::TWebRequest& request) {
  if (request.StringVariable(cgi::rvRemoteHost).find("192.168.254.") != std::string::npos)
    return config::kIntranetConfig;
  return config::kExtranetConfig;
}

void RequireAllowedDatabase(std::string_view database) {
  const std::optional<std::string> allowed = config::ServerSettings::Read().AllowedDatabases;
  if (!allowed || config::DatabaseAllowed(*allowed, database)) return;
  // The caller learns nothing; the administrator finds the reason in the web server's error
  // log, on one line whatever the posted name holds.
  std::string name(database.substr(0, 200));
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  std::fprintf(stderr, "kvowebserver: the database \"%s\" is refused: %s (%s, [%s])\n",
               name.c_str(),
               allowed->find_first_not_of(" \t;") == std::string::npos
                   ? "AllowedDatabases is empty, so no database is allowed"
                   : "it is not in AllowedDatabases",
               config::kServerConfig, config::kServerSection);
  // The same answer as a wrong password, so that a refusal tells nothing about the target.
  throw fb::UnknownLogin();
}

void ConnectModuleDatabase(Database& database, cgi::TWebRequest& request) {
  database.Disconnect();
  const cgi::FieldList& fields = request.ContentFields();
  database.DatabaseName = fields.Value("db");
  RequireAllowedDatabase(database.DatabaseName);
  database.Params.clear();
  database.Params.push_back("user_name=" + fields.Value("u"));
  database.Params.push_back("password=" + fields.Value("p"));
  database.Connect();
}

void CommitForCaller(fb::Work& work, const cgi::TWebRequest& request) {
  if (!request.StillWanted()) {
    std::fprintf(stderr, "kvowebserver: %s\n", kAnswerNotWanted);
    throw Error(kAnswerNotWanted);
  }
  work.Commit();
}

}  // namespace kvo::helpers
