// Splitting of name=value field texts (query strings, form bodies, tag parameters) and the
// URL decoding applied to each field.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvo::cgi {

// The fields of one text ("name=value" entries separated as SplitFields says), kept compact:
// only the text itself and where its checked part ends, whatever the number of fields. Each
// lookup splits and decodes again, so reading and splitting a body costs no more memory than
// the body and the value asked for.
class FieldList {
 public:
  FieldList() = default;
  // Splits and decodes `text` (which must outlive the list) once to check it; a decoding failure
  // throws and the list keeps the fields before the failing one.
  void Parse(std::string_view text, std::string_view separators, std::string_view whitespace);

  // The text after the first "=" of the first entry whose name (before its first "=") equals
  // `name` without regard to ASCII case; entries without "=" never match; empty when missing.
  std::string Value(std::string_view name) const;
  size_t Count() const { return count_; }
  // Every field, decoded (for tests and tools; a body of many fields makes a long list).
  std::vector<std::string> Items() const;

 private:
  std::string_view text_;
  std::string_view separators_, whitespace_;
  size_t count_ = 0;
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
