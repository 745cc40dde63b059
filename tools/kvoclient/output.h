// The output formats of kvoclient: rows as an aligned table, CSV or JSON (UTF-8 text).
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kvo::client {
class TClientDataSet;
}

namespace kvo::kvoclient {

enum class Format { Table, Csv, Json };

struct ResultTable {
  enum class Kind { Text, Number, Boolean, Binary };
  struct Column {
    std::string name;
    Kind kind = Kind::Text;
  };
  std::vector<Column> columns;
  // UTF-8 values; nullopt is SQL NULL. Booleans are "true"/"false", numbers in decimal, binary
  // values "0x" and upper-case hexadecimal.
  std::vector<std::vector<std::optional<std::string>>> rows;
};

// All rows of an open data set, from the first, converted from Windows-1252.
ResultTable ReadRows(client::TClientDataSet& dataSet);

// Values are exact: doubles as the shortest text that reads back as the same double, times
// with their fraction when they have one, timestamps always with date and time.
// Table: a header, a rule, one line per row (numbers right-aligned, NULL shown as NULL and a
// text "NULL" or one that begins with a backslash shown with one more backslash in front, line
// breaks and tabs shown as \n, \r, \t), then "(N rows)". CSV: RFC 4180 with a header line, a
// NULL as an empty field and an empty text as "". JSON: an array of objects, one per row, keys
// in column order (a repeated column name gets "_2", "_3", ...), numbers and booleans unquoted.
void WriteRows(std::ostream& out, const ResultTable& table, Format format);

// A JSON string literal of UTF-8 text.
std::string JsonString(std::string_view text);

}  // namespace kvo::kvoclient
