// What kind of answer a statement gives, read from its words alone.
#pragma once

#include <string_view>

namespace kvo::sqltext {

// Whether the statement returns rows through a cursor: a select, a common table expression
// (WITH ... SELECT), an INSERT, UPDATE, DELETE, MERGE or UPDATE OR INSERT with RETURNING, and
// an EXECUTE BLOCK with RETURNS. EXECUTE PROCEDURE answers with one set of output values and no
// cursor, so it is not counted.
bool ReturnsRows(std::string_view sql);

}  // namespace kvo::sqltext
