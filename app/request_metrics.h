// What the program tells the host's metrics (platform/metrics.h): the folder the server
// settings name, and each request with its action, duration and outcome.
#pragma once

#include <string_view>

#include "configfiles/server_settings.h"

namespace kvo::app {

// Points the metrics at the folder that MetricsFolder names (a host path when it starts with
// "/", else a Windows path of the path layer), or turns them off when it names none. Never
// throws.
void ApplyMetricsSettings(const config::ServerSettings& settings) noexcept;

}  // namespace kvo::app
