// The multi-tier database and transaction components.
#include "kvo/client/tarvo.h"

#include "client/http_client.h"
#include "configfiles/profile_file.h"
#include "kvo/client/ui.h"
#include "platform/ascii.h"

namespace kvo::client {

TTarvoIBDatabase::TTarvoIBDatabase(TComponent* owner) : TIBDatabase(owner) {}

TTarvoIBDatabase::~TTarvoIBDatabase() {
  // Here, not in the base: only this class's DisconnectCore knows the multi-tier mode.
  try {
    SetConnected(false);
  } catch (...) {
    // Destructors never throw; the base closes the attachment all the same.
  }
}

void TTarvoIBDatabase::LoadSettings() {
  if (!UseRegProps) return;
  config::TProfileFile ini(kClientSettingsFile);
  const char* section = "General";
  props_.Active = ini.ReadFlag(section, "WebServerActive", false);
  props_.ShowWait = ini.ReadFlag(section, "WebServerShowWait", false);
  props_.URL = ini.ReadText(section, "URLBase", "");
  props_.UseProxy = ini.ReadFlag(section, "ProxyEnabled", false);
  props_.ProxyHost = ini.ReadText(section, "ProxyHost", "");
  props_.ProxyPort = ini.ReadNumber(section, "ProxyPorta", 0);
  props_.ProxyUser = ini.ReadText(section, "ProxyUsuario", "");
  props_.ProxyPass = ini.ReadText(section, "ProxySenha", "");
}

void TTarvoIBDatabase::ConnectCore() {
  LoadSettings();
  if (!props_.Active) {
    TIBDatabase::ConnectCore();
    return;
  }
  TFormFields fields = {
      {"db", DatabaseName}, {"u", Params.Values("user_name")}, {"p", Params.Values("password")}};
  std::string answer = "true";
  if (AlwaysConnected) {
    // Straight to the server: the login check never goes through the bag's proxy.
    detail::HttpClient http;
    answer = http.Post(props_.URL + "/" + props_.WebServer + "/login", EncodeFormBody(fields));
  }
  std::string lower = platform::AsciiLowered(answer);
  remoteConnected_ = lower == "true";
  if (lower == "false") {
    UserInterface().ShowError("N\xE3o foi poss\xEDvel conectar. Usu\xE1rio/Senha inv\xE1lidos\r" +
                              answer);
  }
}

void TTarvoIBDatabase::DisconnectCore() {
  if (props_.Active) {
    remoteConnected_ = false;
    return;
  }
  TIBDatabase::DisconnectCore();
}

bool TTarvoIBDatabase::ConnectedCore() const {
  return props_.Active ? remoteConnected_ : TIBDatabase::ConnectedCore();
}

// ---------------------------------------------------------------------------------------------

bool TTarvoIBTransaction::Active() const {
  auto* db = dynamic_cast<TTarvoIBDatabase*>(DefaultDatabase);
  if (db && db->TarvoMultiTierProps().Active) return false;
  return TIBTransaction::Active();
}

void TTarvoIBTransaction::SetActive(bool value) {
  auto* db = dynamic_cast<TTarvoIBDatabase*>(DefaultDatabase);
  if (db) {
    if (db->TarvoMultiTierProps().Active) {
      TIBTransaction::SetActive(false);
      return;
    }
    if (!db->Connected()) db->SetConnected(true);
  }
  TIBTransaction::SetActive(value);
}

}  // namespace kvo::client
