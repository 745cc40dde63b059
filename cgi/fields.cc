#include "cgi/fields.h"

#include <cstdio>

#include "platform/ascii.h"
#include "platform/error.h"

namespace kvo::cgi {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string FieldList::Value(std::string_view name) const {
  for (const auto& item : items) {
    size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    if (platform::SameTextAscii(std::string_view(item).substr(0, eq), name)) return item.substr(eq + 1);
  }
  return {};
}

std::string DecodeField(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '+') {
      out += ' ';
    } else if (c != '%') {
      out += c;
    } else if (i + 1 < raw.size() && raw[i + 1] == '%') {
      out += '%';
      ++i;
    } else if (i + 2 >= raw.size()) {
      throw Error(
          "Error decoding URL style (%XX) encoded string at position " + std::to_string(i + 1),
          "EWebBrokerException");
    } else {
      int hi = HexDigit(raw[i + 1]), lo = HexDigit(raw[i + 2]);
      if (hi < 0 || lo < 0)
        throw Error("Invalid URL encoded character (" + std::string(raw.substr(i, 3)) +
                        ") at position " + std::to_string(i + 1),
                    "EWebBrokerException");
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    }
  }
  return out;
}

void SplitFields(std::string_view text, std::string_view separators, std::string_view whitespace,
                 std::vector<std::string>& out) {
  const size_t n = text.size();
  size_t pos = 0;
  while (true) {
    while (pos < n && whitespace.find(text[pos]) != std::string_view::npos) ++pos;
    if (pos >= n) return;  // a field that would start at the end is not added
    const size_t start = pos;
    size_t scan = pos;
    std::string_view field;
    if (text[scan] == '"') {
      // Quoted from the first character: the opening quote is dropped and the closing quote
      // ends the field.
      size_t close = text.find('"', scan + 1);
      scan = (close == std::string_view::npos) ? n : close;
      field = text.substr(start + 1, scan - start - 1);
    } else {
      while (scan < n && text[scan] != '"' && separators.find(text[scan]) == std::string_view::npos)
        ++scan;
      if (scan < n && text[scan] == '"') {
        size_t close = text.find('"', scan + 1);
        if (close == std::string_view::npos) {
          scan = n;
        } else {
          scan = close + 1;  // the closing quote belongs to the field
        }
      }
      field = text.substr(start, scan - start);
    }
    out.push_back(DecodeField(field));
    if (scan >= n) return;
    pos = scan + 1;
  }
}

}  // namespace kvo::cgi
