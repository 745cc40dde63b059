// The rows of a statement read straight from the test database through the Firebird layer, one
// text a row with "|" between columns: what was stored, whichever route stored it. NULL reads
// "NULL"; a double reads as the hexadecimal of its bits, so that -0 and the last bit show.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fb/fb.h"
#include "tests/support/fb_testdb.h"

namespace kvo::testing {

inline std::vector<std::string> DirectRows(const TempDatabase& db, const std::string& sql) {
  fb::Attachment a = db.Attach();
  fb::Transaction tx = a.StartTransaction();
  fb::Statement st = a.Prepare(tx, sql);
  fb::ResultSet rs = st.Open();
  std::vector<std::string> rows;
  while (rs.Fetch()) {
    std::string row;
    for (size_t i = 0; i < rs.Columns().size(); ++i) {
      if (i) row += "|";
      if (rs.IsNull(i)) {
        row += "NULL";
      } else if (rs.Columns()[i].type == fb::SqlType::Double) {
        double d = rs.GetDouble(i);
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        char hex[20];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(bits));
        row += hex;
      } else {
        row += rs.GetAsText(i);
      }
    }
    rows.push_back(row);
  }
  rs.Close();
  tx.Commit();
  return rows;
}

}  // namespace kvo::testing
