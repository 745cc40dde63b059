// Test support: a small HTTP client for end-to-end tests through the test web server (and the
// proxy). It shows the answer as the caller sees it: status, header lines and the body's bytes.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kvo::testing {

struct HttpResponse {
  long status = 0;
  std::string statusLine;  // e.g. "HTTP/1.1 200 OK", without the line end
  std::vector<std::pair<std::string, std::string>> headers;  // in order of arrival
  std::string body;
  // The value of the first header of that name (case-insensitive), or nullopt.
  std::optional<std::string> Header(const std::string& name) const;
};

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  std::string body;                  // sent as is (binary safe) when method is POST
  std::vector<std::string> headers;  // whole lines "Name: value"; "Name:" removes a default one
  std::string proxy;                 // "http://host:port", empty for none
  std::string proxyUserPassword;     // "user:password" for Basic authentication at the proxy
  long timeoutSeconds = 60;
};

// Sends the request and waits for the whole answer. Throws std::runtime_error with the
// transfer library's message when no answer arrives (refused connection, timeout).
HttpResponse HttpSend(const HttpRequest& request);

HttpResponse HttpGet(const std::string& url, std::vector<std::string> headers = {});

// A POST of a form body (Content-Type application/x-www-form-urlencoded unless `headers` names
// another one).
HttpResponse HttpPost(const std::string& url, const std::string& body,
                      std::vector<std::string> headers = {});

// The URL of an action of the CGI program under one of its script names:
// ActionUrl(base, "ikvowebserver.dll", "/script") with base from KVO_HTTP_URL.
std::string ActionUrl(const std::string& base, const std::string& scriptName,
                      const std::string& action);

}  // namespace kvo::testing
