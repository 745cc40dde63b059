// The HTTP client of the components (internal): form POSTs as the server's services expect
// them. The one place of the library that includes curl is http_client.cc.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kvo/client/kvo_app_dataset.h"

namespace kvo::client {

using TFormFields = std::vector<std::pair<std::string, std::string>>;

// The form body: name=value fields joined by "&" with one more "&" after the last. In values,
// ASCII letters and digits stay, a blank becomes "+", every other byte "%" and two upper-case
// hexadecimal digits. Names are written as they are.
std::string EncodeFormBody(const TFormFields& fields);
// One value encoded as EncodeFormBody encodes values.
std::string EncodeFormValue(std::string_view value);

namespace detail {

struct HttpAnswer {
  long status = 0;
  std::string statusLine;  // the last one ("HTTP/1.1 500 Internal Server Error")
  std::string body;        // bytes as received
};

class HttpClient {
 public:
  // No proxy at all unless one is set here: the proxy variables of the environment
  // (http_proxy and the like) are never used.
  THttpProxySettings Proxy;

  // A GET of `url`, or a form POST of `*formBody` when it is given. Redirects are not
  // followed. Returns whatever status arrives; throws kvo::Error with curl's message only when
  // no status arrives.
  HttpAnswer Send(const std::string& url, const std::string* formBody) const;

  // POSTs `body` as "application/x-www-form-urlencoded" to `url` and returns the answer body.
  // Redirects are not followed. Throws kvo::Error with curl's message when the request cannot
  // be made, or with the status line ("HTTP/1.1 404 Not Found") when the status is not 2xx.
  std::string Post(const std::string& url, const std::string& body) const;
};

}  // namespace detail
}  // namespace kvo::client
