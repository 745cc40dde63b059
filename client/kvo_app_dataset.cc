// TKVOAppDataSet: the /sql exchange, and the text functions it is built from.
#include "kvo/client/kvo_app_dataset.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "client/http_client.h"
#include "fb/fb.h"
#include "kvo/client/ui.h"
#include "packet/compress.h"
#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/numbers.h"
#include "platform/stream.h"

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

const char kErrorTitle[] = "<TITLE>KVO.Net</TITLE>";

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

std::string ExactFloatLiteral(const std::string& name, double value) {
  if (!std::isfinite(value)) {
    throw Error("Parameter '" + name + "': the value " +
                (std::isnan(value) ? "NaN"
                 : value > 0       ? "+Inf"
                                   : "-Inf") +
                " cannot be sent to the server (Firebird has no literal for it)");
  }
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
      // Bytes as a binary string literal, so that no byte can end the literal.
      return "X'" + platform::HexBytes(VariantToText(value)) + "'";
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
      return ExactFloatLiteral(param.Name, VariantToFloat(value));
    case TFieldType::ftDate:
    case TFieldType::ftDateTime:
    case TFieldType::ftTimeStamp: {
      TDateTime dt = VariantToDateTime(value);
      char sep = FormatSettings().DateSeparator;
      return Quoted(Pad(dt.Date.Month, 2) + sep + Pad(dt.Date.Day, 2) + sep + Pad(dt.Date.Year, 4));
    }
    case TFieldType::ftTime: {
      TDateTime dt = VariantToDateTime(value);
      return Quoted(Pad(dt.Time.Hour, 2) + ":" + Pad(dt.Time.Minute, 2) + ":" +
                    Pad(dt.Time.Second, 2));
    }
    default:
      return Quoted(VariantToText(value));
  }
}

namespace {

// The statement on one line, as the server's log and the marker search expect it: line breaks
// become blanks, except inside quoted literals and names, where they are data; a "--" comment
// is dropped up to its line break so that it cannot swallow the lines after it.
std::string JoinStatementLines(std::string_view sql) {
  std::string out;
  out.reserve(sql.size());
  size_t i = 0;
  auto lineBreak = [](char c) { return c == '\r' || c == '\n'; };
  while (i < sql.size()) {
    char c = sql[i];
    if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      // A line comment ends at its line break; joined to the next line it would swallow it.
      while (i < sql.size() && !lineBreak(sql[i])) ++i;
      continue;
    }
    if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      size_t close = sql.find("*/", i + 2);
      size_t stop = close == std::string_view::npos ? sql.size() : close + 2;
      for (; i < stop; ++i) out += lineBreak(sql[i]) ? ' ' : sql[i];
      continue;
    }
    if ((c == 'q' || c == 'Q') && i + 2 < sql.size() && sql[i + 1] == '\'' &&
        (i == 0 || !(std::isalnum(static_cast<unsigned char>(sql[i - 1])) || sql[i - 1] == '_' ||
                     sql[i - 1] == '$'))) {
      // q'<delimiter>...<closing>' holds its text unchanged, quotes included.
      char open = sql[i + 2];
      char closing = open == '('   ? ')'
                     : open == '[' ? ']'
                     : open == '{' ? '}'
                     : open == '<' ? '>'
                                   : open;
      size_t end = i + 3;
      while (end + 1 < sql.size() && !(sql[end] == closing && sql[end + 1] == '\'')) ++end;
      size_t stop = end + 1 < sql.size() ? end + 2 : sql.size();
      out.append(sql.substr(i, stop - i));
      i = stop;
      continue;
    }
    if (c == '\'' || c == '"') {
      // Line breaks inside a literal or a quoted name are part of its value.
      size_t close = sql.find(c, i + 1);
      size_t stop = close == std::string_view::npos ? sql.size() : close + 1;
      out.append(sql.substr(i, stop - i));
      i = stop;
      continue;
    }
    out += lineBreak(c) ? ' ' : c;
    ++i;
  }
  return out;
}

}  // namespace

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
  std::string text = JoinStatementLines(sql);
  std::string spaced;
  for (size_t i = 0; i < text.size(); ++i) {
    spaced += text[i];
    if (text[i] == '=' && i + 1 < text.size() && text[i + 1] == ':') spaced += ' ';
  }
  text = std::move(spaced);
  // Every literal is made first, so that a value that cannot be converted fails the call
  // whether or not its marker occurs.
  std::vector<std::string> literals;
  for (const TParam& param : Params) literals.push_back(ParamLiteral(param));
  // One pass over the statement as written: a literal is never searched for the markers of
  // later parameters. Searching them would let a typed value such as " :b " pull in another
  // parameter's quoted literal (closing the value's own quotes: an injection), and with
  // repeated markers make the text grow without bound.
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t hit = literals.size(), length = 0;
    if (text[i] == ':' && (i == 0 || IsDelimiter(SQLWordDelimiters, text[i - 1]))) {
      size_t index = 0;
      for (const TParam& param : Params) {
        size_t end = i + 1 + param.Name.size();
        if (end <= text.size() &&
            platform::SameTextAscii(std::string_view(text).substr(i + 1, param.Name.size()),
                                    param.Name) &&
            (end == text.size() || IsDelimiter(SQLWordDelimiters, text[end]))) {
          hit = index;
          length = end - i;
          break;
        }
        ++index;
      }
    }
    if (hit < literals.size()) {
      out += literals[hit];
      i += length;
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string TKVOAppDataSet::ExtractServerMessage(std::string_view answer) {
  static constexpr std::string_view start =
      "<p align=center><strong><font face=Arial color=#990000 size=6>";
  static constexpr std::string_view end = "</font></strong></p>";
  size_t at = answer.find(start);
  if (at == std::string_view::npos) return {};
  std::string_view rest = answer.substr(at + start.size());
  size_t stop = rest.find(end);
  if (stop == std::string_view::npos) return {};
  return std::string(rest.substr(0, stop));
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
  // The server would refuse it only after the whole text had travelled, with this message.
  if (auto refusal = fb::StatementTooLong(q)) {
    wait.reset();
    UserInterface().ShowError(refusal->what());
    return;
  }
  TFormFields fields = {{"db", DataBaseName}, {"u", User}, {"p", Password}, {"q", q}};
  bool isSelect = IsRemoteSelect(q);
  std::string url = URL + "/" + WebServer + "/sql";

  lastAnswer_.clear();
  http_->Limits = Limits;
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
  const std::string& answer = lastAnswer_;
  wait.reset();
  if (answer.find(kErrorTitle) != std::string::npos) {
    UserInterface().ShowError(ExtractServerMessage(answer));
    return;
  }
  if (!isSelect) return;
  try {
    LoadFromXml(answer);
  } catch (const std::exception& e) {
    UserInterface().ShowError(std::string(e.what()) + "\r\r" + ExtractServerMessage(answer));
  }
}

}  // namespace kvo::client
