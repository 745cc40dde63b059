// kvoclient's plain requests, made by the client library's HTTP client.
#include "tools/kvoclient/http.h"

#include <string_view>

#include "client/http_client.h"
#include "platform/codepage.h"
#include "platform/error.h"

namespace kvo::kvoclient {

namespace {

// The message of the server's failure pages: the frame's "Internal Application Error" page and
// the HTML error page of the data actions; empty for anything else.
std::string ServerMessage(const std::string& body) {
  const std::string_view starts[][2] = {
      {"<font face=Arial color=#990000 size=6>", "</font>"},
      {"<h1>Internal Application Error</h1>\r\n<p>", "\r\n<p><hr"},
      {"Message: ", "<br>"},
  };
  for (const auto& [start, end] : starts) {
    size_t from = body.find(start);
    if (from == std::string::npos) continue;
    from += start.size();
    size_t to = body.find(end, from);
    if (to != std::string::npos) return body.substr(from, to - from);
  }
  return "";
}

}  // namespace

std::string FormEncode(std::string_view value) {
  return client::EncodeFormValue(value);
}

HttpAnswer HttpRequest(const std::string& url, bool post, const std::string& formBody,
                       const ProxySettings& proxy) {
  client::detail::HttpClient http;
  if (!proxy.host.empty()) {
    http.Proxy.Host = proxy.host;
    http.Proxy.Port = proxy.port;
    http.Proxy.BasicAuthentication = !proxy.user.empty();
    http.Proxy.Username = proxy.user;
    http.Proxy.Password = proxy.password;
  }
  client::detail::HttpAnswer received = http.Send(url, post ? &formBody : nullptr);
  if (received.status < 200 || received.status > 299) {
    std::string message = "The server answered \"" + received.statusLine + "\"";
    std::string detail = ServerMessage(received.body);
    if (!detail.empty()) message += ": " + platform::Cp1252ToUtf8(detail);
    throw Error(message);
  }
  return HttpAnswer{received.status, std::move(received.body)};
}

}  // namespace kvo::kvoclient
