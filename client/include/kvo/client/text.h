// Text for programs written in UTF-8. The library's text (statements, parameter values, the
// rows read, messages) is Windows-1252 on both routes, as the server's is; a UTF-8 program
// converts at its edge with these two functions.
#pragma once

#include <string>
#include <string_view>

#include "kvo/client/export.h"

namespace kvo::client {

// What becomes of a character Windows-1252 lacks (and of bytes that are not UTF-8).
enum class TUnmappable {
  Refuse,   // throw, so that nothing is stored with a character missing
  Replace,  // write "?" in its place
};

// UTF-8 to Windows-1252. With Refuse, throws kvo::Error `what` + ` holds "ż", which
// Windows-1252 cannot hold` naming the first such character, or `what` + " is not valid UTF-8".
KVO_CLIENT_API std::string Utf8ToWindows1252(std::string_view utf8,
                                             TUnmappable unmappable = TUnmappable::Refuse,
                                             std::string_view what = "The text");

// Windows-1252 to UTF-8; never fails (the five bytes the code page leaves undefined map to the
// control characters of the same number).
KVO_CLIENT_API std::string Windows1252ToUtf8(std::string_view text);

}  // namespace kvo::client
