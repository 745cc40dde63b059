// The plain requests of kvoclient (the actions other than /sql, which the client library's query
// component carries out): one GET or form POST, straight or through an HTTP proxy.
#pragma once

#include <cstdint>
#include <string>

namespace kvo::kvoclient {

struct ProxySettings {
  std::string host;  // empty: no proxy
  int32_t port = 0;
  std::string user;  // non-empty: Basic proxy authentication
  std::string password;
};

struct HttpAnswer {
  long status = 0;
  std::string body;  // bytes as received
};

// A GET of `url`, or a POST of `formBody` (application/x-www-form-urlencoded) when `post`.
// Redirects are not followed. Throws kvo::Error with the transfer library's message when no
// answer arrives, and "The server answered <status line>" (with the message of the server's
// error page when it carries one) for a status other than 2xx.
HttpAnswer HttpRequest(const std::string& url, bool post, const std::string& formBody,
                       const ProxySettings& proxy);

// A value as the client library encodes form fields: ASCII letters and digits stay, a blank is
// "+", every other byte "%" and two upper-case hexadecimal digits.
std::string FormEncode(std::string_view value);

}  // namespace kvo::kvoclient
