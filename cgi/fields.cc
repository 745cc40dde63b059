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

// Calls fn(raw field, position where it starts) for each field of `text` as SplitFields cuts
// them, until fn returns false.
template <typename Fn>
void ForEachRawField(std::string_view text, std::string_view separators,
                     std::string_view whitespace, Fn fn) {
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
    if (!fn(field, start)) return;
    if (scan >= n) return;
    pos = scan + 1;
  }
}

// The length of the escape at raw[i] ("%%" or "%XX"), or 0 when it is malformed.
size_t EscapeLength(std::string_view raw, size_t i) {
  if (i + 1 < raw.size() && raw[i + 1] == '%') return 2;
  if (i + 2 >= raw.size()) return 0;
  return (HexDigit(raw[i + 1]) < 0 || HexDigit(raw[i + 2]) < 0) ? 0 : 3;
}

bool DecodesCleanly(std::string_view raw) {
  for (size_t i = raw.find('%'); i != std::string_view::npos; i = raw.find('%', i)) {
    size_t len = EscapeLength(raw, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

// Decodes `raw` (which decodes cleanly) up to its first decoded "=" into `name`; `rest` is
// where the value starts in `raw`. False when no "=" comes.
bool DecodeName(std::string_view raw, std::string& name, size_t& rest) {
  for (size_t i = 0; i < raw.size();) {
    char c = raw[i];
    size_t len = c == '%' ? EscapeLength(raw, i) : 1;
    if (len == 0) return false;
    if (c == '+') c = ' ';
    if (len == 2) c = '%';
    if (len == 3) c = static_cast<char>(HexDigit(raw[i + 1]) * 16 + HexDigit(raw[i + 2]));
    i += len;
    if (c == '=') {
      rest = i;
      return true;
    }
    name += c;
  }
  return false;
}

}  // namespace

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
  ForEachRawField(text, separators, whitespace, [&](std::string_view raw, size_t) {
    out.push_back(DecodeField(raw));
    return true;
  });
}

void FieldList::Parse(std::string_view text, std::string_view separators,
                      std::string_view whitespace) {
  text_ = {};
  count_ = 0;
  separators_ = separators;
  whitespace_ = whitespace;
  // Only checked here: the decoded fields are not kept.
  ForEachRawField(text, separators, whitespace, [&](std::string_view raw, size_t start) {
    if (!DecodesCleanly(raw)) {
      text_ = text.substr(0, start);
      DecodeField(raw);  // throws the failure's message
    }
    ++count_;
    return true;
  });
  text_ = text;
}

std::string FieldList::Value(std::string_view name) const {
  std::string value;
  ForEachRawField(text_, separators_, whitespace_, [&](std::string_view raw, size_t) {
    // Decoding stops at the first decoded "=": a name is short, a value may be the whole body.
    size_t rest = 0;
    std::string fieldName;
    if (!DecodeName(raw, fieldName, rest) || !platform::SameTextAscii(fieldName, name)) return true;
    value = DecodeField(raw.substr(rest));
    return false;
  });
  return value;
}

std::vector<std::string> FieldList::Items() const {
  std::vector<std::string> out;
  SplitFields(text_, separators_, whitespace_, out);
  return out;
}

}  // namespace kvo::cgi
