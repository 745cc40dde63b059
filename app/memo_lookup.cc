#include "app/memo_lookup.h"

#include "config/memo_service.h"
#include "kvo/client/tarvo.h"
#include "kvo/client/tarvo_query.h"

namespace kvo::app {

std::optional<std::string> LookupThroughWebServer(std::string_view databaseName,
                                                  const std::vector<std::string>& params,
                                                  std::string_view statement) {
  std::string result;
  // Declared so that they go in the order database, transaction, query; the query and the
  // transaction only refer to the database, which therefore must not be used after it goes.
  client::TTarvoIBQuery query;
  client::TTarvoIBTransaction transaction;
  client::TTarvoIBDatabase database;
  database.LoadSettings();
  if (!database.TarvoMultiTierProps().Active) return std::nullopt;
  database.LoginPrompt = false;
  database.DatabaseName = std::string(databaseName);
  for (const std::string& line : params) database.Params.Add(line);
  // Reads the settings file again: the route is the one it names at this moment.
  database.SetConnected(true);
  if (!database.TarvoMultiTierProps().Active) return std::nullopt;

  transaction.DefaultDatabase = &database;
  query.Database = &database;
  query.Transaction = &transaction;
  query.Close();
  query.Limits.TimeoutSeconds = config::kLookupSeconds;
  query.SQL().SetText(statement);
  query.OpenQuery();
  if (!query.IsEmpty() && query.FieldCount() > 0) result = query.Fields(0).AsString();

  database.SetConnected(false);
  return result;
}

}  // namespace kvo::app
