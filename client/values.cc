// Values, their text forms and conversions, and the parameter list.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "client/param_values.h"
#include "kvo/client/db.h"
#include "platform/ascii.h"
#include "platform/error.h"

namespace kvo::client {

namespace {

const char* KindName(const TVariant& value) {
  switch (value.index()) {
    case 0:
      return "Empty";
    case 1:
      return "Null";
    case 2:
      return "Boolean";
    case 3:
      return "Int64";
    case 4:
      return "Double";
    case 5:
      return "String";
    default:
      return "Date";
  }
}

[[noreturn]] void CannotConvert(const TVariant& value, const char* target) {
  throw Error(std::string("Could not convert variant of type (") + KindName(value) +
              ") into type (" + target + ")");
}

// The whole of `text`, with an optional leading '+', as a number of type T.
template <typename T>
bool ParseWhole(std::string_view text, T& result) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), result);
  return !text.empty() && ec == std::errc() && ptr == text.data() + text.size();
}

std::string Pad(int value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", digits, value);
  return buffer;
}

bool IsTimeOnly(const TDateTime& value) {
  return value.Date == TDate{};
}

std::string DateText(const TDate& d) {
  return Pad(d.Year, 4) + "-" + Pad(d.Month, 2) + "-" + Pad(d.Day, 2);
}

// Reads "d+" (at least one digit, at most `maxDigits`) at `pos`.
bool ReadNumber(std::string_view text, size_t& pos, int maxDigits, int& value) {
  size_t start = pos;
  value = 0;
  while (pos < text.size() && pos - start < static_cast<size_t>(maxDigits) && text[pos] >= '0' &&
         text[pos] <= '9') {
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  return pos > start;
}

bool ParseTimeAt(std::string_view text, size_t& pos, TTime& time) {
  int h, n, s = 0;
  if (!ReadNumber(text, pos, 2, h) || pos >= text.size() || text[pos] != ':') return false;
  ++pos;
  if (!ReadNumber(text, pos, 2, n)) return false;
  int fraction = 0;  // 1/10000 s, from up to four decimals
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!ReadNumber(text, pos, 2, s)) return false;
    if (pos < text.size() && text[pos] == '.') {
      const size_t first = ++pos;
      if (!ReadNumber(text, pos, 4, fraction)) return false;
      for (size_t digits = pos - first; digits < 4; ++digits) fraction *= 10;
    }
  }
  if (h > 23 || n > 59 || s > 59) return false;
  time = TTime{h, n, s, fraction};
  return true;
}

bool ValidDate(const TDate& d) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.Year < 1 || d.Year > 9999 || d.Month < 1 || d.Month > 12 || d.Day < 1) return false;
  bool leap = (d.Year % 4 == 0 && d.Year % 100 != 0) || d.Year % 400 == 0;
  int limit = days[d.Month - 1] + (d.Month == 2 && leap ? 1 : 0);
  return d.Day <= limit;
}

// "yyyy-mm-dd" with an optional time after a blank or "T", or a time alone.
bool ParseDateTime(std::string_view text, TDateTime& out) {
  text = platform::TrimControls(text);
  size_t pos = 0;
  TDateTime value;
  if (text.size() >= 3 && (text[1] == ':' || text[2] == ':')) {
    if (!ParseTimeAt(text, pos, value.Time)) return false;
    out = value;
    return pos == text.size();
  }
  int y, m, d;
  if (!ReadNumber(text, pos, 4, y) || pos >= text.size() || text[pos++] != '-' ||
      !ReadNumber(text, pos, 2, m) || pos >= text.size() || text[pos++] != '-' ||
      !ReadNumber(text, pos, 2, d)) {
    return false;
  }
  value.Date = TDate{y, m, d};
  if (!ValidDate(value.Date)) return false;
  if (pos < text.size()) {
    if (text[pos] != ' ' && text[pos] != 'T') return false;
    ++pos;
    if (!ParseTimeAt(text, pos, value.Time)) return false;
  }
  if (pos != text.size()) return false;
  out = value;
  return true;
}

}  // namespace

std::string VariantToText(const TVariant& value) {
  switch (value.index()) {
    case 0:
    case 1:
      return {};
    case 2:
      return std::get<bool>(value) ? "True" : "False";
    case 3:
      return std::to_string(std::get<int64_t>(value));
    case 4: {
      char buffer[64];
      auto result = std::to_chars(buffer, buffer + sizeof buffer, std::get<double>(value),
                                  std::chars_format::general, 15);
      std::string text(buffer, result.ptr);
      for (char& c : text) {
        if (c == '.') c = FormatSettings().DecimalSeparator;
      }
      return text;
    }
    case 5:
      return std::get<std::string>(value);
    default: {
      const TDateTime& dt = std::get<TDateTime>(value);
      std::string time =
          Pad(dt.Time.Hour, 2) + ":" + Pad(dt.Time.Minute, 2) + ":" + Pad(dt.Time.Second, 2);
      if (IsTimeOnly(dt)) return time;
      if (dt.Time == TTime{}) return DateText(dt.Date);
      return DateText(dt.Date) + " " + time;
    }
  }
}

