#include "sqltext/user_password.h"

#include <vector>

#include "platform/ascii.h"
#include "sqltext/scanner.h"

namespace kvo::sqltext {

namespace {

bool IsWord(std::string_view sql, const Token& t, std::string_view word) {
  return t.kind == TokenKind::Word && platform::SameTextAscii(TextOf(sql, t), word);
}

// How many leading tokens of `code` name a statement on logins; 0 for any other statement.
size_t UserStatementLength(std::string_view sql, const std::vector<Token>& code) {
  auto words = [&](std::initializer_list<std::string_view> list) {
    if (code.size() < list.size()) return false;
    size_t i = 0;
    for (std::string_view w : list)
      if (!IsWord(sql, code[i++], w)) return false;
    return true;
  };
  if (words({"create", "user"}) || words({"alter", "user"}) || words({"recreate", "user"}))
    return 2;
  if (words({"alter", "current", "user"})) return 3;
  if (words({"create", "or", "alter", "user"})) return 4;
  return 0;
}

}  // namespace

std::string HidePasswords(std::string_view sql, std::string_view mark) {
  const std::vector<Token> tokens = Scan(sql);
  // The code alone: blanks and comments may stand anywhere between the words.
  std::vector<Token> code;
  for (const Token& t : tokens) {
    if (t.kind != TokenKind::Blank && t.kind != TokenKind::LineComment &&
        t.kind != TokenKind::BlockComment)
      code.push_back(t);
  }
  std::string out;
  size_t done = 0;
  for (size_t i = UserStatementLength(sql, code); i > 0 && i + 1 < code.size(); ++i) {
    if (!IsWord(sql, code[i], "password")) continue;
    size_t value = i + 1;
    // A character set introducer (_UTF8 'x') may stand before the literal.
    if (code[value].kind == TokenKind::Word && sql[code[value].start] == '_' &&
        value + 1 < code.size())
      ++value;
    if (code[value].kind != TokenKind::Literal) continue;
    out.append(sql, done, code[value].start - done);
    out += mark;
    done = code[value].end;
    i = value;
  }
  out.append(sql, done);
  return out;
}

}  // namespace kvo::sqltext
