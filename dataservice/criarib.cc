// /criarib: runs one statement on a connection described by the caller, or exports the column
// NOME of a query to C:\tabela.txt. No guard of its own: failures reach the default handling.
#include <string>
#include <vector>

#include "configfiles/text_lines.h"
#include "dataservice/actions.h"
#include "fb/work.h"
#include "helpers/helpers.h"
#include "helpers/statement_limit.h"
#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/replace_file.h"

namespace kvo::dataservice {

namespace {

const char kExportFile[] = "C:\\tabela.txt";

bool MentionsSelect(std::string_view statement) {
  return platform::ContainsAscii(statement, "select");
}

// The index of the column named NOME (any letter case, the first of several), or throws.
size_t NomeColumn(const fb::ResultSet& rows) {
  const auto& columns = rows.Columns();
  for (size_t i = 0; i < columns.size(); ++i) {
    if (platform::SameTextAscii(columns[i].name, "NOME")) return i;
  }
  throw Error("Field 'NOME' not found");
}

void RunStatement(const cgi::TWebRequest& request, const std::string& database,
                  const std::string& params, const std::string& statement) {
  const config::TextLines paramLines = config::SplitLines(params);
  // The caller writes the whole parameter text: a line that would be skipped is refused, so a
  // mistyped name is reported instead of ending in a login refused without a reason. Checked
  // before the database, so the answer tells nothing about which databases are served.
  fb::ParseConnectionParams(paramLines);
  helpers::RequireAllowedDatabase(database);
  const bool write = !MentionsSelect(statement);
  std::vector<std::string> attachLines = paramLines;
  // A statement that writes carries Windows-1252 literals for the server to convert to each
  // column's set, unless the caller's lines choose the connection's character set themselves.
  if (write && fb::ConnectionCharSet(attachLines).empty())
    attachLines.push_back("lc_ctype=WIN1252");
  // A failure below rolls back what ran, as the work goes.
  fb::Work work(database, attachLines, false, fb::PlainText::Cp1252Statements);
  if (write) {
    helpers::WithinStatementLimit(work, [&] { work.Prepare(statement).Execute(); });
    helpers::CommitForCaller(work, request);
    return;
  }
  config::TextLines names;
  helpers::WithinStatementLimit(work, [&] {
    fb::ResultSet rows = work.Prepare(statement).Open();
    // Checked before the first row, so that an empty result without the column fails too.
    size_t nome = NomeColumn(rows);
    while (rows.Fetch()) names.push_back(rows.GetAsText(nome));
  });
  // Committed before the file is written: an export is written only for work that stands.
  helpers::CommitForCaller(work, request);
  // Whole or not at all: an export that fails or overlaps another never leaves a torn file.
  platform::ReplaceWholeFile(kExportFile, config::JoinLines(names));
}

}  // namespace

void CriaribAction(cgi::TWebRequest& request, cgi::TWebResponse&) {
  const cgi::FieldList& fields = request.ContentFields();
  std::string statement = fields.Value("q");
  std::string params = fields.Value("p");
  std::string database = fields.Value("db");
  RunStatement(request, database, params, statement);
}

}  // namespace kvo::dataservice
