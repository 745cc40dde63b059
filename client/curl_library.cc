#include "client/curl_library.h"

#include <memory>
#include <mutex>
#include <string>

#include "platform/error.h"
#include "platform/module_library.h"

namespace kvo::client::detail {

namespace {

constexpr const char* kSharedObject = "libcurl.so.4";

struct LoadedCurl {
  platform::ModuleLibrary library;
  CurlLibrary entries{};
};

Error LoadFailure(const std::string& why) {
  return Error(std::string("Cannot load ") + kSharedObject + ": " + why);
}

template <typename Fn>
void Resolve(const platform::ModuleLibrary& library, const char* name, Fn& target) {
  void* address = library.Symbol(name);
  if (!address) throw LoadFailure(std::string("no ") + name);
  target = reinterpret_cast<Fn>(address);
}

}  // namespace

const CurlLibrary& Curl() {
  static std::mutex mutex;
  // Kept until the process ends: curl's global state lives in the library.
  static LoadedCurl* loaded = nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  if (!loaded) {
    auto next = std::make_unique<LoadedCurl>(
        LoadedCurl{platform::ModuleLibrary::System(kSharedObject), {}});
    if (!next->library.Loaded()) throw LoadFailure(next->library.Error());
    CurlLibrary& c = next->entries;
    Resolve(next->library, "curl_global_init", c.global_init);
    Resolve(next->library, "curl_easy_init", c.easy_init);
    Resolve(next->library, "curl_easy_cleanup", c.easy_cleanup);
    Resolve(next->library, "curl_easy_setopt", c.easy_setopt);
    Resolve(next->library, "curl_easy_perform", c.easy_perform);
    Resolve(next->library, "curl_easy_getinfo", c.easy_getinfo);
    Resolve(next->library, "curl_easy_strerror", c.easy_strerror);
    Resolve(next->library, "curl_slist_append", c.slist_append);
    Resolve(next->library, "curl_slist_free_all", c.slist_free_all);
    if (c.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw LoadFailure("initialisation failed");
    loaded = next.release();
  }
  return loaded->entries;
}

}  // namespace kvo::client::detail
