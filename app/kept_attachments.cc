#include "app/kept_attachments.h"

#include <optional>
#include <string>

#include "configfiles/paths.h"
#include "fb/keeper.h"
#include "platform/winpath.h"

namespace kvo::app {

void ApplyKeptAttachmentSettings(const config::ServerSettings& settings,
                                 const std::function<void(std::string_view)>& errorLog) noexcept {
  fb::KeepSettings keep;
  keep.enabled = settings.KeepAttachments;
  keep.idleSeconds = settings.KeepAttachmentsSeconds;
  keep.maxSeconds = settings.KeepAttachmentsMaxSeconds;
  keep.loginSlots = settings.MaxConcurrentLogins;
  try {
    keep.dropFile = platform::HostPath(config::kKeptAttachmentsDropFile).value_or("");
    keep.loginSlotPrefix = platform::HostPath(config::kLoginSlotPrefix).value_or("");
    // The same refused value on every request is one line in the log, not one per request.
    static std::optional<std::string> reported;
    if (settings.KeepAttachmentsRefused != reported) {
      reported = settings.KeepAttachmentsRefused;
      if (reported)
        errorLog("kvowebserver: [Server] KeepAttachments=" + *reported +
                 " is none of 0/1, false/true, no/yes, off/on; attachments are not kept");
    }
  } catch (...) {
    keep.enabled = false;
  }
  fb::SetKeepAttachments(keep);
  fb::DropIdleAttachments();
}

}  // namespace kvo::app
