// The XML rendering: the client-dataset data-packet layout on one line (docs/packet-format.md).
#include <charconv>
#include <cstring>

#include "packet/packet.h"
#include "packet/slots.h"
#include "packet/text_codec.h"

namespace kvo::packet {

namespace {

// The most characters a fixed-size value takes ("-9223372036854775808",
// "-1.7976931348623157e+308", "-0.000000000000000001"): the room each
// write asks for, and the rows' share of the estimate.
size_t MaxValueLength(FieldType type) {
  switch (type) {
    case FieldType::I2:
      return 6;
    case FieldType::I4:
      return 11;
    case FieldType::I8:
    case FieldType::Fixed:
      return 21;
    case FieldType::R8:
      return 24;
    case FieldType::Boolean:
      return 5;
    case FieldType::Date:
      return 8;
    case FieldType::Time:
      return 12;
    case FieldType::DateTime:
      return 21;
    default:
      return 0;
  }
}

// Stages the rows' bytes in a buffer and hands them to the output. Every write asks first for
// room for its longest form and gets at least that much, flushing what is staged or growing the
// buffer, so no write can pass the buffer's end.
class StagedOutput {
 public:
  explicit StagedOutput(std::string& out) : out_(out) {}
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  // Where to write up to `n` bytes; Commit(end) then takes what was written.
  char* Room(size_t n) {
    if (staged_.size() - used_ < n) {
      Flush();
      if (staged_.size() < n) staged_.resize(n);
    }
    return staged_.data() + used_;
  }
  void Commit(const char* end) { used_ = static_cast<size_t>(end - staged_.data()); }
  void Put(std::string_view bytes) {
    char* w = Room(bytes.size());
    std::memcpy(w, bytes.data(), bytes.size());
    Commit(w + bytes.size());
  }
  // The output itself, with everything staged so far appended: for a value too long to stage,
  // and at the end.
  std::string& Direct() {
    Flush();
    return out_;
  }

 private:
  void Flush() {
    out_.append(staged_.data(), used_);
    used_ = 0;
  }

