// The error page: the fifteen-line HTML page in which the server's actions answer a failure, and
// the reading of its message back out of an answer (the client library, kvoclient). Both
// directions live here so that the page and its readers cannot drift apart.
#pragma once

#include <string>
#include <string_view>

namespace kvo::platform {

// The page carrying `message` as it is (CR LF after every line).
std::string BuildErrorPage(std::string_view message);

// Whether `answer` is an error page: it carries the page's title.
bool IsErrorPage(std::string_view answer);

// The message of the first error page message line in `answer`, as it was given to
// BuildErrorPage; empty when `answer` holds none.
std::string ErrorPageMessage(std::string_view answer);

}  // namespace kvo::platform
