#include "app/serve_request.h"

#include <exception>
#include <new>

#include "app/wm.h"
#include "configfiles/server_settings.h"
#include "platform/error.h"

namespace kvo::app {

void ServeRequest(cgi::CgiInput input, const cgi::OutputFn& out) noexcept {
  const config::ServerSettings::RequestScope oneReading;
  try {
    try {
      cgi::TWebRequest request(std::move(input));
      cgi::TWebResponse response(request, out);
      {
        TWM wm;
        wm.HandleRequest(request, response);
      }
    } catch (const Error& e) {
      cgi::ServerErrorAnswer(out, e.kind(), e.what());
    } catch (const std::bad_alloc& e) {
      cgi::ServerErrorAnswer(out, "EOutOfMemory", kOutOfMemory);
    } catch (const std::exception& e) {
      cgi::ServerErrorAnswer(out, "Exception", e.what());
    }
  } catch (...) {
    // The error answer itself failed (no memory left for its text): the web server reports
    // the missing answer.
  }
}

}  // namespace kvo::app
