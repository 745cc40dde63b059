// TKVOAppDataSet: a client data set whose rows come from the server's /sql service. RunRemote
// writes the parameter values into the statement, posts it with the database path and the
// credentials, and loads the data packet of the answer; the server's error page ends in an
// error box. Also the plain text functions the exchange is built from.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "kvo/client/db.h"

namespace kvo::client {

namespace detail {
class HttpClient;
}

// The characters that may stand on either side of a parameter marker.
inline constexpr std::string_view SQLWordDelimiters{"\t\n\r !(),.?", 10};

// The first whole occurrence of `pattern` in `text` (1-based first and last positions), or
// nullopt. Whole: at the start or after a delimiter, and at the end or before a delimiter.
// With `ignoreCase`, ASCII letters are compared without regard to case.
struct TWordPosition {
  size_t First = 0, Last = 0;
  bool operator==(const TWordPosition&) const = default;
};
std::optional<TWordPosition> FindWholeWord(std::string_view text, std::string_view pattern,
                                           bool ignoreCase, std::string_view delimiters);
// `text` with the first (or, with `replaceAll`, every) whole occurrence of `oldPattern`
// replaced by `newText`; inserted text is never searched again.
std::string ReplaceWholeWord(std::string_view text, std::string_view oldPattern,
                             std::string_view newText, bool replaceAll, bool ignoreCase,
                             std::string_view delimiters);
// The SQL literal of a number: "0.0000" (four decimals, rounded, always ".").
std::string FloatToSQL(double value);

// Whether the remote route reads rows of `sql`: trimmed of blanks and control characters, it
// begins with "select " in any letter case. Other statements run on the server without rows.
bool IsRemoteSelect(std::string_view sql);

// What ApplyProxy gave the HTTP client.
struct THttpProxySettings {
  std::string Host;
  int32_t Port = 0;
  bool BasicAuthentication = false;
  std::string Username;
  std::string Password;
  bool operator==(const THttpProxySettings&) const = default;
};

class TKVOAppDataSet : public TClientDataSet {
 public:
  explicit TKVOAppDataSet(TComponent* owner = nullptr);
  ~TKVOAppDataSet() override;

  std::string URL;  // base address of the web server, used unchanged
  std::string WebServer = "ikvowebserver.dll";
  std::string AltWebServer = "kvowebserver.exe";  // never addressed
  std::string DataBaseName;                       // sent as db
  std::string User;                               // sent as u
  std::string Password;                           // sent as p
  bool Compressed = false;                        // ask for the compressed binary answer to selects
  bool UseProxy = false;
  std::string ProxyHost;
  int32_t ProxyPort = 0;
  std::string ProxyUser;  // non-empty: Basic proxy authentication
  std::string ProxyPass;

  static constexpr std::array<std::string_view, 12> PublishedProperties = {
      "URL",        "WebServer", "AltWebServer", "DataBaseName", "User",      "Password",
      "Compressed", "ProxyHost", "ProxyPort",    "ProxyUser",    "ProxyPass", "UseProxy"};

  // One exchange with URL + "/" + WebServer + "/sql". Returns after a loaded answer, after a
  // statement that is not a select (the data set then stays closed, keeping its previous
  // packet), and after the server's error page or an XML answer that cannot be loaded (both
  // shown in the error box; the data set stays closed). Throws kvo::Error when the request
  // fails (the HTTP client's message, or the status line of a non-2xx answer), when a
  // compressed answer does not inflate ("Error"), when its packet cannot be read, or when a
  // parameter value cannot be converted (before anything is sent). The wait window, when
  // asked for, is shown before the request and closed on every way out.
  void RunRemote(const std::string& sql, bool showWait);
  // Rewrites the HTTP client's proxy settings from UseProxy and the Proxy* properties.
  void ApplyProxy();
  const THttpProxySettings& HttpProxy() const;
  // The statement with CR and LF turned into blanks, "=:" into "= :", and every whole ":name"
  // of each parameter (in list order, letter case ignored) replaced by its SQL literal.
  std::string ExpandParams(std::string_view sql) const;
  // The message of the server's HTML error page; empty when the answer holds none.
  static std::string ExtractServerMessage(std::string_view answer);

 private:
  std::unique_ptr<detail::HttpClient> http_;
};

// The SQL literal of one parameter, as ExpandParams writes it.
std::string ParamLiteral(const TParam& param);

}  // namespace kvo::client
