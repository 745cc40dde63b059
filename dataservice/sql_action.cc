// /sql: runs one statement for a remote client and answers with a data packet (XML, or binary
// compressed with zlib), an empty body, or the error page. Every statement and failure goes to
// the statement log.
#include <optional>
#include <string>
#include <vector>

#include "configfiles/paths.h"
#include "configfiles/server_settings.h"
#include "dataservice/actions.h"
#include "dataservice/statement_log.h"
#include "fb/fb.h"
#include "fbpacket/fb_packet.h"
#include "helpers/helpers.h"
#include "packet/compress.h"
#include "packet/packet.h"
#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/stream.h"

namespace kvo::dataservice {

namespace {

const char kXmlDeclaration[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?> ";

// Trimmed of blanks and control characters at both ends, it starts with "select" in any case.
bool IsSelect(std::string_view q) {
  return platform::StartsWithAscii(platform::TrimControls(q), "select");
}

// Ends the connection on a failure path: what the request wrote is rolled back, and a failure
// of that clean-up never hides the one being reported.
void CloseAfterFailure(std::optional<fb::Attachment>& connection) noexcept {
  if (connection) connection->CloseAfterFailure();
}

}  // namespace

void SqlAction(cgi::TWebRequest& request, cgi::TWebResponse& response) {
  try {
    StatementLog log(config::kStatementLog, config::ServerSettings::Read().LogCopies);
    std::optional<fb::Attachment> connection;
    std::optional<fb::Transaction> transaction;
    bool headersSent = false;
    try {
      const cgi::FieldList& fields = request.ContentFields();
      const std::string q = fields.Value("q");
      // One value, checked and attached: the list sees exactly the text the client is given.
      const std::string database = fields.Value("db");
      helpers::RequireAllowedDatabase(database);
      const bool select = IsSelect(q);
      std::vector<std::string> params = {"user_name=" + fields.Value("u"),
                                         "password=" + fields.Value("p")};
      // Statements that write carry Windows-1252 literals, which the server must convert to
      // each column's own character set; reads convert in the program instead (fb::ToCp1252)
      // so that a character outside the code page can never make a read fail.
      if (!select) params.push_back("lc_ctype=WIN1252");
      connection.emplace(fb::Attachment::Open(database, params));
      if (select) {
        log.Add(q);
        transaction.emplace(connection->StartTransaction());
        fb::Statement statement = connection->Prepare(*transaction, q);
        statement.LookupPrecisions(*transaction);
        std::optional<packet::Packet> result;
        {
          fb::ResultSet rows = statement.Open();
          result.emplace(
              fbpacket::BuildPacket(rows, statement.OutputColumns(),
                                    config::ServerSettings::Read().MaxPacketBytes.value_or(0)));
          rows.Close();
        }
        if (platform::SameTextAscii(fields.Value("z"), "true")) {
          platform::MemoryStream compressed;
          {
            platform::MemoryStream binary;
            packet::RenderBinary(*result, binary);
            result.reset();
            packet::CompressStream(binary, compressed);
          }
          compressed.SetPosition(0);
          response.SetContentType("application/octet-stream");
          response.SendResponse();
          headersSent = true;
          response.SendStream(compressed);
        } else {
          std::string body = kXmlDeclaration;
          packet::RenderXml(*result, body);
          result.reset();
          response.SetContent(std::move(body));
          connection->Close();
        }
      } else {
        try {
          log.Add(q);
          transaction.emplace(connection->StartTransaction());
          fb::Statement statement = connection->Prepare(*transaction, q);
          // A statement that returns rows without starting with the word (a common table
          // expression, say) is refused before it runs.
          if (statement.HasCursor()) throw Error("use Open para uma Select Statement");
          statement.Execute();
          // COMMIT or ROLLBACK run as the statement has ended the transaction itself.
          if (transaction->Active()) transaction->Commit();
        } catch (const std::exception& e) {
          const std::string message = MessageOf(e);
          CloseAfterFailure(connection);
          log.Add(message);
          response.SetFailureContent(helpers::BuildErrorPage(message));
        }
      }
    } catch (const std::exception& e) {
      const std::string message = MessageOf(e);
      CloseAfterFailure(connection);
      // Once the binary answer's headers are out, a failure can only be logged.
      if (!headersSent) response.SetFailureContent(helpers::BuildErrorPage(message));
      log.Add(message);
    }
    log.Save();
    // Closing commits what is still open, before the transaction object could roll it back.
    if (connection && connection->IsOpen()) connection->Close();
  } catch (const std::exception& e) {
    response.SetFailureContent(helpers::BuildErrorPage(MessageOf(e)));
  }
}

}  // namespace kvo::dataservice
