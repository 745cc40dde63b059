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
// The value unchanged when it reads as a script number: optional blanks, an optional sign, then
// digits with an optional fraction and exponent ("1024", "1024.5", ".5", "1e3") or "0x" and
// hexadecimal digits, then optional blanks (blanks are spaces and tabs). Else the empty text,
// so that nothing but a number can reach the script.
std::string ScriptNumber(std::string_view value);

}  // namespace kvo::config
