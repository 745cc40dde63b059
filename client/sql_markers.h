// The ":name" parameter markers of a statement, by the rules of the query component (internal).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kvo::client {

struct SqlMarker {
  size_t start = 0;  // index of the colon
  size_t end = 0;    // one past the marker's last character
  std::string name;  // without the colon (and without surrounding quotes when quoted)
};

// Quotes (', ", `) switch a quoted section on and off; inside it nothing is a marker. "::" is
// skipped. A colon starts a marker whose name runs up to a blank, ",", ";", ")", CR, LF or the
// end; a quote inside the name switches the quoted state too, and while it is on these
// delimiters belong to the name. A leading quote is removed from the name, and then a trailing
// quote.
std::vector<SqlMarker> FindSqlMarkers(std::string_view sql);

}  // namespace kvo::client
