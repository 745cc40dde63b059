// The binary rendering and its bounds-checked loader (layout in docs/packet-format.md).
#include <cstring>

#include "packet/packet.h"
#include "packet/slots.h"

namespace kvo::packet {

namespace {

constexpr char kMagic[4] = {'K', 'V', 'O', 'P'};
constexpr uint16_t kVersion = 1;
constexpr uint8_t kFlagFixedChar = 1;
constexpr uint8_t kFlagRequired = 2;
constexpr uint8_t kLastType = static_cast<uint8_t>(FieldType::Binary);
constexpr uint32_t kTicksPerDay = 86400u * 10000u;

// Little-endian writers (the byte order is fixed whatever the host's).
void Put8(std::string& out, uint8_t v) {
  out.push_back(static_cast<char>(v));
}
void Put16(std::string& out, uint16_t v) {
  char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
  out.append(b, 2);
}
void Put32(std::string& out, uint32_t v) {
  char b[4];
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>(v >> (8 * i));
  out.append(b, 4);
}
void Put64(std::string& out, uint64_t v) {
  char b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<char>(v >> (8 * i));
  out.append(b, 8);
}
void PutBytes(std::string& out, std::string_view bytes) {
  Put32(out, static_cast<uint32_t>(bytes.size()));
  out.append(bytes);
}
void PutDate(std::string& out, const Date& d) {
  Put16(out, static_cast<uint16_t>(d.year));
  Put8(out, static_cast<uint8_t>(d.month));
  Put8(out, static_cast<uint8_t>(d.day));
}
void PutTime(std::string& out, const Time& t) {
  Put32(out,
        static_cast<uint32_t>(((t.hour * 60 + t.minute) * 60 + t.second) * 10000 + t.fraction));
}

size_t ValueSize(FieldType t) {
  switch (t) {
    case FieldType::Boolean:
      return 1;
    case FieldType::I2:
      return 2;
    case FieldType::I4:
    case FieldType::Date:
    case FieldType::Time:
      return 4;
    case FieldType::String:
    case FieldType::Text:
    case FieldType::Binary:
      return 4;  // the length; the bytes are counted apart
    default:
      return 8;
  }
}

[[noreturn]] void Bad(const std::string& what) {
  throw Error("Invalid binary data packet: " + what);
}

// A cursor over the input that never moves past its end.
class Reader {
 public:
  explicit Reader(std::string_view data) : p_(data.data()), end_(data.data() + data.size()) {}
  size_t Left() const { return static_cast<size_t>(end_ - p_); }
  const char* Take(size_t n, const char* what) {
    if (n > Left()) Bad(std::string("truncated ") + what);
    const char* at = p_;
    p_ += n;
    return at;
  }
  uint64_t Uint(size_t n, const char* what) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(Take(n, what));
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint64_t{b[i]} << (8 * i);
    return v;
  }
  std::string_view Bytes(const char* what) {
    uint32_t n = static_cast<uint32_t>(Uint(4, what));
    if (n > Left()) Bad(std::string(what) + " length past the end");
    return std::string_view(Take(n, what), n);
  }

 private:
  const char* p_;
  const char* end_;
};

Date ReadDate(Reader& in) {
  Date d;
  d.year = static_cast<int>(in.Uint(2, "date"));
  d.month = static_cast<int>(in.Uint(1, "date"));
  d.day = static_cast<int>(in.Uint(1, "date"));
  if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31)
    Bad("date out of range");
  return d;
}

Time ReadTime(Reader& in) {
  uint32_t v = static_cast<uint32_t>(in.Uint(4, "time"));
  if (v >= kTicksPerDay) Bad("time out of range");
  Time t;
  t.fraction = static_cast<int>(v % 10000);
  v /= 10000;
  t.second = static_cast<int>(v % 60);
  t.minute = static_cast<int>(v / 60 % 60);
  t.hour = static_cast<int>(v / 3600);
  return t;
}

}  // namespace

