// The plain requests of kvoclient (the actions other than /sql, which the client library's query
// component carries out): one GET or form POST, straight or through an HTTP proxy.
#pragma once

#include <string>

#include "kvo/client/kvo_app_dataset.h"

namespace kvo::kvoclient {

struct HttpAnswer {
  long status = 0;
  std::string body;  // bytes as received
};

// A GET of `url`, or a POST of `formBody` (application/x-www-form-urlencoded) when `post`,
// through the client library's HTTP client (the same rules as the sql command's requests);
// an empty proxy host is no proxy.
// Throws kvo::Error "<url>: <message>" when no answer arrives (the HTTP client's message) or
// the status is not 2xx (the status line, then ": " and the message of the server's failure
// page when it carries one).
HttpAnswer HttpRequest(const std::string& url, bool post, const std::string& formBody,
                       const client::THttpProxySettings& proxy, const client::THttpLimits& limits);

// "<url>: <message>", the form of every failed request.
std::string RequestFailure(const std::string& url, const std::string& message);

// The message of the server's failure pages (the frame's "Internal Application Error" page and
// the HTML error page of the data actions), converted to UTF-8; empty for anything else.
std::string ServerMessage(const std::string& body);

}  // namespace kvo::kvoclient
