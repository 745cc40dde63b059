// The checks and text forms that both routes apply to parameter values (internal).
#pragma once

#include <string>

#include "kvo/client/db.h"

namespace kvo::client {

// The parameter's value as a double. Throws kvo::Error "Parameter 'x': the value NaN cannot be
// sent to the database (Firebird has no value for it)" (likewise +Inf and -Inf), on either
// route, before anything is sent; and what VariantToFloat throws.
double FiniteParamFloat(const TParam& param);

// A finite double as the shortest plain decimal that reads back as the same double, with a
// full stop whatever the regional settings ("12.5", "-0", "1e-05" never: "0.00001").
std::string ExactDecimalText(double value);

}  // namespace kvo::client
