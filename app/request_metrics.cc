#include "app/request_metrics.h"

#include <string>

#include "platform/metrics.h"
#include "platform/winpath.h"

namespace kvo::app {

void ApplyMetricsSettings(const config::ServerSettings& settings) noexcept {
  try {
    std::string folder;
    if (settings.MetricsFolder) {
      const std::string& value = *settings.MetricsFolder;
      folder = value.front() == '/' ? value : platform::HostPath(value).value_or("");
    }
    platform::metrics::SetFolder(std::move(folder));
  } catch (...) {
    platform::metrics::SetFolder({});
  }
}

}  // namespace kvo::app
