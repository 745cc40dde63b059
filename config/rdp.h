// The remote-desktop launch page. The posted values land inside a script and inside element
// attributes, so each one is escaped for its place; the page is otherwise fixed text.
#pragma once

#include <string>
#include <string_view>

namespace kvo::config {

struct RdpFields {
  std::string server, user, domain;         // script strings
  std::string desktopWidth, desktopHeight;  // script numbers
  std::string objectWidth, objectHeight;    // attributes of the control's element
};

// The one-line page. Values made only of letters, digits, ".", "-" and "_" come out unchanged.
std::string RdpPage(const RdpFields& fields);

// Escapes for a double-quoted JavaScript string: "\\", "\"", "'", CR, LF as \\, \", \', \r, \n;
// "<", ">" and other control bytes as \xHH (so the value cannot close the script element).
std::string EscapeScriptString(std::string_view value);
// The value when it is an optional "-" followed by one or more digits, else the empty text.
std::string ScriptNumber(std::string_view value);

}  // namespace kvo::config
