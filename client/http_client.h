// The HTTP client of the components (internal): form POSTs as the server's services expect
// them. The one place of the library that includes curl is curl_library.h, which loads it at
// run time.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kvo/client/kvo_app_dataset.h"

namespace kvo::client {

using TFormFields = std::vector<std::pair<std::string, std::string>>;

// A value as forms and query strings carry it: ASCII letters and digits stay, a blank becomes
// "+", every other byte "%" and two upper-case hexadecimal digits.
std::string EncodeFormValue(std::string_view value);

// The form body: name=value fields joined by "&" with one more "&" after the last, values as
// EncodeFormValue writes them. Names are written as they are.
std::string EncodeFormBody(const TFormFields& fields);

namespace detail {

// One answer as it arrived, whatever its status.
struct HttpAnswer {
  long status = 0;
  std::string statusLine;  // the last one ("HTTP/1.1 404 Not Found"), without its line end
  std::string body;
};

class HttpClient {
 public:
  // No proxy at all unless one is set here: the proxy variables of the environment
  // (http_proxy and the like) are never used.
  THttpProxySettings Proxy;
  THttpLimits Limits;

  // A GET of `url`, or a POST of `formBody` as "application/x-www-form-urlencoded" when it is
  // given. Redirects are not followed; only http and https URLs are taken. Returns the answer
  // of any status. Throws kvo::Error with curl's message when no answer arrives (no connection,
  // a timeout of Limits, a scheme other than http and https), the proxy's status line when the
  // proxy refuses, and "The answer is larger than N bytes, the limit of this client" when the
  // body passes Limits.MaxAnswerBytes (the transfer stops there).
  HttpAnswer Request(const std::string& url, const std::string* formBody) const;

  // Request as a POST that also throws the status line when the status is not 2xx, and returns
  // the body.
  std::string Post(const std::string& url, const std::string& body) const;
};

}  // namespace detail
}  // namespace kvo::client
