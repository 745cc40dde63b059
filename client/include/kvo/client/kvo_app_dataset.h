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
KVO_CLIENT_API std::optional<TWordPosition> FindWholeWord(std::string_view text,
                                                          std::string_view pattern, bool ignoreCase,
                                                          std::string_view delimiters);
// `text` with the first (or, with `replaceAll`, every) whole occurrence of `oldPattern`
// replaced by `newText`; inserted text is never searched again.
KVO_CLIENT_API std::string ReplaceWholeWord(std::string_view text, std::string_view oldPattern,
                                            std::string_view newText, bool replaceAll,
                                            bool ignoreCase, std::string_view delimiters);
// The SQL literal of a number: "0.0000" (four decimals, rounded, always ".").
KVO_CLIENT_API std::string FloatToSQL(double value);

// Whether the remote route reads rows of `sql`: trimmed of blanks and control characters, it
// begins with "select " in any letter case. Other statements run on the server without rows.
KVO_CLIENT_API bool IsRemoteSelect(std::string_view sql);

// What ApplyProxy gave the HTTP client.
struct THttpProxySettings {
  std::string Host;
  int32_t Port = 0;
  bool BasicAuthentication = false;
  std::string Username;
  std::string Password;
  bool operator==(const THttpProxySettings&) const = default;
};

// Limits of the HTTP exchanges. A timeout of 0 is none (only a caller who sets it gets none).
struct THttpLimits {
  // The largest answer taken, as it arrives and, for a compressed one, once inflated: a
  // damaged or hostile server cannot make the client hold more. Default 1 GiB.
  size_t MaxAnswerBytes = size_t{1} << 30;
  // Seconds to wait for the connection to the server (or proxy); default 10.
  double ConnectTimeoutSeconds = 10;
  // Seconds the whole exchange may take; default 300, the web servers' usual read timeout
  // (/sql sends nothing until its result is complete, so a long query is silent for as long as
  // it runs, and a web server gives it up after that long anyway).
  double TimeoutSeconds = 300;
  bool operator==(const THttpLimits&) const = default;
};

class KVO_CLIENT_API TKVOAppDataSet : public TClientDataSet {
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
  // Not published: set by the program (the query component leaves them as they are).
  THttpLimits Limits;

  static constexpr std::array<std::string_view, 12> PublishedProperties = {
      "URL",        "WebServer", "AltWebServer", "DataBaseName", "User",      "Password",
      "Compressed", "ProxyHost", "ProxyPort",    "ProxyUser",    "ProxyPass", "UseProxy"};

  // One exchange with URL + "/" + WebServer + "/sql". Returns after a loaded answer, and after
  // a statement that returns no rows (the data set then stays closed, keeping its previous
  // packet). Throws kvo::Error, before anything is sent, for a parameter value that cannot be
  // converted, for a statement longer than the server takes (naming the parameter whose value
  // made it so, and the limit), and for a statement that returns
  // rows without beginning with "select " (RETURNING, WITH, EXECUTE BLOCK ... RETURNS: the
  // server would run it and its rows would be lost). Throws after the exchange when the request
  // fails (the HTTP client's message, or the status line of a non-2xx answer), when a
  // compressed answer does not inflate ("Error") or its packet cannot be read, and, once the
  // error box has shown it, with the message of the server's error page or of an XML answer
  // that cannot be loaded. After every failure the data set is closed and holds no packet, so
  // no rows of an earlier statement stand for the failed one. The wait window, when asked for,
  // is shown before the request and closed on every way out.
  void RunRemote(const std::string& sql, bool showWait);
  // Rewrites the HTTP client's proxy settings from UseProxy and the Proxy* properties.
  void ApplyProxy();
  const THttpProxySettings& HttpProxy() const;
  // The statement on one line with every parameter marker (as RebuildParams finds them: never
  // inside a literal, quoted name, comment or PSQL body) replaced by the literal of the first
  // parameter of that name (letter case ignored); a marker without a parameter stays as it is.
  // Each value ends up as one literal or number where its marker stood, whatever it holds. CR
  // and LF become blanks, except inside literals and quoted names, where they are data; a "--"
  // comment is removed, so that it never hides the lines after it. Throws kvo::Error, before
  // anything is sent, for a value that cannot be converted as its type requires and for a float
  // that is NaN or infinite.
  std::string ExpandParams(std::string_view sql) const;
  // The message of the server's HTML error page; empty when the answer holds none.
  static std::string ExtractServerMessage(std::string_view answer);
  // The body of the last answer as it arrived (a compressed one not inflated), empty before
  // the first and after a request that failed. A compressed exchange that fails with "Error"
  // may have received the server's error page: its message is ExtractServerMessage of this.
  const std::string& LastAnswer() const { return lastAnswer_; }

 private:
  // The refusal of a statement that, its values written in, is longer than the server takes:
  // the server's `refusal` when the statement's own text is too long, otherwise a message that
  // names the parameter whose value takes the most room, and the limit.
  std::string TooLongMessage(std::string_view sql, std::string_view refusal) const;
  std::unique_ptr<detail::HttpClient> http_;
  std::string lastAnswer_;
  std::string lastStatement_;
};

// The SQL literal of one parameter, as ExpandParams writes it, in forms that do not depend on
// the regional settings. NULL and a value never assigned are NULL whatever the type. Integers
// in decimal; floats a literal that Firebird reads as the same double (the four-decimal form of
// FloatToSQL where that is exact, "-0e0" for -0, else "(M*power(2e0,E))"); dates
// 'yyyy-mm-dd', date-times 'yyyy-mm-dd hh:nn:ss.ffff' ('yyyy-mm-dd' at midnight, which a DATE takes
// too), times 'hh:nn:ss.ffff' (1/10000 s); bytes, blobs and graphics X'hex'; a truth value TRUE or
// FALSE; any other number with a full stop, quoted; text quoted with its quotes doubled. A text
// over 32,000 bytes (bytes over 16,000) goes as pieces joined onto an empty blob: "(cast('' as blob
// sub_type text) || '...' || '...')".
KVO_CLIENT_API std::string ParamLiteral(const TParam& param);

}  // namespace kvo::client