int64_t VariantToInteger(const TVariant& value) {
  switch (value.index()) {
    case 0:
    case 1:
      return 0;
    case 2:
      return std::get<bool>(value) ? 1 : 0;
    case 3:
      return std::get<int64_t>(value);
    case 4: {
      double d = std::nearbyint(std::get<double>(value));
      if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18)) {
        CannotConvert(value, "Int64");
      }
      return static_cast<int64_t>(d);
    }
    case 5: {
      int64_t result = 0;
      if (!ParseWhole(platform::TrimControls(std::get<std::string>(value)), result)) {
        throw Error("'" + std::get<std::string>(value) + "' is not a valid integer value");
      }
      return result;
    }
    default:
      CannotConvert(value, "Int64");
  }
}

double VariantToFloat(const TVariant& value) {
  switch (value.index()) {
    case 0:
    case 1:
      return 0;
    case 2:
      return std::get<bool>(value) ? 1 : 0;
    case 3:
      return static_cast<double>(std::get<int64_t>(value));
    case 4:
      return std::get<double>(value);
    case 5: {
      std::string text(platform::TrimControls(std::get<std::string>(value)));
      for (char& c : text) {
        if (c == FormatSettings().DecimalSeparator) c = '.';
      }
      double result = 0;
      if (!ParseWhole(text, result) || !std::isfinite(result)) {
        throw Error("'" + std::get<std::string>(value) + "' is not a valid floating point value");
      }
      return result;
    }
    default:
      CannotConvert(value, "Double");
  }
}

TDateTime VariantToDateTime(const TVariant& value) {
  switch (value.index()) {
    case 0:
    case 1:
      return TDateTime{};
    case 5: {
      TDateTime result;
      if (!ParseDateTime(std::get<std::string>(value), result)) {
        throw Error("'" + std::get<std::string>(value) + "' is not a valid date");
      }
      return result;
    }
    case 6:
      return std::get<TDateTime>(value);
    default:
      CannotConvert(value, "Date");
  }
}

double FiniteParamFloat(const TParam& param) {
  const double value = VariantToFloat(param.Value());
  if (!std::isfinite(value)) {
    throw Error("Parameter '" + param.Name + "': the value " +
                (std::isnan(value) ? "NaN"
                 : value > 0       ? "+Inf"
                                   : "-Inf") +
                " cannot be sent to the database (Firebird has no value for it)");
  }
  return value;
}

std::string ExactDecimalText(double value) {
  char buffer[400];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return std::string(buffer, result.ptr);
}

void TParam::SetAsString(std::string value) {
  DataType = TFieldType::ftString;
  value_ = std::move(value);
}
void TParam::SetAsMemo(std::string value) {
  DataType = TFieldType::ftMemo;
  value_ = std::move(value);
}
void TParam::SetAsInteger(int32_t value) {
  DataType = TFieldType::ftInteger;
  value_ = int64_t{value};
}
void TParam::SetAsSmallInt(int16_t value) {
  DataType = TFieldType::ftSmallint;
  value_ = int64_t{value};
}
void TParam::SetAsLargeInt(int64_t value) {
  DataType = TFieldType::ftLargeint;
  value_ = value;
}
void TParam::SetAsFloat(double value) {
  DataType = TFieldType::ftFloat;
  value_ = value;
}
void TParam::SetAsCurrency(double value) {
  DataType = TFieldType::ftCurrency;
  value_ = value;
}
void TParam::SetAsBoolean(bool value) {
  DataType = TFieldType::ftBoolean;
  value_ = value;
}
void TParam::SetAsDate(const TDate& value) {
  DataType = TFieldType::ftDate;
  value_ = TDateTime{value, TTime{}};
}
void TParam::SetAsTime(const TTime& value) {
  DataType = TFieldType::ftTime;
  value_ = TDateTime{TDate{}, value};
}
void TParam::SetAsDateTime(const TDateTime& value) {
  DataType = TFieldType::ftDateTime;
  value_ = value;
}

bool TParam::IsNull() const {
  return value_.index() <= 1;
}

TParam& TParams::CreateParam(TFieldType dataType, std::string name, TParamType paramType) {
  items_.emplace_back(std::move(name), dataType, paramType);
  return items_.back();
}

TParam* TParams::FindParam(std::string_view name) {
  for (TParam& p : items_) {
    if (platform::SameTextAscii(p.Name, name)) return &p;
  }
  return nullptr;
}

TParam& TParams::ParamByName(std::string_view name) {
  if (TParam* p = FindParam(name)) return *p;
  throw Error("Parameter '" + std::string(name) + "' not found");
}

}  // namespace kvo::client
