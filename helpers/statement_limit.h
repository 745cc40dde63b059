// The server's bound on how long a caller's statement may run or fetch: the [Server] key
// MaxStatementSeconds (unset or 0: no bound) applied to a request's unit of work.
#pragma once

#include <functional>
#include <string>

#include "fb/work.h"

namespace kvo::helpers {

// The failure a statement stopped by the bound answers with.
std::string StatementLimitMessage(int seconds);

// Starts the work's transaction, then runs `body` (which prepares, executes and fetches in it)
// with the bound armed. Past the bound, what runs on the work's attachment is cancelled, and
// kvo::fb::Error StatementLimitMessage() is thrown in place of whatever `body` threw (also when
// it ended on its own just after the bound passed); the work then rolls back as it goes, and
// its attachment is detached rather than kept. Other failures pass unchanged.
void WithinStatementLimit(fb::Work& work, const std::function<void()>& body);

}  // namespace kvo::helpers
