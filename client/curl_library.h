// libcurl loaded at run time (internal). The server links the components for its memo service,
// and only a memo query on the remote route makes an HTTP request: linking libcurl would load
// its ~40 libraries into every request's process. The library is loaded at the first request
// and stays loaded for the life of the process.
#pragma once

#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

namespace kvo::client::detail {

// The entry points the HTTP client uses, with curl's own signatures.
struct CurlLibrary {
  CURLcode (*global_init)(long flags);
  CURL* (*easy_init)();
  void (*easy_cleanup)(CURL* handle);
  CURLcode (*easy_setopt)(CURL* handle, CURLoption option, ...);
  CURLcode (*easy_perform)(CURL* handle);
  CURLcode (*easy_getinfo)(CURL* handle, CURLINFO info, ...);
  const char* (*easy_strerror)(CURLcode code);
  curl_slist* (*slist_append)(curl_slist* list, const char* text);
  void (*slist_free_all)(curl_slist* list);
};

// The loaded and initialised library. Throws kvo::Error "Cannot load libcurl.so.4: <reason>"
// when it is missing or lacks an entry point; a later call tries again.
const CurlLibrary& Curl();

}  // namespace kvo::client::detail
