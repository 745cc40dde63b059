// The web module's database connection component (DBKVO): the database a request logs in to,
// held by the program and handed to the actions that use it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fb/fb.h"

namespace kvo::helpers {

// A database name, parameter lines and an attachment made on Connect().
class Database {
 public:
  std::string DatabaseName;
  std::vector<std::string> Params;  // name=value lines

  bool Connected() const { return attachment_.has_value() && attachment_->IsOpen(); }
  // Attaches with DatabaseName and Params; throws fb::Error and stays unconnected on failure.
  void Connect();
  // Detaches (committing what is open); nothing happens when not connected. Never throws.
  void Disconnect() noexcept;
  // Throws kvo::Error when not connected.
  fb::Attachment& attachment();

 private:
  std::optional<fb::Attachment> attachment_;
};

}  // namespace kvo::helpers
