// String literals of a statement marked as Windows-1252 text for a connection without a
// character set. Such a connection reads every column in its own set, so no character ever
// fails a read; but a bare literal there is of set NONE, and the server refuses it for a UTF8
// column ("Malformed string") or stores its bytes unconverted. With the introducer the server
// converts the literal to each column's own set, as on a WIN1252 connection, while a NONE
// column still gets the bytes as they are.
#include "fb/fb_impl.h"
#include "sqltext/scanner.h"

namespace kvo::fb {

namespace {

// A literal of ASCII alone means the same in every set and stays as written.
bool NeedsCp1252Mark(std::string_view literal) {
  for (unsigned char c : literal)
    if (c >= 0x80) return true;
  return false;
}

}  // namespace

std::string MarkCp1252Literals(std::string_view sql) {
  std::string out;
  out.reserve(sql.size() + 16);
  const std::vector<sqltext::Token> tokens = sqltext::Scan(sql);
  for (size_t i = 0; i < tokens.size(); ++i) {
    const sqltext::Token& t = tokens[i];
    const std::string_view text = sqltext::TextOf(sql, t);
    // A binary literal (x'41') is ASCII and never marked; one with an introducer names its set.
    if (t.kind == sqltext::TokenKind::Literal && NeedsCp1252Mark(text) &&
        !sqltext::IsIntroduced(sql, tokens, i)) {
      RefuseUndefinedCp1252(text, "The statement");
      out += "_WIN1252 ";
    }
    out.append(text);
  }
  return out;
}

}  // namespace kvo::fb
