// Statement text beyond ASCII as the server must see it. The program's text is Windows-1252,
// and what a literal means depends on the set of what it meets: on a connection without a set
// a bare literal is of set NONE, which a UTF8 column compares as no row ("Malformed string" for
// STARTING WITH); `_WIN1252 '...'` fails against a UTF8 column as soon as a row Windows-1252
// cannot hold is compared; `_UTF8 '...'` meets UTF8 and WIN1252 columns but never the
// Windows-1252 bytes of a NONE column. So a literal is spelt for the database's default set,
// and where the database holds text of other sets too it travels as a parameter, which the
// server describes with the set of what it meets. Names are simpler: the server keeps them as
// UTF-8, and a connection without a set sends a quoted name's bytes as they are.
#include <algorithm>

#include "fb/fb_impl.h"
#include "platform/ascii.h"
#include "platform/codepage.h"
#include "sqltext/scanner.h"

namespace kvo::fb {

namespace {

constexpr unsigned kCharSetUnicodeFss = 3, kCharSetUtf8 = 4;

bool IsUtf8Set(unsigned charSet) {
  return charSet == kCharSetUtf8 || charSet == kCharSetUnicodeFss;
}

bool Skipped(const sqltext::Token& t) {
  return t.kind == sqltext::TokenKind::Blank || t.kind == sqltext::TokenKind::LineComment ||
         t.kind == sqltext::TokenKind::BlockComment;
}

// The `n`th word of the statement (from 0) in lower case, comments and blanks aside; "" when the
// code there is no word.
std::string WordAt(std::string_view sql, const std::vector<sqltext::Token>& tokens, size_t n) {
  for (const sqltext::Token& t : tokens) {
    if (Skipped(t)) continue;
    if (n-- > 0) continue;
    if (t.kind != sqltext::TokenKind::Word) return {};
    std::string word(sqltext::TextOf(sql, t));
    for (char& c : word) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return word;
  }
  return {};
}

// A statement whose literals may stand as parameters: DML, and no PSQL body.
bool TakesParameters(std::string_view sql, const std::vector<sqltext::Token>& tokens) {
  const std::string first = WordAt(sql, tokens, 0);
  if (first == "execute") return WordAt(sql, tokens, 1) == "procedure";
  return first == "select" || first == "with" || first == "insert" || first == "update" ||
         first == "delete" || first == "merge";
}

// The statement names system tables, whose names and texts are UNICODE_FSS whatever the
// database's default set.
bool NamesSystemTables(std::string_view sql, const std::vector<sqltext::Token>& tokens) {
  for (const sqltext::Token& t : tokens) {
    if (t.kind != sqltext::TokenKind::Word || t.size() < 4) continue;
    std::string prefix(sqltext::TextOf(sql, t).substr(0, 4));
    for (char& c : prefix) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (prefix == "RDB$" || prefix == "MON$" || prefix == "SEC$") return true;
  }
  return false;
}

}  // namespace

std::string SpellText(std::string_view sql, bool namesAsUtf8, bool marksCp1252,
                      const std::function<const DatabaseText&()>& learn,
                      std::vector<LiteralParam>* literals,
                      const std::vector<unsigned>* literalSets) {
  const std::vector<sqltext::Token> tokens = sqltext::Scan(sql);
  std::string out;
  out.reserve(sql.size() + 16);
  // Asked on the first literal that needs it: whether literals become parameters, and how the
  // others are spelt.
  std::optional<bool> asParameters;
  bool utf8Database = false;
  bool definition = false;
  unsigned parameters = 0;
  size_t literalIndex = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const sqltext::Token& t = tokens[i];
    const std::string_view text = sqltext::TextOf(sql, t);
    if (t.kind == sqltext::TokenKind::Other && text == "?") ++parameters;
    if (t.kind == sqltext::TokenKind::QuotedName && namesAsUtf8 && platform::BeyondAscii(text)) {
      RefuseUndefinedCp1252(text, "The statement");
      out += platform::Cp1252ToUtf8(text);
      continue;
    }
    // A binary literal (x'41') is ASCII; one with an introducer names its set.
    if (t.kind != sqltext::TokenKind::Literal || !platform::BeyondAscii(text) ||
        sqltext::IsIntroduced(sql, tokens, i)) {
      out.append(text);
      continue;
    }
    if (!asParameters) {
      const DatabaseText& database = learn();
      utf8Database = IsUtf8Set(database.charSet);
      asParameters = database.mixed || (!utf8Database && NamesSystemTables(sql, tokens));
      // A definition keeps the spelling of the database's own set, as its text is kept.
      definition =
          *asParameters && !TakesParameters(sql, tokens) && WordAt(sql, tokens, 0) != "execute";
    }
    const bool spelt = *asParameters ? !definition : utf8Database || marksCp1252;
    if (!spelt) {
      out.append(text);
      continue;
    }
    RefuseUndefinedCp1252(text, "The statement");
    if (!*asParameters && utf8Database) {
      out += "_UTF8 ";
      out += platform::Cp1252ToUtf8(text);
    } else if (!*asParameters) {
      out += "_WIN1252 ";
      out.append(text);
    } else if (literals && TakesParameters(sql, tokens)) {
      literals->push_back({parameters++, sqltext::LiteralValue(sql, t)});
      out += '?';
    } else if (literalSets && !literalSets->empty()) {
      const unsigned set = literalIndex < literalSets->size() ? (*literalSets)[literalIndex] : 0;
      ++literalIndex;
      if (set == kCharSetNone || set == kCharSetOctets) {
        out.append(text);
      } else {
        out += "_UTF8 ";
        out += platform::Cp1252ToUtf8(text);
      }
    } else {
      // Where the server describes nothing (the select list, two literals compared, a PSQL
      // body), Windows-1252 text is what the caller wrote: it is right against any column but
      // a UTF8 one holding a character the code page lacks, and there it fails aloud.
      out += "_WIN1252 ";
      out.append(text);
    }
  }
  return out;
}

