#include "sqltext/statement_kind.h"

#include <string>

#include "sqltext/scanner.h"

namespace kvo::sqltext {

namespace {

std::string Lowered(std::string_view word) {
  std::string out(word);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

bool ReturnsRows(std::string_view sql) {
  const std::vector<Token> tokens = Scan(sql);
  // The words outside literals, names and comments, up to the body of an EXECUTE BLOCK.
  std::vector<std::string> words;
  int depth = 0;
  for (const Token& t : tokens) {
    const std::string_view text = TextOf(sql, t);
    if (t.kind == TokenKind::Other && text == "(") ++depth;
    if (t.kind == TokenKind::Other && text == ")" && depth > 0) --depth;
    if (t.kind != TokenKind::Word) continue;
    std::string word = Lowered(text);
    if (!words.empty() && words[0] == "execute" && depth == 0 && word == "as") break;
    words.push_back(std::move(word));
  }
  if (words.empty()) return false;
  const std::string& first = words[0];
  if (first == "select" || first == "with") return true;
  auto has = [&](std::string_view word) {
    for (const std::string& w : words)
      if (w == word) return true;
    return false;
  };
  if (first == "execute") return words.size() > 1 && words[1] == "block" && has("returns");
  if (first == "insert" || first == "update" || first == "delete" || first == "merge") {
    return has("returning");
  }
  return false;
}

}  // namespace kvo::sqltext
