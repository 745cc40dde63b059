#include "app/serve_request.h"

#include <chrono>
#include <exception>
#include <new>
#include <string>

#include "app/request_metrics.h"
#include "app/wm.h"
#include "configfiles/server_settings.h"
#include "platform/error.h"
#include "platform/metrics.h"

namespace kvo::app {

void ServeRequest(cgi::CgiInput input, const cgi::OutputFn& out) noexcept {
  const config::ServerSettings::RequestScope oneReading;
  const auto start = std::chrono::steady_clock::now();
  // Counted as a failure of no action unless an action's answer says otherwise.
  std::string action = "other";
  bool failed = true;
  try {
    ApplyMetricsSettings(config::ServerSettings::Read());
    try {
      cgi::TWebRequest request(std::move(input));
      cgi::TWebResponse response(request, out);
      {
        TWM wm;
        wm.HandleRequest(request, response);
        action = wm.HandledAction();
      }
      failed = response.ShowsFailure() || response.StatusCode() >= 500;
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
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  platform::metrics::CountRequest(action, took.count(), failed);
}

}  // namespace kvo::app
