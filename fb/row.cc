// Column metadata and values read in place from a message buffer laid out by the client.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <utility>

#include "fb/fb_impl.h"
#include "platform/ascii.h"
#include "platform/codepage.h"

namespace kvo::fb {

using api::Status;

namespace {

// Storage codes of the client's message metadata (the nullable bit masked off).
struct TypeCode {
  unsigned code;
  SqlType type;
};
constexpr TypeCode kTypeCodes[] = {
    {SQL_TEXT, SqlType::Char},       {SQL_VARYING, SqlType::VarChar},
    {SQL_SHORT, SqlType::SmallInt},  {SQL_LONG, SqlType::Integer},
    {SQL_INT64, SqlType::BigInt},    {SQL_FLOAT, SqlType::Float},
    {SQL_DOUBLE, SqlType::Double},   {SQL_TYPE_DATE, SqlType::Date},
    {SQL_TYPE_TIME, SqlType::Time},  {SQL_TIMESTAMP, SqlType::Timestamp},
    {SQL_BOOLEAN, SqlType::Boolean}, {SQL_BLOB, SqlType::Blob},
};

const char* UnsupportedName(unsigned code) {
  switch (code) {
    case SQL_ARRAY:
      return "ARRAY";
    case SQL_QUAD:
      return "QUAD";
    case SQL_D_FLOAT:
      return "D_FLOAT";
    default:
      return nullptr;
  }
}

template <typename T>
T Load(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

const char* TypeName(SqlType type) {
  switch (type) {
    case SqlType::Char:
      return "CHAR";
    case SqlType::VarChar:
      return "VARCHAR";
    case SqlType::SmallInt:
      return "SMALLINT";
    case SqlType::Integer:
      return "INTEGER";
    case SqlType::BigInt:
      return "BIGINT";
    case SqlType::Float:
      return "FLOAT";
    case SqlType::Double:
      return "DOUBLE PRECISION";
    case SqlType::Date:
      return "DATE";
    case SqlType::Time:
      return "TIME";
    case SqlType::Timestamp:
      return "TIMESTAMP";
    case SqlType::Boolean:
      return "BOOLEAN";
    case SqlType::Blob:
      return "BLOB";
  }
  return "?";
}

Layout::Layout(api::Ref<api::IMessageMetadata> owned) : metadata(std::move(owned)) {
  api::IMessageMetadata* m = metadata.get();
  Status status;
  unsigned count = m->getCount(&status);
  columns.resize(count);
  offsets.resize(count);
  nullOffsets.resize(count);
  for (unsigned i = 0; i < count; ++i) {
    Column& c = columns[i];
    c.name = m->getAlias(&status, i);
    c.field = m->getField(&status, i);
    c.relation = m->getRelation(&status, i);
    c.owner = m->getOwner(&status, i);
    unsigned code = m->getType(&status, i) & ~1u;
    bool known = false;
    for (const TypeCode& t : kTypeCodes) {
      if (t.code == code) {
        c.type = t.type;
        known = true;
      }
    }
    if (!known) {
      // A bare NULL (a parameter of "? is null", a NULL literal) has no storage: it reads as
      // a NULL text.
      if (code == SQL_NULL) {
        c.type = SqlType::VarChar;
      } else {
        const char* name = UnsupportedName(code);
        std::string what = name ? name : "with code " + std::to_string(code);
        throw Error("Column " + (c.name.empty() ? std::to_string(i + 1) : c.name) +
                    " has the unsupported type " + what);
      }
    }
    c.subType = m->getSubType(&status, i);
    c.scale = m->getScale(&status, i);
    c.length = m->getLength(&status, i);
    if (c.type == SqlType::VarChar && code == SQL_NULL) c.length = 0;
    c.charSet = m->getCharSet(&status, i);
    c.nullable = m->isNullable(&status, i);
    offsets[i] = m->getOffset(&status, i);
    nullOffsets[i] = m->getNullOffset(&status, i);
  }
  length = m->getMessageLength(&status);
}

void Layout::ReadAsCp1252() {
  convertFrom.assign(columns.size(), 0);
  storageLengths.resize(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    Column& c = columns[i];
    storageLengths[i] = c.length;
    bool text = c.type == SqlType::Char || c.type == SqlType::VarChar ||
                (c.type == SqlType::Blob && c.subType == 1);
    if (text && NeedsConversion(c.charSet)) {
      convertFrom[i] = c.charSet;
      if (c.type != SqlType::Blob) c.length /= CharSetMaxBytes(c.charSet);
    }
    // Names of fields come from the system tables as UTF-8; an alias comes back as the
    // statement's own bytes, which are Windows-1252 and seldom well-formed UTF-8 beyond ASCII.
    if (platform::BeyondAscii(c.name) && platform::IsValidUtf8(c.name))
      c.name = platform::Utf8ToCp1252(c.name);
  }
}

Row::Row(const Layout& l, std::shared_ptr<TransactionCore> t)
    : layout(&l),
      buffer((l.length + 7) / 8 + 1, 0),
      transaction(std::move(t)),
      converted(l.columns.size()) {}

void Row::Refilled() {
  for (std::optional<std::string>& text : converted) text.reset();
}

bool Row::IsNull(size_t column) const {
  Check(column, {}, nullptr);
  return Load<int16_t>(data() + layout->nullOffsets[column]) != 0;
}

const Column& Row::Check(size_t column, std::initializer_list<SqlType> types,
                         const char* what) const {
  if (column >= layout->columns.size())
    throw Error("Column index " + std::to_string(column) + " is out of range");
  const Column& c = layout->columns[column];
  if (types.size() == 0) return c;
  for (SqlType t : types)
    if (t == c.type) return c;
  throw Error("Column " + c.name + " of type " + TypeName(c.type) + " cannot be read as " + what);
}

int64_t Row::GetInt64(size_t column) const {
  const Column& c =
      Check(column, {SqlType::SmallInt, SqlType::Integer, SqlType::BigInt}, "an integer");
  if (IsNull(column)) return 0;
  const unsigned char* p = data() + layout->offsets[column];
  switch (c.type) {
    case SqlType::SmallInt:
      return Load<int16_t>(p);
    case SqlType::Integer:
      return Load<int32_t>(p);
    default:
      return Load<int64_t>(p);
  }
}

double Row::GetDouble(size_t column) const {
  const Column& c =
      Check(column,
            {SqlType::Float, SqlType::Double, SqlType::SmallInt, SqlType::Integer, SqlType::BigInt},
            "a number");
  if (IsNull(column)) return 0;
  const unsigned char* p = data() + layout->offsets[column];
  switch (c.type) {
    case SqlType::Float:
      return Load<float>(p);
    case SqlType::Double:
      return Load<double>(p);
    default: {
      double v = static_cast<double>(GetInt64(column));
      for (int s = c.scale; s < 0; ++s) v /= 10;
      return v;
    }
  }
}

std::string_view Row::GetText(size_t column) const {
  const Column& c = Check(column, {SqlType::Char, SqlType::VarChar}, "text");
  if (IsNull(column)) return {};
  const unsigned char* p = data() + layout->offsets[column];
  const bool convert = !layout->convertFrom.empty() && layout->convertFrom[column] != 0;
  const unsigned storage = convert ? layout->storageLengths[column] : c.length;
  std::string_view raw;
  if (c.type == SqlType::Char) {
    raw = {reinterpret_cast<const char*>(p), storage};
  } else {
    uint16_t n = Load<uint16_t>(p);
    if (n > storage) n = static_cast<uint16_t>(storage);
    raw = {reinterpret_cast<const char*>(p + 2), n};
  }
  if (!convert) return raw;
  // Converted once per row: a view handed out earlier stays valid until the row changes.
  std::optional<std::string>& out = converted[column];
  if (!out) {
    out = ToCp1252(layout->convertFrom[column], raw);
    // The server pads a CHAR(n) to n of the set's longest characters: n characters remain.
    if (c.type == SqlType::Char) out->resize(c.length, ' ');
  }
  return *out;
}

Date Row::GetDate(size_t column) const {
  const Column& c = Check(column, {SqlType::Date, SqlType::Timestamp}, "a date");
  if (IsNull(column)) return {};
  if (c.type == SqlType::Timestamp) return GetTimestamp(column).date;
  return api::DecodeDate(Load<ISC_DATE>(data() + layout->offsets[column]));
}

Time Row::GetTime(size_t column) const {
  const Column& c = Check(column, {SqlType::Time, SqlType::Timestamp}, "a time");
  if (IsNull(column)) return {};
  if (c.type == SqlType::Timestamp) return GetTimestamp(column).time;
  return api::DecodeTime(Load<ISC_TIME>(data() + layout->offsets[column]));
}

Timestamp Row::GetTimestamp(size_t column) const {
  const Column& c = Check(column, {SqlType::Timestamp, SqlType::Date}, "a timestamp");
  if (IsNull(column)) return {};
  const unsigned char* p = data() + layout->offsets[column];
  if (c.type == SqlType::Date) return Timestamp{api::DecodeDate(Load<ISC_DATE>(p)), Time{}};
  ISC_TIMESTAMP ts = Load<ISC_TIMESTAMP>(p);
  return Timestamp{api::DecodeDate(ts.timestamp_date), api::DecodeTime(ts.timestamp_time)};
}

bool Row::GetBool(size_t column) const {
  Check(column, {SqlType::Boolean}, "a boolean");
  if (IsNull(column)) return false;
  return *(data() + layout->offsets[column]) != 0;
}

void Row::ReadBlob(size_t column, std::string& out, size_t stopAbove) const {
  Check(column, {SqlType::Blob}, "a blob");
  if (IsNull(column)) return;
  ISC_QUAD id = Load<ISC_QUAD>(data() + layout->offsets[column]);
  api::ITransaction* tra = transaction->Get();
  api::Ref<api::IBlob> blob;
  {
    Status status;
    blob.reset(transaction->attachment->Get()->openBlob(&status, tra, &id, 0, nullptr));
  }
  const size_t start = out.size();
  char chunk[65535];
  for (;;) {
    unsigned got = 0;
    Status status;
    int rc = blob->getSegment(&status, sizeof chunk, chunk, &got);
    if (rc == api::IStatus::RESULT_NO_DATA) break;
    out.append(chunk, got);
    if (out.size() > stopAbove) break;
  }
  Status status;
  blob->close(&status);
  (void)blob.release();
  if (!layout->convertFrom.empty() && layout->convertFrom[column] != 0) {
    std::string text = ToCp1252(layout->convertFrom[column], std::string_view(out).substr(start));
    out.resize(start);
    out += text;
  }
}

std::string FormatScaled(int64_t value, int scale) {
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  if (scale < 0) {
    size_t places = static_cast<size_t>(-scale);
    if (digits.size() <= places) digits.insert(0, places + 1 - digits.size(), '0');
    digits.insert(digits.size() - places, 1, '.');
  } else {
    digits.append(static_cast<size_t>(scale), '0');
  }
  return value < 0 ? "-" + digits : digits;
}

std::string FormatDate(const Date& d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

std::string FormatTime(const Time& t) {
  char buf[32];
  if (t.fraction)
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%04d", t.hour, t.minute, t.second, t.fraction);
  else
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return buf;
}

std::string Row::GetAsText(size_t column) const {
  const Column& c = Check(column, {}, nullptr);
  if (IsNull(column)) return {};
  switch (c.type) {
    case SqlType::Char:
    case SqlType::VarChar:
      return std::string(GetText(column));
    case SqlType::SmallInt:
    case SqlType::Integer:
    case SqlType::BigInt:
      return FormatScaled(GetInt64(column), c.scale);
    case SqlType::Float:
    case SqlType::Double: {
      char buf[64];
      const unsigned char* p = data() + layout->offsets[column];
      auto r = c.type == SqlType::Float ? std::to_chars(buf, buf + sizeof buf, Load<float>(p))
                                        : std::to_chars(buf, buf + sizeof buf, Load<double>(p));
      return std::string(buf, r.ptr);
    }
    case SqlType::Date:
      return FormatDate(GetDate(column));
    case SqlType::Time:
      return FormatTime(GetTime(column));
    case SqlType::Timestamp: {
      Timestamp ts = GetTimestamp(column);
      return FormatDate(ts.date) + " " + FormatTime(ts.time);
    }
    case SqlType::Boolean:
      return GetBool(column) ? "True" : "False";
    case SqlType::Blob: {
      std::string out;
      ReadBlob(column, out);
      return out;
    }
  }
  return {};
}

}  // namespace kvo::fb
