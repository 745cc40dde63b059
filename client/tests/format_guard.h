// Restores the process-wide text conventions after a test changes them.
#pragma once

#include "kvo/client/classes.h"

namespace kvo::testing {

class FormatGuard {
 public:
  FormatGuard() : saved_(client::FormatSettings()) {}
  ~FormatGuard() { client::FormatSettings() = saved_; }

 private:
  client::TFormatSettings saved_;
};

}  // namespace kvo::testing
