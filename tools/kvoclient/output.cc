#include "tools/kvoclient/output.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <set>

#include "kvo/client/db.h"
#include "kvo/client/text.h"
#include "platform/numbers.h"

namespace kvo::kvoclient {

namespace {

using client::TFieldType;

ResultTable::Kind KindOf(TFieldType type) {
  switch (type) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftLargeint:
    case TFieldType::ftAutoInc:
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD:
    case TFieldType::ftFMTBcd:
      return ResultTable::Kind::Number;
    case TFieldType::ftBoolean:
      return ResultTable::Kind::Boolean;
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob:
    case TFieldType::ftGraphic:
    case TFieldType::ftTypedBinary:
      return ResultTable::Kind::Binary;
    default:
      return ResultTable::Kind::Text;
  }
}

// Characters on screen: UTF-8 lead bytes only.
size_t Width(std::string_view text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string ForTable(const std::optional<std::string>& value) {
  if (!value) return "NULL";
  std::string out;
  // One more backslash in front of a text that would read as NULL or as an escape.
  if (*value == "NULL" || value->starts_with('\\')) out += '\\';
  for (char c : *value) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
  return out;
}

void Pad(std::ostream& out, size_t n) {
  for (size_t i = 0; i < n; ++i) out << ' ';
}

void WriteTable(std::ostream& out, const ResultTable& table) {
  const size_t n = table.columns.size();
  std::vector<size_t> widths(n);
  std::vector<std::vector<std::string>> cells;
  for (size_t i = 0; i < n; ++i) widths[i] = Width(table.columns[i].name);
  for (const auto& row : table.rows) {
    std::vector<std::string> line;
    for (size_t i = 0; i < n; ++i) {
      line.push_back(ForTable(row[i]));
      widths[i] = std::max(widths[i], Width(line.back()));
    }
    cells.push_back(std::move(line));
  }
  auto writeLine = [&](const std::vector<std::string>& values, bool header) {
    for (size_t i = 0; i < n; ++i) {
      if (i) out << " | ";
      const size_t pad = widths[i] - Width(values[i]);
      const bool right = !header && table.columns[i].kind == ResultTable::Kind::Number;
      if (right) Pad(out, pad);
      out << values[i];
      if (!right && i + 1 < n) Pad(out, pad);
    }
    out << '\n';
  };
  std::vector<std::string> names;
  for (const auto& c : table.columns) names.push_back(c.name);
  writeLine(names, true);
  for (size_t i = 0; i < n; ++i) {
    if (i) out << "-+-";
    out << std::string(widths[i], '-');
  }
  out << '\n';
  for (const auto& line : cells) writeLine(line, false);
  out << '(' << table.rows.size() << (table.rows.size() == 1 ? " row)" : " rows)") << '\n';
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos && !text.empty())
    return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

void WriteCsv(std::ostream& out, const ResultTable& table) {
  for (size_t i = 0; i < table.columns.size(); ++i) {
    if (i) out << ',';
    out << CsvField(table.columns[i].name);
  }
  out << "\r\n";
  for (const auto& row : table.rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (i) out << ',';
      if (row[i]) out << CsvField(*row[i]);
    }
    out << "\r\n";
  }
}

void WriteJson(std::ostream& out, const ResultTable& table) {
  std::vector<std::string> keys;
  std::set<std::string> used;
  for (const auto& c : table.columns) {
    std::string key = c.name;
    for (int k = 2; used.count(key); ++k) key = c.name + "_" + std::to_string(k);
    used.insert(key);
    keys.push_back(JsonString(key));
  }
  out << '[';
  for (size_t r = 0; r < table.rows.size(); ++r) {
    out << (r ? ",\n  {" : "\n  {");
    for (size_t i = 0; i < keys.size(); ++i) {
      if (i) out << ", ";
      out << keys[i] << ": ";
      const auto& v = table.rows[r][i];
      if (!v) {
        out << "null";
      } else if (table.columns[i].kind == ResultTable::Kind::Number ||
                 table.columns[i].kind == ResultTable::Kind::Boolean) {
        out << *v;
      } else {
        out << JsonString(*v);
      }
    }
    out << '}';
  }
  out << (table.rows.empty() ? "]\n" : "\n]\n");
}

// The shortest text that reads back as the same double.
std::string ShortestText(double value) {
  char buffer[64];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, end.ptr);
}

// A time of day with its fraction (1/10000 s) when it has one; a timestamp always with its date
// and time, so that midnight does not read as a bare date.
std::string TimeText(const client::TDateTime& v, bool withDate) {
  char buffer[48];
  int n = 0;
  if (withDate) {
    n = std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d ", v.Date.Year, v.Date.Month,
                      v.Date.Day);
  }
  n += std::snprintf(buffer + n, sizeof buffer - static_cast<size_t>(n), "%02d:%02d:%02d",
                     v.Time.Hour, v.Time.Minute, v.Time.Second);
  if (v.Time.Fraction != 0) {
    std::snprintf(buffer + n, sizeof buffer - static_cast<size_t>(n), ".%04d", v.Time.Fraction);
  }
  return buffer;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

ResultTable ReadRows(client::TClientDataSet& dataSet) {
  ResultTable table;
  for (size_t i = 0; i < dataSet.FieldCount(); ++i) {
    client::TField& f = dataSet.Fields(i);
    table.columns.push_back({client::Windows1252ToUtf8(f.FieldName()), KindOf(f.DataType())});
  }
  for (dataSet.First(); !dataSet.Eof(); dataSet.Next()) {
    std::vector<std::optional<std::string>> row;
    for (size_t i = 0; i < dataSet.FieldCount(); ++i) {
      client::TField& f = dataSet.Fields(i);
      if (f.IsNull()) {
        row.emplace_back();
      } else if (table.columns[i].kind == ResultTable::Kind::Boolean) {
        row.emplace_back(f.AsBoolean() ? "true" : "false");
      } else if (f.DataType() == TFieldType::ftFloat) {
        row.emplace_back(ShortestText(f.AsFloat()));
      } else if (f.DataType() == TFieldType::ftTime || f.DataType() == TFieldType::ftDateTime) {
        row.emplace_back(TimeText(f.AsDateTime(), f.DataType() == TFieldType::ftDateTime));
      } else if (table.columns[i].kind == ResultTable::Kind::Binary) {
        // Binary values as "0x" and hexadecimal: raw bytes would reach the terminal as text
        // in the wrong code page, control characters included.
        row.emplace_back("0x" + platform::HexBytes(f.AsString()));
      } else {
        row.emplace_back(client::Windows1252ToUtf8(f.AsString()));
      }
    }
    table.rows.push_back(std::move(row));
  }
  return table;
}

void WriteRows(std::ostream& out, const ResultTable& table, Format format) {
  switch (format) {
    case Format::Table:
      WriteTable(out, table);
      break;
    case Format::Csv:
      WriteCsv(out, table);
      break;
    case Format::Json:
      WriteJson(out, table);
      break;
  }
}

}  // namespace kvo::kvoclient
