// The failure of an action whose service is not built yet.
#pragma once

#include <string>

#include "platform/error.h"

namespace kvo {

[[noreturn]] inline void NotAvailableYet(const std::string& path) {
  throw Error("The action " + path + " is not available yet");
}

}  // namespace kvo
