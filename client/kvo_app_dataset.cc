// TKVOAppDataSet: the /sql exchange, and the text functions it is built from.
#include "kvo/client/kvo_app_dataset.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "client/http_client.h"
#include "client/param_values.h"
#include "fb/fb.h"
#include "kvo/client/ui.h"
#include "packet/compress.h"
#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/error_page.h"
#include "platform/numbers.h"
#include "platform/stream.h"
#include "sqltext/scanner.h"
#include "sqltext/statement_kind.h"

namespace kvo::client {

namespace {

bool IsDelimiter(std::string_view delimiters, char c) {
  return delimiters.find(c) != std::string_view::npos;
}

std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

std::string Pad(int value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", digits, value);
  return buffer;
}

}  // namespace

std::optional<TWordPosition> FindWholeWord(std::string_view text, std::string_view pattern,
                                           bool ignoreCase, std::string_view delimiters) {
  if (pattern.empty() || pattern.size() > text.size()) return std::nullopt;
  std::string haystack(text), needle(pattern);
  if (ignoreCase) {
    haystack = platform::AsciiLowered(haystack);
    needle = platform::AsciiLowered(needle);
  }
  size_t from = 0;  // 0-based index where the next search starts
  while (true) {
    size_t found = haystack.find(needle, from);
    if (found == std::string::npos) return std::nullopt;
    size_t last = found + needle.size() - 1;
    bool wholeLeft = found == 0 || IsDelimiter(delimiters, text[found - 1]);
    bool wholeRight = last + 1 == text.size() || IsDelimiter(delimiters, text[last + 1]);
    if (wholeLeft && wholeRight) return TWordPosition{found + 1, last + 1};
    from = found + 1;
  }
}

std::string ReplaceWholeWord(std::string_view text, std::string_view oldPattern,
                             std::string_view newText, bool replaceAll, bool ignoreCase,
                             std::string_view delimiters) {
  // The rest after a replacement is searched as a text of its own (its first character counts
  // as the start of a text), exactly as a recursive call on it would.
  std::string result;
  std::string_view rest = text;
  while (auto found = FindWholeWord(rest, oldPattern, ignoreCase, delimiters)) {
    result.append(rest.substr(0, found->First - 1));
    result.append(newText);
    rest = rest.substr(found->Last);
    if (!replaceAll) break;
  }
  result.append(rest);
  return result;
}

std::string FloatToSQL(double value) {
  char buffer[400];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4);
  std::string text(buffer, end.ptr);
  if (text == "-0.0000") text = "0.0000";
  for (char& c : text) {
    if (c == '.') c = FormatSettings().DecimalSeparator;
  }
  for (size_t i = text.size(); i-- > 0;) {
    if (text[i] == ',') text[i] = '.';
  }
  return text;
}

namespace {

std::string ExactFloatLiteral(const TParam& param) {
  const double value = FiniteParamFloat(param);
  // "-0e0" is the negation of a double zero, which the server keeps as -0.
  if (value == 0 && std::signbit(value)) return "-0e0";
  // A multiple of 1/16 has at most four decimals, so the four-decimal literal is its exact
  // value; below 10^14 that literal has at most 18 digits, which Firebird still reads as an
  // exact number. Everything else would be rounded to four decimals or be read back a unit
  // off in the last place, so it goes as an integer times a power of two, which the server
  // computes without rounding.
  if (std::fabs(value) < 1e14 && std::trunc(value * 16) == value * 16) return FloatToSQL(value);
  int exponent = 0;
  double fraction = std::frexp(value, &exponent);  // value = fraction * 2^exponent
  auto mantissa = static_cast<int64_t>(std::ldexp(fraction, 53));
  exponent -= 53;
  while (mantissa % 2 == 0) {
    mantissa /= 2;
    ++exponent;
  }
  // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict overlap for a literal
  // plus a temporary string (GCC bug 105651).
  std::string literal = "(";
  literal += std::to_string(mantissa);
  literal += "*power(2e0,";
  literal += std::to_string(exponent);
  literal += "))";
  return literal;
}

// The longest piece of a value written as one literal. Firebird takes literals up to 65,535
// bytes, but a text literal longer than a CHAR can hold (32,767) serves only a blob; a longer
// value goes as pieces joined onto an empty blob, which a column of any text type takes when
// the value fits it.
constexpr size_t kPieceBytes = 32000;

// Text as one quoted literal, or as pieces joined onto an empty text blob.
std::string TextLiteral(std::string_view text) {
  if (text.size() <= kPieceBytes) return Quoted(text);
  std::string out = "(cast('' as blob sub_type text)";
  for (size_t at = 0; at < text.size(); at += kPieceBytes) {
    out += " || " + Quoted(text.substr(at, kPieceBytes));
  }
  return out + ")";
}

// Bytes as a binary literal, so that no byte can end the literal or be read in a character
// set; a long value as pieces joined onto an empty binary blob.
std::string BinaryLiteral(std::string_view bytes) {
  constexpr size_t piece = kPieceBytes / 2;  // two hexadecimal digits a byte
  if (bytes.size() <= piece) return "X'" + platform::HexBytes(bytes) + "'";
  std::string out = "(cast('' as blob sub_type binary)";
  for (size_t at = 0; at < bytes.size(); at += piece) {
    out += " || X'" + platform::HexBytes(bytes.substr(at, piece)) + "'";
  }
  return out + ")";
}

std::string TimeText(const TTime& t) {
  return Pad(t.Hour, 2) + ":" + Pad(t.Minute, 2) + ":" + Pad(t.Second, 2) + "." +
         Pad(t.Fraction, 4);
}

std::string DateText(const TDate& d) {
  return Pad(d.Year, 4) + "-" + Pad(d.Month, 2) + "-" + Pad(d.Day, 2);
}

}  // namespace