const DatabaseText& LearnDatabaseText(TransactionCore& tx) {
  std::optional<DatabaseText>& known = tx.attachment->own.text;
  if (known) return *known;
  // The default set, then each set of the text fields of the database's own making (columns,
  // procedure parameters, domains).
  static const char kQuery[] =
      "select coalesce(s.RDB$CHARACTER_SET_ID, 0), f.RDB$CHARACTER_SET_ID from RDB$DATABASE d "
      "left join RDB$CHARACTER_SETS s on s.RDB$CHARACTER_SET_NAME = d.RDB$CHARACTER_SET_NAME "
      "left join (select distinct coalesce(RDB$CHARACTER_SET_ID, 0) RDB$CHARACTER_SET_ID from "
      "RDB$FIELDS where coalesce(RDB$SYSTEM_FLAG, 0) = 0 and (RDB$FIELD_TYPE in (14, 37) or "
      "(RDB$FIELD_TYPE = 261 and RDB$FIELD_SUB_TYPE = 1))) f on 1 = 1";
  Statement query = Statement::Make(tx.shared_from_this(), kQuery, true);
  ResultSet rows = query.Open();
  DatabaseText text;
  std::vector<unsigned> sets;
  while (rows.Fetch()) {
    text.charSet = static_cast<unsigned>(rows.GetInt64(0));
    if (!rows.IsNull(1)) sets.push_back(static_cast<unsigned>(rows.GetInt64(1)));
  }
  for (unsigned set : sets) {
    // A UTF-8 literal meets every set but NONE; a literal of the other defaults meets NONE,
    // OCTETS, ASCII, WIN1252 and the default itself.
    const bool meets = IsUtf8Set(text.charSet)
                           ? set != kCharSetNone
                           : set == kCharSetNone || set == kCharSetOctets || set == 2 ||
                                 set == kCharSetWin1252 || set == text.charSet;
    if (!meets) text.mixed = true;
  }
  known = text;
  return *known;
}

}  // namespace kvo::fb
