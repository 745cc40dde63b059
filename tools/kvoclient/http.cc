// kvoclient's requests go through the client library's HTTP client, so that every command
// follows the same rules and reports failures alike.
#include "tools/kvoclient/http.h"

#include <string_view>

#include "client/http_client.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/error_page.h"

namespace kvo::kvoclient {

std::string ServerMessage(const std::string& body) {
  if (platform::IsErrorPage(body)) return platform::Cp1252ToUtf8(platform::ErrorPageMessage(body));
  // The frame's own failure pages.
  const std::string_view starts[][2] = {
      {"<h1>Internal Application Error</h1>\r\n<p>", "\r\n<p><hr"},
      {"Message: ", "<br>"},
  };
  for (const auto& [start, end] : starts) {
    size_t from = body.find(start);
    if (from == std::string::npos) continue;
    from += start.size();
    size_t to = body.find(end, from);
    if (to != std::string::npos) return platform::Cp1252ToUtf8(body.substr(from, to - from));
  }
  return "";
}

std::string RequestFailure(const std::string& url, const std::string& message) {
  return url + ": " + message;
}

HttpAnswer HttpRequest(const std::string& url, bool post, const std::string& formBody,
                       const client::THttpProxySettings& proxy, const client::THttpLimits& limits) {
  client::detail::HttpClient http;
  http.Proxy = proxy;
  http.Limits = limits;
  client::detail::HttpAnswer received;
  try {
    received = http.Request(url, post ? &formBody : nullptr);
  } catch (const Error& e) {
    throw Error(RequestFailure(url, e.what()));
  }
  if (received.status < 200 || received.status > 299) {
    std::string message = received.statusLine;
    std::string detail = ServerMessage(received.body);
    if (!detail.empty()) message += ": " + detail;
    throw Error(RequestFailure(url, message));
  }
  return HttpAnswer{received.status, std::move(received.body)};
}

}  // namespace kvo::kvoclient
