// kvoclient: the command-line client of the KVO application server for administrators and
// support staff. Statements run through the client library's query component, directly on the
// database or through the server's /sql; the other commands ask the server's actions.
#pragma once

#include <ostream>

namespace kvo::kvoclient {

// Runs one command line (argv[0] is the program name), its arguments in the terminal's encoding
// (terminal_text.h). Writes results to `out`, failures and the progress indicator to `err`, both
// in UTF-8. Returns the exit status: 0 success, 1 failure (a refused
// login included), 2 a command line that cannot be understood.
int RunKvoClient(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace kvo::kvoclient