std::string ParamLiteral(const TParam& param) {
  // NULL of any type, and a value never assigned, are SQL NULL, as the direct route binds them.
  if (param.IsNull()) return "NULL";
  const TVariant& value = param.Value();
  switch (param.DataType) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftLargeint:
      // A number, never raw text: a text value must read as an integer.
      return std::to_string(VariantToInteger(value));
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob:
    case TFieldType::ftGraphic:
      return BinaryLiteral(VariantToText(value));
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
      return ExactFloatLiteral(param);
    // Dates and times in the one form the server reads whatever the regional settings, with
    // nothing dropped: ISO dates, times to 1/10000 s.
    case TFieldType::ftDate:
      return Quoted(DateText(VariantToDateTime(value).Date));
    case TFieldType::ftDateTime:
    case TFieldType::ftTimeStamp: {
      // At midnight the date alone, which the server takes for a DATE as well as for a
      // TIMESTAMP; with a time of day the whole value (refused where a DATE stands, rather
      // than stored without its time).
      TDateTime dt = VariantToDateTime(value);
      if (dt.Time == TTime{}) return Quoted(DateText(dt.Date));
      return Quoted(DateText(dt.Date) + " " + TimeText(dt.Time));
    }
    case TFieldType::ftTime:
      return Quoted(TimeText(VariantToDateTime(value).Time));
    default:
      // A truth value as Firebird's own literal: quoted text is no boolean in a condition.
      if (std::holds_alternative<bool>(value)) return std::get<bool>(value) ? "TRUE" : "FALSE";
      // A number held by a parameter of another type (ftBCD) goes with a full stop, exactly.
      if (std::holds_alternative<double>(value)) {
        return Quoted(ExactDecimalText(FiniteParamFloat(param)));
      }
      return TextLiteral(VariantToText(value));
  }
}

TKVOAppDataSet::TKVOAppDataSet(TComponent* owner)
    : TClientDataSet(owner), http_(std::make_unique<detail::HttpClient>()) {}

TKVOAppDataSet::~TKVOAppDataSet() = default;

const THttpProxySettings& TKVOAppDataSet::HttpProxy() const {
  return http_->Proxy;
}

void TKVOAppDataSet::ApplyProxy() {
  THttpProxySettings proxy;
  if (UseProxy) {
    proxy.Host = ProxyHost;
    proxy.Port = ProxyPort;
    if (!ProxyUser.empty()) {
      proxy.BasicAuthentication = true;
      proxy.Username = ProxyUser;
      proxy.Password = ProxyPass;
    }
  }
  http_->Proxy = proxy;
}

std::string TKVOAppDataSet::ExpandParams(std::string_view sql) const {
  // Every literal is made first, so that a value that cannot be converted fails the call
  // whether or not its marker occurs.
  std::vector<std::string> literals;
  for (const TParam& param : Params) literals.push_back(ParamLiteral(param));
  // One pass over the statement as the scanner reads it: a marker is replaced only where the
  // server would take a parameter (never inside a literal, a quoted name, a comment or a PSQL
  // body), and a literal written in is never searched again, so no value can change the
  // statement around it. The statement goes on one line, as the server's log expects: line
  // breaks become blanks, except inside literals and quoted names, where they are data; a
  // "--" comment is dropped, so that it cannot swallow the lines after it.
  std::string out;
  out.reserve(sql.size());
  for (const sqltext::Token& t : sqltext::Scan(sql)) {
    const std::string_view text = sqltext::TextOf(sql, t);
    switch (t.kind) {
      case sqltext::TokenKind::LineComment:
        break;
      case sqltext::TokenKind::Literal:
      case sqltext::TokenKind::QuotedName:
        out.append(text);
        break;
      case sqltext::TokenKind::Marker: {
        const std::string name = sqltext::MarkerName(sql, t);
        size_t index = 0;
        for (const TParam& param : Params) {
          if (platform::SameTextAscii(param.Name, name)) break;
          ++index;
        }
        out.append(index < literals.size() ? std::string_view(literals[index]) : text);
        break;
      }
      default:
        for (char c : text) out += c == '\r' || c == '\n' ? ' ' : c;
        break;
    }
  }
  return out;
}

