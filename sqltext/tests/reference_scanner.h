// A second, deliberately plain reading of statement text for the scanner's tests and fuzz
// target: one state machine, one byte at a time, that says what each byte is. It shares no code
// with the scanner, so a fault in one shows up as a difference from the other.
#pragma once

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "sqltext/scanner.h"

namespace kvo::sqltext::testing {

enum class ByteClass { Code, Literal, Name, Comment };

inline std::vector<ByteClass> ReferenceClasses(std::string_view s) {
  enum { Code, Single, Alternative, Quoted, Line, Block } state = Code;
  auto word = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
  };
  std::vector<ByteClass> out(s.size(), ByteClass::Code);
  char closing = 0;
  bool inMarkerName = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    char next = i + 1 < s.size() ? s[i + 1] : '\0';
    switch (state) {
      case Code:
        if (inMarkerName && word(c)) continue;
        inMarkerName = false;
        if (c == '-' && next == '-') {
          out[i] = ByteClass::Comment;
          state = Line;
        } else if (c == '/' && next == '*') {
          out[i] = out[i + 1] = ByteClass::Comment;
          ++i;
          state = Block;
        } else if (c == '\'') {
          out[i] = ByteClass::Literal;
          state = Single;
        } else if (c == '"') {
          out[i] = ByteClass::Name;
          state = Quoted;
        } else if ((c == 'q' || c == 'Q' || c == 'x' || c == 'X') && next == '\'' &&
                   (i == 0 || !word(s[i - 1]))) {
          out[i] = out[i + 1] = ByteClass::Literal;
          ++i;
          if (c == 'x' || c == 'X') {
            state = Single;
          } else if (i + 1 < s.size()) {
            ++i;
            out[i] = ByteClass::Literal;
            char open = s[i];
            closing = open == '('   ? ')'
                      : open == '[' ? ']'
                      : open == '{' ? '}'
                      : open == '<' ? '>'
                                    : open;
            state = Alternative;
          }
        } else if (c == ':' && next == ':') {
          ++i;
        } else if (c == ':' && word(next)) {
          inMarkerName = true;
        } else if (word(c)) {
          while (i + 1 < s.size() && word(s[i + 1])) ++i;
        }
        break;
      case Single:
        out[i] = ByteClass::Literal;
        if (c == '\'') {
          if (next == '\'') {
            out[++i] = ByteClass::Literal;
          } else {
            state = Code;
          }
        }
        break;
      case Quoted:
        out[i] = ByteClass::Name;
        if (c == '"') {
          if (next == '"') {
            out[++i] = ByteClass::Name;
          } else {
            state = Code;
          }
        }
        break;
      case Alternative:
        out[i] = ByteClass::Literal;
        if (c == closing && next == '\'') {
          out[++i] = ByteClass::Literal;
          state = Code;
        }
        break;
      case Line:
        if (c == '\r' || c == '\n') {
          state = Code;
        } else {
          out[i] = ByteClass::Comment;
        }
        break;
      case Block:
        out[i] = ByteClass::Comment;
        if (c == '*' && next == '/') {
          out[++i] = ByteClass::Comment;
          state = Code;
        }
        break;
    }
  }
  return out;
}

// What the scanner's tokens say of each byte, in the same terms.
inline std::vector<ByteClass> ScannerClasses(std::string_view s, const std::vector<Token>& tokens) {
  std::vector<ByteClass> out(s.size(), ByteClass::Code);
  for (const Token& t : tokens) {
    ByteClass cls = ByteClass::Code;
    if (t.kind == TokenKind::Literal) cls = ByteClass::Literal;
    if (t.kind == TokenKind::QuotedName) cls = ByteClass::Name;
    if (t.kind == TokenKind::LineComment || t.kind == TokenKind::BlockComment)
      cls = ByteClass::Comment;
    for (size_t i = t.start; i < t.end; ++i) out[i] = cls;
    // A quoted marker name is a quoted name after its colon.
    if ((t.kind == TokenKind::Marker || t.kind == TokenKind::Variable) && t.size() > 1 &&
        s[t.start + 1] == '"') {
      for (size_t i = t.start + 1; i < t.end; ++i) out[i] = ByteClass::Name;
    }
  }
  return out;
}

// Empty when the scanner agrees with itself and with the reference on `s`; otherwise why not.
inline std::string CheckScanner(std::string_view s) {
  std::vector<Token> tokens = Scan(s);
  std::string joined;
  size_t at = 0;
  for (const Token& t : tokens) {
    if (t.start != at || t.end <= t.start)
      return "tokens do not follow each other at " + std::to_string(at);
    joined.append(TextOf(s, t));
    at = t.end;
  }
  if (joined != s) return "the tokens joined are not the statement";
  std::vector<ByteClass> expected = ReferenceClasses(s), got = ScannerClasses(s, tokens);
  for (size_t i = 0; i < s.size(); ++i) {
    if (expected[i] != got[i]) return "byte " + std::to_string(i) + " read differently";
  }
  for (const Marker& m : FindMarkers(s)) {
    if (expected[m.start] != ByteClass::Code) return "a marker inside a literal, name or comment";
  }
  return {};
}

}  // namespace kvo::sqltext::testing
