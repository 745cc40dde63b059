#include "tests/support/http_client.h"

#include <curl/curl.h>

#include <strings.h>
#include <memory>
#include <stdexcept>

namespace kvo::testing {
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

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  static_cast<HttpResponse*>(user)->body.append(data, size * count);
  return size * count;
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
  size_t start = s.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : s.substr(start);
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* response = static_cast<HttpResponse*>(user);
  std::string line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) {
    // A new answer (after "100 Continue" or at a proxy) replaces what came before.
    response->statusLine = Trim(line);
    response->headers.clear();
  } else if (size_t colon = line.find(':'); colon != std::string::npos) {
    response->headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
  }
  return size * count;
}

void Check(CURLcode code, const char* what) {
  if (code != CURLE_OK)
    throw std::runtime_error(std::string(what) + ": " + curl_easy_strerror(code));
}

}  // namespace

std::optional<std::string> HttpResponse::Header(const std::string& name) const {
  for (const auto& [key, value] : headers)
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  return std::nullopt;
}

HttpResponse HttpSend(const HttpRequest& request) {
  static CurlGlobal global;
  std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
  if (!curl) throw std::runtime_error("curl_easy_init failed");
  CURL* c = curl.get();
  HttpResponse response;
  std::unique_ptr<curl_slist, ListDeleter> headers;
  // A large POST must not wait for "100 Continue", which a CGI host may never send.
  std::vector<std::string> lines = {"Expect:"};
  lines.insert(lines.end(), request.headers.begin(), request.headers.end());
  for (const auto& line : lines) {
    curl_slist* next = curl_slist_append(headers.get(), line.c_str());
    if (!next) throw std::runtime_error("curl_slist_append failed");
    headers.release();
    headers.reset(next);
  }
  Check(curl_easy_setopt(c, CURLOPT_URL, request.url.c_str()), "url");
  Check(curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get()), "headers");
  Check(curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody), "write function");
  Check(curl_easy_setopt(c, CURLOPT_WRITEDATA, &response), "write data");
  Check(curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader), "header function");
  Check(curl_easy_setopt(c, CURLOPT_HEADERDATA, &response), "header data");
  Check(curl_easy_setopt(c, CURLOPT_TIMEOUT, request.timeoutSeconds), "timeout");
  Check(curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L), "nosignal");
  if (request.method == "POST") {
    Check(curl_easy_setopt(c, CURLOPT_POST, 1L), "post");
    Check(curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE,
                           static_cast<curl_off_t>(request.body.size())),
          "post size");
    Check(curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.data()), "post body");
  } else if (request.method != "GET") {
    Check(curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str()), "method");
  }
  if (!request.proxy.empty()) {
    Check(curl_easy_setopt(c, CURLOPT_PROXY, request.proxy.c_str()), "proxy");
    if (!request.proxyUserPassword.empty())
      Check(curl_easy_setopt(c, CURLOPT_PROXYUSERPWD, request.proxyUserPassword.c_str()),
            "proxy user");
  }
  Check(curl_easy_perform(c), request.url.c_str());
  Check(curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status), "status");
  return response;
}

HttpResponse HttpGet(const std::string& url, std::vector<std::string> headers) {
  HttpRequest request;
  request.url = url;
  request.headers = std::move(headers);
  return HttpSend(request);
}

HttpResponse HttpPost(const std::string& url, const std::string& body,
                      std::vector<std::string> headers) {
  HttpRequest request;
  request.method = "POST";
  request.url = url;
  request.body = body;
  request.headers = std::move(headers);
  return HttpSend(request);
}

std::string ActionUrl(const std::string& base, const std::string& scriptName,
                      const std::string& action) {
  return base + "/" + scriptName + action;
}

}  // namespace kvo::testing
