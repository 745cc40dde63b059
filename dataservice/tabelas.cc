// /tabelas: the user tables of a database, one name per line.
#include <exception>

#include "configfiles/text_lines.h"
#include "dataservice/actions.h"
#include "helpers/helpers.h"
#include "helpers/statement_limit.h"
#include "platform/error.h"
#include "platform/error_page.h"

namespace kvo::dataservice {

namespace {

const char kTablesStatement[] =
    "Select RDB$RELATION_NAME from RDB$RELATIONS  where RDB$VIEW_BLR is NULL and "
    "RDB$SYSTEM_FLAG = 0 ORDER BY RDB$RELATION_NAME";

std::string TrimRightBlanks(std::string_view s) {
  size_t end = s.find_last_not_of(' ');
  return std::string(end == std::string_view::npos ? std::string_view() : s.substr(0, end + 1));
}

}  // namespace

void TabelasAction(cgi::TWebRequest& request, cgi::TWebResponse& response,
                   helpers::Database& dbkvo) {
  config::TextLines lines;
  try {
    helpers::ConnectModuleDatabase(dbkvo, request);
    fb::Work& work = dbkvo.work();
    helpers::WithinStatementLimit(work, [&] {
      fb::ResultSet rows = work.Prepare(kTablesStatement).Open();
      while (rows.Fetch()) lines.push_back(TrimRightBlanks(rows.GetText(0)));
    });
    helpers::CommitForCaller(work, request);
    response.SetContent(config::JoinLines(lines));
    dbkvo.Disconnect();
  } catch (const std::exception& e) {
    // The work stays as it is; it is rolled back when the web module goes, when the request
    // ends.
    response.SetFailureContent(platform::BuildErrorPage(MessageOf(e)));
  }
}

}  // namespace kvo::dataservice
