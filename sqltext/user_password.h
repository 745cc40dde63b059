// Where a statement that creates or changes a login holds the password: the literal after the
// word PASSWORD in CREATE USER, ALTER USER (ALTER CURRENT USER too), CREATE OR ALTER USER and
// RECREATE USER. The statement log writes such statements without it.
#pragma once

#include <string>
#include <string_view>

namespace kvo::sqltext {

// `sql` with every password literal of such a statement (any form: '...', q'...', x'...', after
// an introducer or not, comments between it and PASSWORD) replaced by `mark`. Every other byte,
// and every byte of any other statement, is kept as it is.
std::string HidePasswords(std::string_view sql, std::string_view mark);

}  // namespace kvo::sqltext
