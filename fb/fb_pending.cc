// Placeholder until the Firebird layer lands: every operation fails plainly.
#include "fb/fb.h"

namespace kvo::fb {

void Database::Connect() { throw Error("The Firebird layer is not available yet"); }
void Database::Disconnect() noexcept { attachment_.reset(); }
std::string Database::ParamValue(std::string_view name) const {
  for (const auto& line : Params) {
    auto eq = line.find('=');
    if (eq != std::string::npos && line.substr(0, eq) == name) return line.substr(eq + 1);
  }
  return {};
}
Attachment& Database::attachment() { throw kvo::Error("The database is not connected"); }
struct Attachment::Impl {};
bool Attachment::IsOpen() const { return false; }
Attachment::~Attachment() = default;
void ShutdownClient() noexcept {}

}  // namespace kvo::fb
