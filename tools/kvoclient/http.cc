// The one place of kvoclient that includes libcurl.
#include "tools/kvoclient/http.h"

#include <curl/curl.h>

#include <memory>
#include <string_view>

#include "platform/codepage.h"
#include "platform/error.h"

namespace kvo::kvoclient {

namespace {

struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  ~CurlGlobal() { curl_global_cleanup(); }
};
struct EasyDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct ListDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

struct Received {
  std::string body;
  std::string statusLine;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  static_cast<Received*>(user)->body.append(data, size * count);
  return size * count;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  std::string_view line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    static_cast<Received*>(user)->statusLine = line;
  }
  return size * count;
}

void Check(CURLcode code) {
  if (code != CURLE_OK) throw Error(curl_easy_strerror(code));
}

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
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : value) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

HttpAnswer HttpRequest(const std::string& url, bool post, const std::string& formBody,
                       const ProxySettings& proxy) {
  static CurlGlobal global;
  std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
  if (!curl) throw Error("Cannot start an HTTP request");
  CURL* c = curl.get();
  Received received;
  std::unique_ptr<curl_slist, ListDeleter> headers;
  if (post) {
    // A CGI host may never send "100 Continue".
    headers.reset(curl_slist_append(nullptr, "Expect:"));
    if (!headers) throw Error("Cannot start an HTTP request");
    Check(curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get()));
    Check(curl_easy_setopt(c, CURLOPT_POST, 1L));
    Check(curl_easy_setopt(c, CURLOPT_POSTFIELDS, formBody.data()));
    Check(
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(formBody.size())));
  }
  Check(curl_easy_setopt(c, CURLOPT_URL, url.c_str()));
  Check(curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L));
  Check(curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody));
  Check(curl_easy_setopt(c, CURLOPT_WRITEDATA, &received));
  Check(curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader));
  Check(curl_easy_setopt(c, CURLOPT_HEADERDATA, &received));
  if (!proxy.host.empty()) {
    Check(curl_easy_setopt(c, CURLOPT_PROXY, proxy.host.c_str()));
    Check(curl_easy_setopt(c, CURLOPT_PROXYPORT, static_cast<long>(proxy.port)));
    Check(curl_easy_setopt(c, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP)));
    if (!proxy.user.empty()) {
      Check(curl_easy_setopt(c, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC)));
      Check(curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, proxy.user.c_str()));
      Check(curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, proxy.password.c_str()));
    }
  } else {
    // Only the proxy given on the command line counts, not one from the environment.
    Check(curl_easy_setopt(c, CURLOPT_PROXY, ""));
  }
  Check(curl_easy_perform(c));
  HttpAnswer answer;
  Check(curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &answer.status));
  answer.body = std::move(received.body);
  if (answer.status < 200 || answer.status > 299) {
    std::string message = "The server answered \"" + received.statusLine + "\"";
    std::string detail = ServerMessage(answer.body);
    if (!detail.empty()) message += ": " + platform::Cp1252ToUtf8(detail);
    throw Error(message);
  }
  return answer;
}

}  // namespace kvo::kvoclient