  static constexpr size_t kSize = 16384;
  std::string& out_;
  std::string staged_ = std::string(kSize, '\0');
  size_t used_ = 0;
};

void AppendInt(std::string& out, int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, static_cast<size_t>(r.ptr - buf));
}

// Fixed-width decimal digits, for dates and times.
char* Digits(char* p, int value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    p[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return p + width;
}

char* DatePart(char* p, const Date& d) {
  p = Digits(p, d.year, 4);
  p = Digits(p, d.month, 2);
  return Digits(p, d.day, 2);
}

// hh:nn:ssZZZ in milliseconds, and the fourth digit of the 1/10000 s only when it is not 0:
// millisecond values keep the layout's usual form, finer ones lose nothing.
char* TimePart(char* p, const Time& t) {
  p = Digits(p, t.hour, 2);
  *p++ = ':';
  p = Digits(p, t.minute, 2);
  *p++ = ':';
  p = Digits(p, t.second, 2);
  if (t.fraction % 10 == 0) return Digits(p, t.fraction / 10, 3);
  return Digits(p, t.fraction, 4);
}

char* WriteFixed(char* w, int64_t v, int decimals) {
  char buf[48];
  char* end = buf + sizeof buf;
  char* p = end;
  uint64_t m = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  int written = 0;
  if (decimals > 18) decimals = 18;
  do {
    if (decimals > 0 && written == decimals) *--p = '.';
    *--p = static_cast<char>('0' + m % 10);
    m /= 10;
    ++written;
  } while (m != 0 || written <= decimals);
  if (v < 0) *--p = '-';
  size_t n = static_cast<size_t>(end - p);
  std::memcpy(w, p, n);
  return w + n;
}

void Attr(std::string& out, const char* name, std::string_view value) {
  out += ' ';
  out += name;
  out += "=\"";
  detail::AppendEscaped(out, value);
  out += '"';
}

void RenderField(std::string& out, const Field& f) {
  out += "<FIELD";
  Attr(out, "attrname", f.attrName);
  if (f.name != f.attrName) Attr(out, "fieldname", f.name);
  Attr(out, "fieldtype", FieldTypeName(f.type));
  if (f.required) out += " required=\"true\"";
  if (f.type == FieldType::String && f.fixedChar) out += " SUBTYPE=\"FixedChar\"";
  if (f.type == FieldType::Text) out += " SUBTYPE=\"Text\"";
  if (f.type == FieldType::Binary) out += " SUBTYPE=\"Binary\"";
  if (f.type == FieldType::Fixed) {
    out += " DECIMALS=\"";
    AppendInt(out, f.decimals);
    out += '"';
  }
  if (f.type == FieldType::Fixed || f.type == FieldType::String) {
    out += " WIDTH=\"";
    AppendInt(out, f.width);
    out += '"';
  }
  out += "/>";
}

// An upper bound of the rendering's length, so that the output grows once.
size_t EstimateLength(const Packet& packet) {
  const std::vector<Field>& fields = packet.Fields();
  size_t n = 200;
  for (const Field& f : fields) n += 120 + 6 * (f.attrName.size() + f.name.size());
  size_t rowMax = 8;
  for (const Field& f : fields) rowMax += f.attrName.size() + 4 + MaxValueLength(f.type);
  n += rowMax * packet.RowCount();
  const detail::Slots slots(packet);
  for (size_t c = 0; c < fields.size(); ++c) {
    FieldType t = fields[c].type;
    if (t != FieldType::String && t != FieldType::Text && t != FieldType::Binary) continue;
    for (size_t r = 0; r < packet.RowCount(); ++r) {
      const char* row = slots.Row(r);
      if (detail::Slots::IsNull(row, c)) continue;
      std::string_view v = slots.Bytes(slots.At(row, c));
      n += t == FieldType::Binary ? detail::Base64Length(v.size()) : detail::EscapedLength(v);
    }
  }
  return n;
}

}  // namespace

void RenderXml(const Packet& packet, std::string& out) {
  out.reserve(out.size() + EstimateLength(packet));
  const std::vector<Field>& fields = packet.Fields();
  out += "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
  for (const Field& f : fields) RenderField(out, f);
  out += "</FIELDS><PARAMS/></METADATA><ROWDATA>";
  // " NAME=\"" for each field, built once.
  std::vector<std::string> prefixes;
  prefixes.reserve(fields.size());
  for (const Field& f : fields) prefixes.push_back(" " + f.attrName + "=\"");
  // Text longer than kDirect goes straight to the output instead of being staged.
  constexpr size_t kDirect = 512;
  const detail::Slots slots(packet);
  const size_t rows = packet.RowCount();
  StagedOutput w(out);
  for (size_t r = 0; r < rows; ++r) {
    const char* slotRow = slots.Row(r);
    w.Put("<ROW");
    for (size_t c = 0; c < fields.size(); ++c) {
      if (detail::Slots::IsNull(slotRow, c)) continue;
      const Field& f = fields[c];
      const char* slot = slots.At(slotRow, c);
      w.Put(prefixes[c]);
      const size_t max = MaxValueLength(f.type);
      switch (f.type) {
        case FieldType::I2:
        case FieldType::I4:
        case FieldType::I8: {
          char* p = w.Room(max);
          w.Commit(std::to_chars(p, p + max, detail::Slots::Int(slot, f.type)).ptr);
          break;
        }
        case FieldType::Fixed:
          w.Commit(WriteFixed(w.Room(max), detail::Slots::Int(slot, f.type), f.decimals));
          break;
        case FieldType::R8: {
          // Shortest digits that read back to the same double.
          char* p = w.Room(max);
          w.Commit(std::to_chars(p, p + max, detail::Slots::Double(slot)).ptr);
          break;
        }
        case FieldType::Boolean:
          w.Put(detail::Slots::Bool(slot) ? "TRUE" : "FALSE");
          break;
        case FieldType::Date:
          w.Commit(DatePart(w.Room(max), detail::Slots::DateOf(slot)));
          break;
        case FieldType::Time:
          w.Commit(TimePart(w.Room(max), detail::Slots::TimeOf(slot)));
          break;
        case FieldType::DateTime: {
          DateTime dt = detail::Slots::DateTimeOf(slot);
          char* p = DatePart(w.Room(max), dt.date);
          *p++ = 'T';
          w.Commit(TimePart(p, dt.time));
          break;
        }
        case FieldType::String:
        case FieldType::Text:
        case FieldType::Binary: {
          std::string_view v = slots.Bytes(slot);
          const bool binary = f.type == FieldType::Binary;
          if (v.size() > kDirect) {
            if (binary)
              detail::AppendBase64(w.Direct(), v);
            else
              detail::AppendEscaped(w.Direct(), v);
          } else if (binary) {
            w.Commit(detail::WriteBase64(w.Room(detail::Base64Length(v.size())), v));
          } else {
            w.Commit(detail::WriteEscaped(w.Room(detail::EscapedLength(v)), v));
          }
          break;
        }
      }
      w.Put("\"");
    }
    w.Put("/>");
  }
  w.Direct() += "</ROWDATA></DATAPACKET>";
}

std::string RenderXml(const Packet& packet) {
  std::string out;
  RenderXml(packet, out);
  return out;
}

}  // namespace kvo::packet
