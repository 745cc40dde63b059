#include "config/service_text.h"

#include "platform/ascii.h"

namespace kvo::config {

std::string TrimControls(std::string_view text) {
  return std::string(platform::TrimControls(text));
}

}  // namespace kvo::config
