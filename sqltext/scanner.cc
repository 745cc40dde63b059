// The Firebird 3 lexical rules that decide where literals, names, comments and markers are.
#include "sqltext/scanner.h"

#include <algorithm>

namespace kvo::sqltext {

namespace {

bool IsWordChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameWord(std::string_view text, std::string_view lowerWord) {
  if (text.size() != lowerWord.size()) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (Lower(text[i]) != lowerWord[i]) return false;
  return true;
}

// The closing delimiter of an alternative quote q'<open>...<close>'.
char ClosingOf(char open) {
  switch (open) {
    case '(':
      return ')';
    case '[':
      return ']';
    case '{':
      return '}';
    case '<':
      return '>';
    default:
      return open;
  }
}

// One past the quote that ends a section opened at `open` by `quote`, a doubled quote standing
// for one; `sql.size()` and `unterminated` when it never ends.
size_t EndOfQuoted(std::string_view sql, size_t open, char quote, bool& unterminated) {
  size_t i = open + 1;
  while (i < sql.size()) {
    if (sql[i] == quote) {
      if (i + 1 < sql.size() && sql[i + 1] == quote) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  unterminated = true;
  return sql.size();
}

// Which statements hold a PSQL body after their first "AS" outside parentheses: there ":name" is
// a local variable, not a parameter.
class BodyTracker {
 public:
  // Called for every word outside literals and comments, with the parenthesis depth.
  void Word(std::string_view word, int depth) {
    ++words_;
    if (words_ == 1) {
      first_ = SameWord(word, "execute") ? First::Execute
               : SameWord(word, "create") || SameWord(word, "alter") || SameWord(word, "recreate")
                   ? First::Define
                   : First::Other;
      return;
    }
    if (!routine_) {
      if (first_ == First::Execute && words_ == 2) routine_ = SameWord(word, "block");
      if (first_ == First::Define && words_ <= 4) {
        routine_ = SameWord(word, "procedure") || SameWord(word, "trigger") ||
                   SameWord(word, "function") || SameWord(word, "package");
      }
      return;
    }
    if (depth == 0 && SameWord(word, "as")) inBody_ = true;
  }
  bool InBody() const { return inBody_; }

 private:
  enum class First { None, Execute, Define, Other };
  First first_ = First::None;
  int words_ = 0;
  bool routine_ = false;
  bool inBody_ = false;
};

}  // namespace

std::vector<Token> Scan(std::string_view sql) {
  std::vector<Token> tokens;
  BodyTracker body;
  int depth = 0;
  size_t i = 0;
  while (i < sql.size()) {
    Token t;
    t.start = i;
    const char c = sql[i];
    const char next = i + 1 < sql.size() ? sql[i + 1] : '\0';
    if (IsBlank(c)) {
      t.kind = TokenKind::Blank;
      while (i < sql.size() && IsBlank(sql[i])) ++i;
    } else if (c == '-' && next == '-') {
      t.kind = TokenKind::LineComment;
      while (i < sql.size() && sql[i] != '\n' && sql[i] != '\r') ++i;
    } else if (c == '/' && next == '*') {
      t.kind = TokenKind::BlockComment;
      size_t close = sql.find("*/", i + 2);
      t.unterminated = close == std::string_view::npos;
      i = t.unterminated ? sql.size() : close + 2;
    } else if (c == '\'') {
      t.kind = TokenKind::Literal;
      t.literal = LiteralForm::Plain;
      i = EndOfQuoted(sql, i, '\'', t.unterminated);
    } else if (c == '"') {
      t.kind = TokenKind::QuotedName;
      i = EndOfQuoted(sql, i, '"', t.unterminated);
    } else if ((c == 'q' || c == 'Q') && next == '\'') {
      t.kind = TokenKind::Literal;
      t.literal = LiteralForm::Alternative;
      if (i + 2 >= sql.size()) {
        t.unterminated = true;
        i = sql.size();
      } else {
        const char close = ClosingOf(sql[i + 2]);
        size_t end = i + 3;
        while (end + 1 < sql.size() && !(sql[end] == close && sql[end + 1] == '\'')) ++end;
        t.unterminated = end + 1 >= sql.size();
        i = t.unterminated ? sql.size() : end + 2;
      }
    } else if ((c == 'x' || c == 'X') && next == '\'') {
      t.kind = TokenKind::Literal;
      t.literal = LiteralForm::Binary;
      i = EndOfQuoted(sql, i + 1, '\'', t.unterminated);
    } else if (IsWordChar(c)) {
      t.kind = TokenKind::Word;
      while (i < sql.size() && IsWordChar(sql[i])) ++i;
      body.Word(sql.substr(t.start, i - t.start), depth);
    } else if (c == ':' && next == ':') {
      t.kind = TokenKind::Other;
      i += 2;
    } else if (c == ':' && (IsWordChar(next) || next == '"')) {
      t.kind = body.InBody() ? TokenKind::Variable : TokenKind::Marker;
      if (next == '"') {
        i = EndOfQuoted(sql, i + 1, '"', t.unterminated);
      } else {
        ++i;
        while (i < sql.size() && IsWordChar(sql[i])) ++i;
      }
    } else {
      t.kind = TokenKind::Other;
      if (c == '(') ++depth;
      if (c == ')' && depth > 0) --depth;
      ++i;
    }
    t.end = i;
    tokens.push_back(t);
  }
  return tokens;
}

std::string MarkerName(std::string_view sql, const Token& t) {
  std::string_view text = TextOf(sql, t).substr(1);
  if (text.empty() || text.front() != '"') return std::string(text);
  text.remove_prefix(1);
  if (!t.unterminated && !text.empty()) text.remove_suffix(1);
  std::string name;
  for (size_t i = 0; i < text.size(); ++i) {
    name += text[i];
    if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') ++i;
  }
  return name;
}

std::vector<Marker> FindMarkers(std::string_view sql) {
  std::vector<Marker> markers;
  for (const Token& t : Scan(sql)) {
    if (t.kind == TokenKind::Marker) markers.push_back({t.start, t.end, MarkerName(sql, t)});
  }
  return markers;
}

bool IsIntroduced(std::string_view sql, const std::vector<Token>& tokens, size_t index) {
  while (index-- > 0) {
    const Token& t = tokens[index];
    if (t.kind == TokenKind::Blank || t.kind == TokenKind::LineComment ||
        t.kind == TokenKind::BlockComment)
      continue;
    return t.kind == TokenKind::Word && sql[t.start] == '_';
  }
  return false;
}

std::string LiteralValue(std::string_view sql, const Token& t) {
  std::string_view text = TextOf(sql, t);
  if (t.literal == LiteralForm::Alternative) {
    text.remove_prefix(std::min<size_t>(3, text.size()));
    if (!t.unterminated) text.remove_suffix(std::min<size_t>(2, text.size()));
    return std::string(text);
  }
  if (t.literal != LiteralForm::Plain) return std::string(text);
  text.remove_prefix(1);
  if (!t.unterminated && !text.empty()) text.remove_suffix(1);
  std::string value;
  for (size_t i = 0; i < text.size(); ++i) {
    value += text[i];
    if (text[i] == '\'' && i + 1 < text.size() && text[i + 1] == '\'') ++i;
  }
  return value;
}

std::string FirstWord(std::string_view sql, const std::vector<Token>& tokens) {
  for (const Token& t : tokens) {
    if (t.kind == TokenKind::Blank || t.kind == TokenKind::LineComment ||
        t.kind == TokenKind::BlockComment)
      continue;
    if (t.kind != TokenKind::Word) return {};
    std::string word;
    for (char c : TextOf(sql, t)) word += Lower(c);
    return word;
  }
  return {};
}

}  // namespace kvo::sqltext
