// The terminal's text. kvoclient works in UTF-8 inside (and converts that to the library's
// Windows-1252 and back); its arguments, environment, standard input and typed answers arrive,
// and its output leaves, in the encoding of the user's locale (LC_ALL, LC_CTYPE, LANG). A UTF-8
// locale and the C/POSIX locale pass bytes as they are, taken as UTF-8; any other encoding is
// converted with iconv.
#pragma once

#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace kvo::kvoclient {

// Takes the locale's encoding (setlocale(LC_ALL, "") and nl_langinfo(CODESET)) for the calls
// below. Every category but LC_CTYPE is set back to "C", so that numbers are still read and
// written with a full stop. Called once, before anything else.
void UseLocaleEncoding();

// The encoding in use: "UTF-8" until UseLocaleEncoding, and for the C/POSIX locale.
const std::string& TerminalEncoding();

// Terminal text to UTF-8. Throws kvo::Error `what` + " is not valid <encoding> text".
std::string FromTerminal(std::string_view text, std::string_view what);

// UTF-8 to terminal text; a character the encoding lacks becomes "?".
std::string ToTerminal(std::string_view utf8);

// An output stream that takes UTF-8 and passes it to `target` in the terminal's encoding
// (as it is when no conversion is needed). A sequence cut between two writes is kept until it
// is whole; flush() writes what is whole and flushes `target`.
class TerminalStream : public std::ostream {
 public:
  explicit TerminalStream(std::ostream& target);
  ~TerminalStream() override;

 private:
  class Buffer;
  std::unique_ptr<Buffer> buffer_;
};

}  // namespace kvo::kvoclient
