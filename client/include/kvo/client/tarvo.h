// The multi-tier components: the settings bag TTarvoMultiTierProps, the database component
// TTarvoIBDatabase that connects either directly or in multi-tier mode (statements then travel
// to the server's /sql service, see kvo_app_dataset.h), and TTarvoIBTransaction, which never
// starts a transaction while its database is in multi-tier mode.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "kvo/client/ib.h"

namespace kvo::client {

// The multi-tier settings. Copying copies all eleven values.
class TTarvoMultiTierProps {
 public:
  bool Active = false;  // multi-tier mode is on
  // Base address of the web server (scheme, host, directories before the server program),
  // used unchanged: a request goes to URL + "/" + WebServer + the service path.
  std::string URL;
  std::string WebServer = "ikvowebserver.dll";
  std::string AltWebServer = "kvowebserver.exe";  // stored and handed on, never addressed
  std::string ProxyHost;
  std::string ProxyPass;
  int32_t ProxyPort = 0;
  std::string ProxyUser;    // non-empty: Basic proxy authentication
  bool UseProxy = false;    // the remote data set's requests go through the proxy
  bool ShowWait = false;    // the wait window during a remote exchange
  bool Compressed = false;  // compressed binary answers to selects

  // The order in which the values are published (stored with the owning component).
  static constexpr std::array<std::string_view, 11> PublishedProperties = {
      "Active",    "URL",       "WebServer", "AltWebServer", "Compressed", "ProxyHost",
      "ProxyPass", "ProxyPort", "ProxyUser", "UseProxy",     "ShowWait"};
};

// The client settings file that LoadSettings reads (section "General").
inline constexpr const char* kClientSettingsFile = "C:\\KVO\\Bin\\KVO.ini";

class KVO_CLIENT_API TTarvoIBDatabase : public TIBDatabase {
 public:
  explicit TTarvoIBDatabase(TComponent* owner = nullptr);
  // Connected := false first (in multi-tier mode that only clears RemoteConnected: no network
  // traffic); never throws.
  ~TTarvoIBDatabase() override;

  // The connected state in multi-tier mode.
  bool RemoteConnected() const { return remoteConnected_; }
  // In multi-tier mode, ask the server's /login whether the credentials are good at every connect.
  bool AlwaysConnected = false;
  // Refresh the bag from the client settings file at every connect.
  bool UseRegProps = true;

  // The component's own bag; assigning copies the given bag's values into it.
  TTarvoMultiTierProps& TarvoMultiTierProps() { return props_; }
  const TTarvoMultiTierProps& TarvoMultiTierProps() const { return props_; }
  void SetTarvoMultiTierProps(const TTarvoMultiTierProps& props) { props_ = props; }

  // With UseRegProps, reads eight values of the bag from kClientSettingsFile, section "General"
  // ("WebServerActive", "WebServerShowWait", "URLBase", "ProxyEnabled", "ProxyHost",
  // "ProxyPorta", "ProxyUsuario", "ProxySenha"); missing file or key gives the default, so all
  // eight are overwritten. WebServer, AltWebServer and Compressed are never read.
  void LoadSettings();

  static constexpr std::array<std::string_view, 3> PublishedProperties = {
      "UseRegProps", "AlwaysConnected", "TarvoMultiTierProps"};

 protected:
  // LoadSettings; then direct mode: the base attachment; multi-tier mode: RemoteConnected from
  // the /login answer (AlwaysConnected) or true. The refused answer ("false" in any case) shows
  // the error box "Não foi possível conectar. Usuário/Senha inválidos", CR, the answer; other
  // answers connect nothing silently; a failed request throws the HTTP client's message.
  void ConnectCore() override;
  // Multi-tier mode: RemoteConnected := false, nothing sent. Direct mode: the base detachment.
  void DisconnectCore() override;
  // Multi-tier mode (the bag's Active now): RemoteConnected; otherwise the base's attachment.
  bool ConnectedCore() const override;

 private:
  bool remoteConnected_ = false;
  TTarvoMultiTierProps props_;
};

// A transaction whose Active follows its database's mode. Active and SetActive hide the base's
// (they are not virtual): code that holds the object as a TIBTransaction gets the base rule.
class KVO_CLIENT_API TTarvoIBTransaction : public TIBTransaction {
 public:
  explicit TTarvoIBTransaction(TComponent* owner = nullptr) : TIBTransaction(owner) {}

  // False when DefaultDatabase is a TTarvoIBDatabase in multi-tier mode; else the base state.
  bool Active() const;
  // DefaultDatabase a TTarvoIBDatabase in multi-tier mode: the base activation with false.
  // A TTarvoIBDatabase in direct mode: connect it when not connected (for either value), then
  // the base activation with `value`. Any other database, or none: the base activation.
  void SetActive(bool value);
};

}  // namespace kvo::client
