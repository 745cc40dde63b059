// The one exception type of the program. Its message is the text that reaches the caller
// (an error page, "Erro: " and the message, the body itself), so it is never decorated.
#pragma once

#include <exception>
#include <new>
#include <stdexcept>
#include <string>

namespace kvo {

// Default visibility: programs built against the shared client library catch it by type.
class __attribute__((visibility("default"))) Error : public std::runtime_error {
 public:
  // `kind` is the class name shown after "Exception:" in the server error answer.
  explicit Error(const std::string& message, std::string kind = "Exception")
      : std::runtime_error(message), kind_(std::move(kind)) {}

  const std::string& kind() const noexcept { return kind_; }

 private:
  std::string kind_;
};

inline constexpr const char* kOutOfMemory = "Out of memory";

// The text a caller sees for any failure: a memory failure reads kOutOfMemory wherever it
// happens, never the standard library's name for it.
inline std::string MessageOf(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return kOutOfMemory;
  return e.what();
}

}  // namespace kvo
