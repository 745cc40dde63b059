#include "helpers/statement_limit.h"

#include <chrono>

#include "configfiles/server_settings.h"
#include "fb/time_limit.h"

namespace kvo::helpers {

std::string StatementLimitMessage(int seconds) {
  return "The statement ran longer than this server allows (MaxStatementSeconds = " +
         std::to_string(seconds) + ") and was cancelled.";
}

void WithinStatementLimit(fb::Work& work, const std::function<void()>& body) {
  const int seconds = config::ServerSettings::Read().MaxStatementSeconds;
  if (seconds <= 0) {
    body();
    return;
  }
  work.transaction();
  fb::TimeLimit::Run(work.attachment(), std::chrono::seconds(seconds),
                     StatementLimitMessage(seconds), body);
}

}  // namespace kvo::helpers
