// Escaping of text placed into HTML, in element content or in a quoted attribute.
#pragma once

#include <string>
#include <string_view>

namespace kvo::platform {

// & " ' < > as entities, control bytes (CR, LF among them) as character references; other
// bytes unchanged, so ordinary names come out as they are.
std::string HtmlEscape(std::string_view value);

// Only "&", "<" and ">" as entities, every other byte unchanged: for element content whose
// readers compare texts, so that most messages keep their bytes.
std::string HtmlEscapeText(std::string_view value);

}  // namespace kvo::platform
