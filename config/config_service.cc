// /config: the settings of the handheld client (25 keys, optionally from a variant section) or
// of the desktop client (11 keys), scrambled.
#include <string>

#include "config/actions.h"
#include "config/service_text.h"
#include "configfiles/profile_file.h"
#include "configfiles/scramble.h"
#include "configfiles/text_lines.h"
#include "helpers/helpers.h"

namespace kvo::config {

namespace {

enum class Kind { Text, Integer };

struct MobileKey {
  const char* name;
  Kind kind;
};

// The order is the order the handheld client reads its lines in.
constexpr MobileKey kMobileKeys[] = {
    {"URLBase", Kind::Text},      {"URLUpdate", Kind::Text},     {"URLImagens", Kind::Text},
    {"RemotePath", Kind::Text},   {"RemoteUser", Kind::Text},    {"RemotePass", Kind::Text},
    {"URLAjuda", Kind::Text},     {"EMailDe", Kind::Text},       {"EmailNome", Kind::Text},
    {"EmailHost", Kind::Text},    {"EmailSenha", Kind::Text},    {"EmailUsuario", Kind::Text},
    {"MatrizDB", Kind::Text},     {"MatrizUsuario", Kind::Text}, {"MatrizSenha", Kind::Text},
    {"FTPHost", Kind::Text},      {"FTPUser", Kind::Text},       {"FTPSenha", Kind::Text},
    {"FTPPorta", Kind::Integer},  {"TipoProc", Kind::Text},      {"ChatHost", Kind::Text},
    {"ChatPorta", Kind::Integer}, {"SuporteDB", Kind::Text},     {"SuporteUser", Kind::Text},
    {"SuportePass", Kind::Text},
};

struct NetKey {
  const char* name;
  const char* defaultValue;
};

constexpr NetKey kNetKeys[] = {
    {"URLBase", kDefaultUrlBase},
    {"URLUpdate", kDefaultUrlUpdate},
    {"Atualizacao", kDefaultUrlUpdate},
    {"DBSuporte", kDefaultSupportDatabase},
    {"RDPServer", kDefaultRdpServer},
    {"RDPUser", "Suporte"},
    {"RDPPass", "Lorvendi7"},
    {"RDPDrives", "0"},
    {"RDPPrinters", "1"},
    {"RDPPorts", "0"},
    {"RDPCards", "0"},
};

}  // namespace

void ConfigAction(cgi::TWebRequest& request, cgi::TWebResponse& response) {
  const cgi::FieldList& fields = request.QueryFields();
  const std::string variant = fields.Value("l");
  // The trimmed value only decides whether there is a variant; the section keeps it as sent.
  const std::string suffix = TrimControls(variant).empty() ? "" : "." + variant;
  std::string client = TrimControls(fields.Value("app"));
  if (client.empty()) client = "AppMobile";

  const TProfileFile ini(helpers::ChooseConfigFile(request));
  TextLines lines;
  if (client == "AppMobile") {
    const std::string section = "KVO.Mobile" + suffix;
    for (const MobileKey& key : kMobileKeys) {
      const std::string value = key.kind == Kind::Integer
                                    ? std::to_string(ini.ReadNumber(section, key.name, 0))
                                    : ini.ReadText(section, key.name, "");
      lines.push_back(std::string(key.name) + "=" + value);
    }
  } else if (client == "AppNet") {
    for (const NetKey& key : kNetKeys)
      lines.push_back(std::string(key.name) + "=" +
                      ini.ReadText("KVO.Net", key.name, key.defaultValue));
  }
  response.SetContent(ScrambleText(JoinLines(lines), kScrambleKey));
}

}  // namespace kvo::config
