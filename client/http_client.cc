#include "client/http_client.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "client/curl_library.h"
#include "platform/error.h"

namespace kvo::client {

std::string EncodeFormValue(std::string_view value) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : value) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string EncodeFormBody(const TFormFields& fields) {
  std::string body;
  for (const auto& [name, value] : fields) {
    body += name;
    body += '=';
    body += EncodeFormValue(value);
    body += '&';
  }
  return body;
}

namespace detail {

namespace {

struct EasyDeleter {
  void operator()(CURL* curl) const { Curl().easy_cleanup(curl); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { Curl().slist_free_all(list); }
};

struct Body {
  std::string bytes;
  size_t limit = 0;
  bool tooLarge = false;
};

size_t CollectBody(char* data, size_t size, size_t count, void* target) {
  auto& body = *static_cast<Body*>(target);
  if (size * count > body.limit - body.bytes.size()) {
    body.tooLarge = true;
    return 0;  // curl stops the transfer
  }
  body.bytes.append(data, size * count);
  return size * count;
}

// Keeps the last status line (a proxy or a 100 Continue may come before the final one).
size_t CollectStatus(char* data, size_t size, size_t count, void* target) {
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    *static_cast<std::string*>(target) = std::string(line);
  }
  return size * count;
}

void Check(CURLcode code) {
  if (code != CURLE_OK) throw Error(Curl().easy_strerror(code));
}

}  // namespace

HttpAnswer HttpClient::Request(const std::string& url, const std::string* formBody) const {
  const CurlLibrary& c = Curl();
  std::unique_ptr<CURL, EasyDeleter> curl(c.easy_init());
  if (!curl) throw Error("Cannot create the HTTP client");
  CURL* h = curl.get();
  std::unique_ptr<curl_slist, ListDeleter> headers;
  Body answer;
  answer.limit = Limits.MaxAnswerBytes;
  std::string status;
  char errorText[CURL_ERROR_SIZE] = {0};
  if (formBody) {
    headers.reset(c.slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded"));
    // The body goes with the request, not after an interim answer.
    if (headers) headers.reset(c.slist_append(headers.release(), "Expect:"));
    if (!headers) throw Error("Cannot create the HTTP client");
    Check(c.easy_setopt(h, CURLOPT_POST, 1L));
    Check(c.easy_setopt(h, CURLOPT_POSTFIELDS, formBody->data()));
    Check(c.easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(formBody->size())));
    Check(c.easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()));
  }
  Check(c.easy_setopt(h, CURLOPT_URL, url.c_str()));
  Check(c.easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L));
  // Anything but http and https (ftp://, file://) fails at once instead of being tried.
  Check(c.easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"));
  Check(c.easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                      static_cast<long>(std::max(0.0, Limits.ConnectTimeoutSeconds) * 1000)));
  Check(c.easy_setopt(h, CURLOPT_TIMEOUT_MS,
                      static_cast<long>(std::max(0.0, Limits.TimeoutSeconds) * 1000)));
  Check(c.easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
  Check(c.easy_setopt(h, CURLOPT_ERRORBUFFER, errorText));
  Check(c.easy_setopt(h, CURLOPT_WRITEFUNCTION, CollectBody));
  Check(c.easy_setopt(h, CURLOPT_WRITEDATA, &answer));
  Check(c.easy_setopt(h, CURLOPT_HEADERFUNCTION, CollectStatus));
  Check(c.easy_setopt(h, CURLOPT_HEADERDATA, &status));
  // An empty proxy text turns off curl's use of http_proxy, ALL_PROXY and the like.
  if (Proxy.Host.empty()) {
    Check(c.easy_setopt(h, CURLOPT_PROXY, ""));
  } else {
    Check(c.easy_setopt(h, CURLOPT_PROXY, Proxy.Host.c_str()));
    Check(c.easy_setopt(h, CURLOPT_PROXYPORT, static_cast<long>(Proxy.Port)));
    Check(c.easy_setopt(h, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP)));
    Check(c.easy_setopt(h, CURLOPT_NOPROXY, ""));
    if (Proxy.BasicAuthentication) {
      Check(c.easy_setopt(h, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC)));
      Check(c.easy_setopt(h, CURLOPT_PROXYUSERNAME, Proxy.Username.c_str()));
      Check(c.easy_setopt(h, CURLOPT_PROXYPASSWORD, Proxy.Password.c_str()));
    }
  }

  CURLcode code = c.easy_perform(h);
  if (answer.tooLarge) {
    throw Error("The answer is larger than " + std::to_string(Limits.MaxAnswerBytes) +
                " bytes, the limit of this client");
  }
  long statusCode = 0;
  c.easy_getinfo(h, CURLINFO_RESPONSE_CODE, &statusCode);
  // A refusing proxy closes the connection on the unread request body, which can cut its own
  // answer short: a refusal status already received says more than the broken transfer.
  bool refused = statusCode != 0 && (statusCode < 200 || statusCode > 299);
  double connected = 0;  // seconds until connected; 0 when the connection never came
  c.easy_getinfo(h, CURLINFO_CONNECT_TIME, &connected);
  if (code == CURLE_OPERATION_TIMEDOUT && connected > 0 && Limits.TimeoutSeconds > 0) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", Limits.TimeoutSeconds);
    throw Error("No answer from " + url + " within " + seconds +
                " seconds, the limit of this client");
  }
  if (code != CURLE_OK && !refused) {
    throw Error(errorText[0] ? errorText : c.easy_strerror(code));
  }
  if (code != CURLE_OK) {
    throw Error(status.empty() ? "HTTP status " + std::to_string(statusCode) : status);
  }
  return HttpAnswer{statusCode, std::move(status), std::move(answer.bytes)};
}

std::string HttpClient::Post(const std::string& url, const std::string& body) const {
  HttpAnswer answer = Request(url, &body);
  if (answer.status < 200 || answer.status > 299) {
    throw Error(answer.statusLine.empty() ? "HTTP status " + std::to_string(answer.status)
                                          : answer.statusLine);
  }
  return std::move(answer.body);
}

}  // namespace detail
}  // namespace kvo::client
