// /memo: a company's stored RTF memo, from the directory that the client's own database records.
#include "config/memo_service.h"

#include <cerrno>

#include "config/actions.h"
#include "configfiles/text_lines.h"
#include "helpers/helpers.h"
#include "kvo/client/tarvo.h"
#include "kvo/client/tarvo_query.h"
#include "platform/error.h"
#include "platform/file_errors.h"
#include "platform/files.h"
#include "platform/winpath.h"

namespace kvo::config {

std::string FetchFirstValue(std::string_view databaseName, const std::vector<std::string>& params,
                            std::string_view statement) {
  std::string result;
  // Declared so that they go in the order database, transaction, query; the query and the
  // transaction only refer to the database, which therefore must not be used after it goes.
  client::TTarvoIBQuery query;
  client::TTarvoIBTransaction transaction;
  client::TTarvoIBDatabase database;
  database.LoginPrompt = false;
  // The login is the caller's: never the embedded engine, which takes any password.
  database.ServerOnly = true;
  database.DatabaseName = std::string(databaseName);
  for (const std::string& line : params) database.Params.Add(line);
  database.SetConnected(true);

  transaction.DefaultDatabase = &database;
  query.Database = &database;
  query.Transaction = &transaction;
  // A transaction of its own, whatever an earlier activation left behind.
  transaction.SetActive(false);
  transaction.SetActive(true);

  query.Close();
  query.Limits.TimeoutSeconds = kLookupSeconds;
  query.SQL().SetText(statement);
  query.OpenQuery();
  if (!query.IsEmpty() && query.FieldCount() > 0) result = query.Fields(0).AsString();

  database.SetConnected(false);
  return result;
}

std::string FetchFirstValue(const helpers::Database& database, std::string_view statement) {
  return FetchFirstValue(database.DatabaseName, database.Params, statement);
}

std::string FetchFirstValue(const client::TIBDatabase& database, std::string_view statement) {
  return FetchFirstValue(database.DatabaseName, database.Params.Lines(), statement);
}

std::string MemoPath(std::string_view directory, std::string_view cnpj) {
  std::string path(directory);
  path += '\\';
  path += cnpj;
  path += ".rtf";
  return path;
}

bool IsMemoName(std::string_view cnpj) {
  // A ":" could name a drive or, on Windows, a stream of another file.
  return cnpj.find(':') == std::string_view::npos && platform::StaysInsideFolder(cnpj);
}

void MemoAction(cgi::TWebRequest& request, cgi::TWebResponse& response, helpers::Database& dbkvo) {
  helpers::ConnectModuleDatabase(dbkvo, request);
  const std::string directory = FetchFirstValue(dbkvo, "select caminho from config_memo");
  const std::string cnpj = request.ContentFields().Value("cnpj");
  const std::string path = MemoPath(directory, cnpj);
  dbkvo.Disconnect();

  try {
    // A name that would lead out of the memo directory is answered as a memo that does not
    // exist, so the answer tells nothing about files elsewhere.
    if (!IsMemoName(cnpj)) {
      throw platform::CannotOpenFile(path, ENOENT);
    }
    response.SetContent(JoinLines(LoadLines(path)));
  } catch (const std::exception& e) {
    response.SetFailureContent(MessageOf(e));
  }
}

}  // namespace kvo::config