std::string RenderBinary(const Packet& packet) {
  const std::vector<Field>& fields = packet.Fields();
  const size_t rows = packet.RowCount();
  size_t nullBytes = (fields.size() + 7) / 8;
  // Exact for the fixed part, so the output is allocated once.
  size_t size = 20;
  for (const Field& f : fields) size += 18 + f.attrName.size() + f.name.size();
  size_t rowMax = nullBytes;
  for (const Field& f : fields) rowMax += ValueSize(f.type);
  size += rowMax * rows;
  const detail::Slots slots(packet);
  for (size_t c = 0; c < fields.size(); ++c) {
    FieldType t = fields[c].type;
    if (t != FieldType::String && t != FieldType::Text && t != FieldType::Binary) continue;
    for (size_t r = 0; r < rows; ++r) {
      const char* row = slots.Row(r);
      if (!detail::Slots::IsNull(row, c)) size += slots.Bytes(slots.At(row, c)).size();
    }
  }
  std::string out;
  out.reserve(size);
  out.append(kMagic, 4);
  Put16(out, kVersion);
  Put16(out, 0);
  Put32(out, static_cast<uint32_t>(fields.size()));
  for (const Field& f : fields) {
    Put8(out, static_cast<uint8_t>(f.type));
    Put8(out, static_cast<uint8_t>((f.fixedChar ? kFlagFixedChar : 0) |
                                   (f.required ? kFlagRequired : 0)));
    Put32(out, static_cast<uint32_t>(f.width));
    Put32(out, static_cast<uint32_t>(f.decimals));
    PutBytes(out, f.attrName);
    PutBytes(out, f.name);
  }
  Put64(out, rows);
  for (size_t r = 0; r < rows; ++r) {
    const char* row = slots.Row(r);
    // The packet keeps the same null bitmap (bit c of the row's first bytes).
    out.append(row, nullBytes);
    for (size_t c = 0; c < fields.size(); ++c) {
      if (detail::Slots::IsNull(row, c)) continue;
      const char* slot = slots.At(row, c);
      FieldType t = fields[c].type;
      switch (t) {
        case FieldType::I2:
          Put16(out, static_cast<uint16_t>(detail::Slots::Int(slot, t)));
          break;
        case FieldType::I4:
          Put32(out, static_cast<uint32_t>(detail::Slots::Int(slot, t)));
          break;
        case FieldType::I8:
        case FieldType::Fixed:
          Put64(out, static_cast<uint64_t>(detail::Slots::Int(slot, t)));
          break;
        case FieldType::R8: {
          double d = detail::Slots::Double(slot);
          uint64_t v;
          std::memcpy(&v, &d, 8);
          Put64(out, v);
          break;
        }
        case FieldType::Boolean:
          Put8(out, detail::Slots::Bool(slot) ? 1 : 0);
          break;
        case FieldType::Date:
          PutDate(out, detail::Slots::DateOf(slot));
          break;
        case FieldType::Time:
          PutTime(out, detail::Slots::TimeOf(slot));
          break;
        case FieldType::DateTime: {
          DateTime dt = detail::Slots::DateTimeOf(slot);
          PutDate(out, dt.date);
          PutTime(out, dt.time);
          break;
        }
        case FieldType::String:
        case FieldType::Text:
        case FieldType::Binary:
          PutBytes(out, slots.Bytes(slot));
          break;
      }
    }
  }
  return out;
}

void RenderBinary(const Packet& packet, platform::MemoryStream& target) {
  if (target.Position() == 0 && target.Size() == 0) {
    // The usual case: the rendering becomes the stream's buffer without a copy.
    target.Bytes() = RenderBinary(packet);
    target.SetPosition(target.Size());
    return;
  }
  std::string bytes = RenderBinary(packet);
  target.Write(bytes.data(), bytes.size());
}

