// String literals of a statement marked as Windows-1252 text for a connection without a
// character set. Such a connection reads every column in its own set, so no character ever
// fails a read; but a bare literal there is of set NONE, and the server refuses it for a UTF8
// column ("Malformed string") or stores its bytes unconverted. With the introducer the server
// converts the literal to each column's own set, as on a WIN1252 connection, while a NONE
// column still gets the bytes as they are.
#include <algorithm>

#include "fb/fb_impl.h"

namespace kvo::fb {

namespace {

bool IsWordChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
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
  // Whether the last word read names a character set for what follows (_UTF8 'x'). A binary
  // literal (x'41') is ASCII and never marked.
  bool introduced = false;
  size_t i = 0;
  // Copies the literal that runs from i to `end`, marked when it needs it, and goes on after it.
  auto literalTo = [&](size_t end) {
    const std::string_view literal = sql.substr(i, end - i);
    if (!introduced && NeedsCp1252Mark(literal)) {
      RefuseUndefinedCp1252(literal, "The statement");
      out += "_WIN1252 ";
    }
    out.append(literal);
    i = end;
    introduced = false;
  };
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      size_t end = sql.find('\n', i);
      end = end == std::string_view::npos ? sql.size() : end;
      out.append(sql, i, end - i);
      i = end;
      continue;
    }
    if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      size_t end = sql.find("*/", i + 2);
      end = end == std::string_view::npos ? sql.size() : end + 2;
      out.append(sql, i, end - i);
      i = end;
      continue;
    }
    if (c == '"') {
      size_t end = i + 1;
      while (end < sql.size() && sql[end] != '"') ++end;
      end = std::min(end + 1, sql.size());
      out.append(sql, i, end - i);
      i = end;
      introduced = false;
      continue;
    }
    if (IsBlank(c)) {
      out += c;
      ++i;
      continue;
    }
    if (IsWordChar(c)) {
      size_t end = i;
      while (end < sql.size() && IsWordChar(sql[end])) ++end;
      std::string_view word = sql.substr(i, end - i);
      const bool alternative =
          (word == "q" || word == "Q") && end + 1 < sql.size() && sql[end] == '\'';
      if (alternative) {
        // q'<c>...<c>': the text runs to the closing delimiter followed by a quote.
        const char close = ClosingOf(sql[end + 1]);
        size_t stop = end + 2;
        while (stop + 1 < sql.size() && !(sql[stop] == close && sql[stop + 1] == '\'')) ++stop;
        literalTo(std::min(stop + 2, sql.size()));
        continue;
      }
      out.append(word);
      i = end;
      introduced = word[0] == '_';
      continue;
    }
    if (c == '\'') {
      size_t end = i + 1;
      while (end < sql.size()) {
        if (sql[end] == '\'') {
          if (end + 1 < sql.size() && sql[end + 1] == '\'') {
            end += 2;
            continue;
          }
          break;
        }
        ++end;
      }
      literalTo(std::min(end + 1, sql.size()));
      continue;
    }
    out += c;
    ++i;
    introduced = false;
  }
  return out;
}

}  // namespace kvo::fb
