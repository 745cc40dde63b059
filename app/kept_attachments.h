// How a persistent process keeps attachments for its next request: the [Server] keys of the
// server's settings applied to the Firebird layer's keeper (fb/keeper.h).
#pragma once

#include <functional>
#include <string_view>

#include "configfiles/server_settings.h"

namespace kvo::app {

// Applies `settings` to the keeper and detaches what may no longer serve. A KeepAttachments
// value it cannot read turns reuse off and is reported once per value through `errorLog`, one
// line without its end. Never throws.
void ApplyKeptAttachmentSettings(const config::ServerSettings& settings,
                                 const std::function<void(std::string_view)>& errorLog) noexcept;

}  // namespace kvo::app
