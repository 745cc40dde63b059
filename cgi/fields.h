// Splitting of name=value field texts (query strings, form bodies, tag parameters) and the
// URL decoding applied to each field.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvo::cgi {

// An ordered list of "name=value" texts.
class FieldList {
 public:
  std::vector<std::string> items;

  // The text after the first "=" of the first entry whose name (before its first "=") equals
  // `name` without regard to ASCII case; entries without "=" never match; empty when missing.
  std::string Value(std::string_view name) const;
  size_t Count() const { return items.size(); }
};

// Decodes one field: "+" -> blank, "%%" -> "%", "%XX" -> byte. Throws kvo::Error with
// "Error decoding URL style (%XX) encoded string at position N" or
// "Invalid URL encoded character (%zz) at position N" (1-based position of the "%").
std::string DecodeField(std::string_view raw);

// Splits `text` into fields and appends each decoded field to `out` as soon as it is decoded,
// so a decoding failure leaves the fields before it in `out`. `separators` end a field;
// `whitespace` (a subset) is skipped where a field starts. Double quotes group as the request
// rules say. Requests use separators "&\r\n" and whitespace "\r\n".
void SplitFields(std::string_view text, std::string_view separators, std::string_view whitespace,
                 std::vector<std::string>& out);

}  // namespace kvo::cgi