Packet LoadBinary(std::string_view bytes) {
  Reader in(bytes);
  if (in.Left() < 4 || std::memcmp(bytes.data(), kMagic, 4) != 0) Bad("bad magic number");
  in.Take(4, "header");
  uint16_t version = static_cast<uint16_t>(in.Uint(2, "header"));
  if (version != kVersion) Bad("unsupported version " + std::to_string(version));
  in.Uint(2, "header");
  uint64_t fieldCount = in.Uint(4, "header");
  // Each field description takes at least 18 bytes: a count beyond that is corrupt.
  if (fieldCount > in.Left() / 18) Bad("field count past the end");
  std::vector<Field> fields(fieldCount);
  for (Field& f : fields) {
    uint8_t type = static_cast<uint8_t>(in.Uint(1, "field"));
    if (type > kLastType) Bad("unknown field type " + std::to_string(type));
    f.type = static_cast<FieldType>(type);
    uint8_t flags = static_cast<uint8_t>(in.Uint(1, "field"));
    f.fixedChar = flags & kFlagFixedChar;
    f.required = flags & kFlagRequired;
    f.width = static_cast<int32_t>(in.Uint(4, "field"));
    f.decimals = static_cast<int32_t>(in.Uint(4, "field"));
    if (f.decimals < 0 || f.decimals > 18) Bad("decimals out of range");
    f.attrName = std::string(in.Bytes("field name"));
    f.name = std::string(in.Bytes("field name"));
  }
  uint64_t rowCount = in.Uint(8, "row count");
  size_t nullBytes = (fields.size() + 7) / 8;
  if (rowCount > 0 && fields.empty()) Bad("rows without fields");
  if (nullBytes > 0 && rowCount > in.Left() / nullBytes) Bad("row count past the end");
  Packet packet(std::move(fields));
  const std::vector<Field>& fs = packet.Fields();
  for (uint64_t r = 0; r < rowCount; ++r) {
    const unsigned char* bits = reinterpret_cast<const unsigned char*>(in.Take(nullBytes, "row"));
    packet.AddRow();
    for (size_t c = 0; c < fs.size(); ++c) {
      if ((bits[c / 8] >> (c % 8)) & 1) continue;
      switch (fs[c].type) {
        case FieldType::I2:
          packet.SetInt(c, static_cast<int16_t>(in.Uint(2, "value")));
          break;
        case FieldType::I4:
          packet.SetInt(c, static_cast<int32_t>(in.Uint(4, "value")));
          break;
        case FieldType::I8:
        case FieldType::Fixed:
          packet.SetInt(c, static_cast<int64_t>(in.Uint(8, "value")));
          break;
        case FieldType::R8: {
          uint64_t v = in.Uint(8, "value");
          double d;
          std::memcpy(&d, &v, 8);
          packet.SetDouble(c, d);
          break;
        }
        case FieldType::Boolean: {
          uint64_t v = in.Uint(1, "value");
          if (v > 1) Bad("boolean out of range");
          packet.SetBool(c, v == 1);
          break;
        }
        case FieldType::Date:
          packet.SetDate(c, ReadDate(in));
          break;
        case FieldType::Time:
          packet.SetTime(c, ReadTime(in));
          break;
        case FieldType::DateTime: {
          Date d = ReadDate(in);
          packet.SetDateTime(c, DateTime{d, ReadTime(in)});
          break;
        }
        case FieldType::String:
        case FieldType::Text:
        case FieldType::Binary:
          packet.SetBytes(c, in.Bytes("value"));
          break;
      }
    }
  }
  if (in.Left() != 0) Bad("trailing bytes after the last row");
  return packet;
}

Packet LoadBinary(platform::MemoryStream& source) {
  std::string_view all(source.Bytes());
  Packet packet = LoadBinary(all.substr(source.Position()));
  source.SetPosition(source.Size());
  return packet;
}

}  // namespace kvo::packet
