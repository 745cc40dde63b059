#include "helpers/database.h"

namespace kvo::helpers {

void Database::Connect() {
  Disconnect();
  attachment_.emplace(fb::Attachment::Open(DatabaseName, Params));
}

void Database::Disconnect() noexcept {
  attachment_.reset();
}

fb::Attachment& Database::attachment() {
  if (!Connected()) throw kvo::Error("The database is not connected");
  return *attachment_;
}

}  // namespace kvo::helpers
