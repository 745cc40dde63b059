// The library's failures: every operation reports a failure as kvo::Error (a std::runtime_error)
// whose what() is the message meant for the user, unchanged. Failures of the Firebird client on
// the direct route are a kvo::Error too, carrying the client's own text.
#pragma once

#include "platform/error.h"
