#include "helpers/database.h"

namespace kvo::helpers {

void Database::Connect() {
  Disconnect();
  work_.emplace(DatabaseName, Params);
}

void Database::Disconnect() noexcept {
  work_.reset();
}

fb::Work& Database::work() {
  if (!Connected()) throw kvo::Error("The database is not connected");
  return *work_;
}

}  // namespace kvo::helpers
