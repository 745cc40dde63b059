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
#include "fb/work.h"
#include "fbpacket/fb_packet.h"
#include "helpers/helpers.h"
#include "helpers/statement_limit.h"
#include "packet/compress.h"
#include "packet/packet.h"
#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/error_page.h"
#include "platform/stream.h"

namespace kvo::dataservice {

namespace {

const char kXmlDeclaration[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?> ";

// Trimmed of blanks and control characters at both ends, it starts with "select" in any case.
bool IsSelect(std::string_view q) {
  return platform::StartsWithAscii(platform::TrimControls(q), "select");
}

// What a statement that ran gives back: the packet as XML text, the compressed binary packet,
// or nothing (a statement without rows).
struct Answer {
  std::optional<std::string> xml;
  std::optional<platform::MemoryStream> compressed;
};

Answer PacketAnswer(packet::Packet result, bool compressed) {
  Answer answer;
  if (compressed) {
    platform::MemoryStream binary;
    packet::RenderBinary(result, binary);
    result = packet::Packet();
    packet::CompressStream(binary, answer.compressed.emplace());
    answer.compressed->SetPosition(0);
  } else {
    answer.xml.emplace(kXmlDeclaration);
    packet::RenderXml(result, *answer.xml);
  }
  return answer;
}

// Runs the posted statement as one unit of work, committed before anything is answered: a
// commit the server refuses, or a caller nobody waits for any more, is the request's failure,
// like any other.
Answer RunStatement(cgi::TWebRequest& request, StatementLog& log) {
  const cgi::FieldList& fields = request.ContentFields();
  const std::string q = fields.Value("q");
  // One value, checked and attached: the list sees exactly the text the client is given.
  const std::string database = fields.Value("db");
  helpers::RequireAllowedDatabase(database);
  const bool select = IsSelect(q);
  std::vector<std::string> params = {"user_name=" + fields.Value("u"),
                                     "password=" + fields.Value("p")};
  // Statements that write carry Windows-1252 literals, which the server must convert to each
  // column's own character set; reads convert in the program instead (fb::ToCp1252) so that a
  // character outside the code page can never make a read fail.
  if (!select) params.push_back("lc_ctype=WIN1252");
  // Names and literals beyond ASCII mean what the client wrote whatever the column they meet.
  fb::Work work(database, params, false, fb::PlainText::Cp1252Statements);
  log.AddStatement(q);
  std::optional<packet::Packet> result;
  helpers::WithinStatementLimit(work, [&] {
    fb::Statement statement = work.Prepare(q);
    if (select) {
      statement.LookupPrecisions(work.transaction());
      fb::ResultSet rows = statement.Open();
      result =
          fbpacket::BuildPacket(rows, config::ServerSettings::Read().MaxPacketBytes.value_or(0));
      rows.Close();
    } else {
      // A statement that returns rows without starting with the word (a common table
      // expression, say) is refused before it runs.
      if (statement.HasCursor()) throw Error("use Open para uma Select Statement");
      statement.Execute();
    }
  });
  Answer answer;
  if (result)
    answer = PacketAnswer(std::move(*result), platform::SameTextAscii(fields.Value("z"), "true"));
  helpers::CommitForCaller(work, request);
  return answer;
}

}  // namespace

void SqlAction(cgi::TWebRequest& request, cgi::TWebResponse& response) {
  StatementLog log(config::kStatementLog, config::ServerSettings::Read().LogCopies);
  try {
    Answer answer = RunStatement(request, log);
    if (answer.compressed) {
      response.SetContentType("application/octet-stream");
      response.SendResponse();
      response.SendStream(*answer.compressed);
    } else if (answer.xml) {
      response.SetContent(std::move(*answer.xml));
    }
  } catch (const std::exception& e) {
    // The work has rolled back and closed on its way out.
    const std::string message = MessageOf(e);
    log.Add(message);
    response.SetFailureContent(platform::BuildErrorPage(message));
  }
  log.Save();
}

}  // namespace kvo::dataservice
