// /criarib: runs one statement on a connection described by the caller, or exports the column
// NOME of a query to C:\tabela.txt. No guard of its own: failures reach the default handling.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "config/text_lines.h"
#include "dataservice/actions.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/winpath.h"

namespace kvo::dataservice {

namespace {

const char kExportFile[] = "C:\\tabela.txt";

[[noreturn]] void CreateFailure(std::string_view windowsPath, int err) {
  throw Error("Cannot create file \"" + platform::WindowsFullPath(windowsPath) + "\". " +
                  platform::SystemReason(err),
              "EFCreateError");
}

// Replaces the file whole or not at all: the bytes go to a name of this process beside it and
// are renamed into place when complete, so a failed or overlapping export never leaves a torn
// file (of overlapping ones, the last to finish wins).
void ReplaceFile(std::string_view windowsPath, std::string_view bytes) {
  auto host = platform::HostPath(windowsPath);
  if (!host) CreateFailure(windowsPath, EINVAL);
  std::string temp = *host + "." + std::to_string(getpid()) + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) CreateFailure(windowsPath, errno);
  int err = 0;
  for (size_t done = 0; done < bytes.size() && !err;) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      err = n < 0 ? errno : EIO;
    else
      done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && !err) err = errno;
  if (!err && std::rename(temp.c_str(), host->c_str()) != 0) err = errno;
  if (err) {
    ::unlink(temp.c_str());
    CreateFailure(windowsPath, err);
  }
}

bool MentionsSelect(std::string_view statement) {
  std::string lower(statement);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower.find("select") != std::string::npos;
}

// The index of the column named NOME (any letter case, the first of several), or throws.
size_t NomeColumn(const fb::ResultSet& rows) {
  const auto& columns = rows.Columns();
  for (size_t i = 0; i < columns.size(); ++i) {
    const std::string& name = columns[i].name;
    if (name.size() == 4) {
      std::string upper = name;
      for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      if (upper == "NOME") return i;
    }
  }
  throw Error("Field 'NOME' not found");
}

void RunStatement(const std::string& database, const std::string& params,
                  const std::string& statement) {
  const config::TextLines paramLines = config::SplitLines(params);
  // The caller writes the whole parameter text: a line that would be skipped is refused, so a
  // mistyped name is reported instead of ending in a login refused without a reason.
  fb::ParseConnectionParams(paramLines);
  fb::Attachment attachment = fb::Attachment::Open(database, paramLines);
  fb::Transaction transaction = attachment.StartTransaction();
  if (!MentionsSelect(statement)) {
    attachment.Prepare(transaction, statement).Execute();
    transaction.Commit();
  } else {
    config::TextLines lines;
    {
      fb::ResultSet rows = attachment.Prepare(transaction, statement).Open();
      // Checked before the first row, so that an empty result without the column fails too.
      size_t nome = NomeColumn(rows);
      while (rows.Fetch()) lines.push_back(rows.GetAsText(nome));
    }
    ReplaceFile(kExportFile, config::JoinLines(lines));
  }
  // Closing commits what is still open, the export's transaction included.
  attachment.Close();
}

}  // namespace

void CriaribAction(cgi::TWebRequest& request, cgi::TWebResponse&) {
  const cgi::FieldList& fields = request.ContentFields();
  std::string statement = fields.Value("q");
  std::string params = fields.Value("p");
  std::string database = fields.Value("db");
  RunStatement(database, params, statement);
}

}  // namespace kvo::dataservice
