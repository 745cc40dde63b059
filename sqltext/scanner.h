// The lexical structure of a Firebird 3 statement: which bytes are code, literals, quoted names,
// comments and ":name" parameter markers. Every piece of the program that looks into statement
// text (parameter discovery, the remote route's substitution and line joining, the Windows-1252
// literal marking) reads it through this one scanner, so they never disagree about where a
// literal ends. It knows nothing of HTTP or of the Firebird client.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kvo::sqltext {

enum class TokenKind {
  Blank,         // blanks, tabs, CR, LF, FF, VT
  Word,          // a run of letters, digits, "_", "$" and bytes above 0x7F (keywords, names,
                 // numbers, introducers such as _WIN1252)
  Literal,       // '...' with '' for a quote; q'<d>...<d>'; x'...' (binary)
  QuotedName,    // "..." with "" for a double quote
  LineComment,   // "--" up to, not including, the line break
  BlockComment,  // "/*" to "*/"
  Marker,        // ":name" or ":"quoted name"" where a parameter may stand
  Variable,      // ":name" inside a PSQL body (EXECUTE BLOCK, procedure, trigger): a local
  Other,         // any other character ("::" is one token)
};

enum class LiteralForm { None, Plain, Alternative, Binary };

struct Token {
  TokenKind kind = TokenKind::Other;
  size_t start = 0;  // byte offset into the statement
  size_t end = 0;    // one past the last byte
  LiteralForm literal = LiteralForm::None;
  // An unterminated literal, quoted name or block comment runs to the end of the text.
  bool unterminated = false;
  size_t size() const { return end - start; }
};

// The statement cut into consecutive tokens: joined again they give `sql` back byte for byte.
// Never fails; text the server would refuse is cut as well as it can be.
std::vector<Token> Scan(std::string_view sql);

// The text of a token.
inline std::string_view TextOf(std::string_view sql, const Token& t) {
  return sql.substr(t.start, t.end - t.start);
}

// The name of a Marker or Variable token: without the colon, and without the double quotes of
// a quoted name (whose doubled quotes stand for one).
std::string MarkerName(std::string_view sql, const Token& t);

struct Marker {
  size_t start = 0;  // index of the colon
  size_t end = 0;    // one past the marker's last byte
  std::string name;
};

// The parameter markers of the statement, in order, duplicates included. A colon inside a
// literal, a quoted name or a comment, a PSQL variable and "::" are no markers.
std::vector<Marker> FindMarkers(std::string_view sql);

// Whether the literal token was written with a character set introducer (_WIN1252 'x'): the
// code before it, blanks and comments aside, ends in a word that begins with "_".
bool IsIntroduced(std::string_view sql, const std::vector<Token>& tokens, size_t index);

// The value of a Literal token of the Plain or Alternative form: without its quotes (and the
// q'<d>...<d>' delimiters), a doubled quote of the plain form standing for one. Other forms give
// the token's text.
std::string LiteralValue(std::string_view sql, const Token& t);

// The first word of the statement in ASCII lower case, blanks and comments aside; "" when none.
std::string FirstWord(std::string_view sql, const std::vector<Token>& tokens);

}  // namespace kvo::sqltext
