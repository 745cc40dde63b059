#include "helpers/helpers.h"

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
  // The same answer as a wrong password, so that a refusal tells nothing about the target.
  throw fb::Error(
      "Your user name and password are not defined. Ask your database administrator to set up "
      "a Firebird login.",
      {335544472});
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

}  // namespace kvo::helpers
