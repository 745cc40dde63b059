// The web module's database connection component (DBKVO): the database a request logs in to,
// held by the program and handed to the actions that use it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fb/work.h"

namespace kvo::helpers {

// A database name, parameter lines and the request's unit of work made on Connect().
class Database {
 public:
  std::string DatabaseName;
  std::vector<std::string> Params;  // name=value lines

  // Connected and not yet committed.
  bool Connected() const { return work_.has_value() && work_->IsOpen(); }
  // Attaches with DatabaseName and Params; throws fb::Error and stays unconnected on failure.
  void Connect();
  // Ends the work: what it did not commit is rolled back. Nothing happens when not connected.
  // Never throws.
  void Disconnect() noexcept;
  // The work of the connection; the action commits it before it answers. Throws kvo::Error
  // when not connected.
  fb::Work& work();

 private:
  std::optional<fb::Work> work_;
};

}  // namespace kvo::helpers
