// /memo: a company's stored RTF memo, from the directory that the client's own database records.
#include "config/memo_service.h"

#include <cerrno>

#include "config/actions.h"
#include "configfiles/text_lines.h"
#include "fb/work.h"
#include "helpers/helpers.h"
#include "platform/error.h"
#include "platform/file_errors.h"
#include "platform/files.h"
#include "platform/winpath.h"

namespace kvo::config {

std::string FetchFirstValue(std::string_view databaseName, const std::vector<std::string>& params,
                            std::string_view statement, const RemoteLookup& remote) {
  if (remote) {
    if (std::optional<std::string> value = remote(databaseName, params, statement)) return *value;
  }
  // The login is the caller's: never the embedded engine, which takes any password.
  fb::Work work(databaseName, params, /*serverOnly=*/true, fb::PlainText::Cp1252);
  std::string result;
  {
    fb::ResultSet rows = work.Prepare(statement).Open();
    if (!rows.Columns().empty() && rows.Fetch()) result = rows.GetAsText(0);
  }
  work.Commit();
  return result;
}

std::string FetchFirstValue(const helpers::Database& database, std::string_view statement,
                            const RemoteLookup& remote) {
  return FetchFirstValue(database.DatabaseName, database.Params, statement, remote);
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

void MemoAction(cgi::TWebRequest& request, cgi::TWebResponse& response, helpers::Database& dbkvo,
                const RemoteLookup& remote) {
  helpers::ConnectModuleDatabase(dbkvo, request);
  const std::string directory = FetchFirstValue(dbkvo, "select caminho from config_memo", remote);
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