std::string TKVOAppDataSet::TooLongMessage(std::string_view sql, std::string_view refusal) const {
  // The statement's own text too long: the server's message says it all.
  if (sql.size() > fb::kMaxStatementBytes) return std::string(refusal);
  // Otherwise the values made it so: the one that takes the most room is named.
  const TParam* longest = nullptr;
  size_t longestBytes = 0;
  for (const sqltext::Marker& m : sqltext::FindMarkers(sql)) {
    for (const TParam& param : Params) {
      if (!platform::SameTextAscii(param.Name, m.name)) continue;
      const size_t bytes = ParamLiteral(param).size();
      if (bytes > longestBytes) {
        longest = &param;
        longestBytes = bytes;
      }
      break;
    }
  }
  if (!longest) return std::string(refusal);
  return NamePrefix() + "Parameter '" + longest->Name +
         "' is too long: written into the statement its value takes " +
         std::to_string(longestBytes) + " bytes, and a statement may hold at most " +
         std::to_string(fb::kMaxStatementBytes) + " bytes; nothing was sent";
}

std::string TKVOAppDataSet::ExtractServerMessage(std::string_view answer) {
  return platform::ErrorPageMessage(answer);
}

bool IsRemoteSelect(std::string_view sql) {
  return platform::StartsWithAscii(platform::TrimControls(sql), "select ");
}

void TKVOAppDataSet::RunRemote(const std::string& sql, bool showWait) {
  std::unique_ptr<TWaitWindow> wait;
  if (showWait) wait = UserInterface().ShowWaitWindow(TWaitWindowLayout{});
  ApplyProxy();
  std::string q = ExpandParams(sql);
  // Another statement ends the life of fields kept for an earlier one (see TField).
  if (sql != lastStatement_) ReleaseStaleFields();
  lastStatement_ = sql;
  Close();
  bool isSelect = IsRemoteSelect(q);
  // The server would run it and the rows would be lost (an insert with RETURNING would be
  // stored and reported as a failure): refuse it as the direct route does, before sending.
  if (!isSelect && sqltext::ReturnsRows(q)) {
    throw Error(NamePrefix() +
                "The statement returns rows that the server route does not read (it reads the "
                "rows of statements that begin with \"select \"); nothing was sent");
  }
  // After a failed exchange the data set holds no rows of an earlier statement, and the
  // failure reaches the caller once the error box has shown it.
  auto fail = [this, &wait](const std::string& message) {
    wait.reset();
    DropPacket();
    UserInterface().ShowError(message);
    throw Error(message);
  };
  // The server would refuse it only after the whole text had travelled, with this message.
  if (auto refusal = fb::StatementTooLong(q)) fail(TooLongMessage(sql, refusal->what()));
  TFormFields fields = {{"db", DataBaseName}, {"u", User}, {"p", Password}, {"q", q}};
  std::string url = URL + "/" + WebServer + "/sql";

  lastAnswer_.clear();
  http_->Limits = Limits;
  try {
    if (Compressed && isSelect) {
      fields.insert(fields.begin(), {"z", "true"});
      lastAnswer_ = http_->Post(url, EncodeFormBody(fields));
      platform::MemoryStream answer(lastAnswer_);
      platform::MemoryStream packet;
      packet::DecompressStream(answer, packet, Limits.MaxAnswerBytes);
      LoadFromBinary(packet.Bytes());
      wait.reset();
      return;
    }
    fields.insert(fields.begin(), {"z", "false"});
    lastAnswer_ = http_->Post(url, EncodeFormBody(fields));
  } catch (const std::exception&) {
    DropPacket();
    throw;
  }
  const std::string& answer = lastAnswer_;
  wait.reset();
  if (platform::IsErrorPage(answer)) fail(ExtractServerMessage(answer));
  if (!isSelect) return;
  try {
    LoadFromXml(answer);
  } catch (const std::exception& e) {
    fail(std::string(e.what()) + "\r\r" + ExtractServerMessage(answer));
  }
}

}  // namespace kvo::client
