// Reads an open Firebird result set into a packet.
#include <string>

#include "fbpacket/fb_packet.h"
#include "platform/error.h"
#include "platform/metrics.h"

namespace kvo::fbpacket {

using packet::FieldType;
using packet::Packet;

namespace {

// Copies the value of `column` in the current row (not NULL) into the packet's last row. The
// blob copy stops reading once the packet holds more than `maxBytes` (0: no limit).
using CopyValue = void (*)(const fb::ResultSet& rows, size_t column, Packet& packet,
                           uint64_t maxBytes);

void CopyInt(const fb::ResultSet& rows, size_t c, Packet& packet, uint64_t) {
  packet.SetInt(c, rows.GetInt64(c));
}
void CopyDouble(const fb::ResultSet& rows, size_t c, Packet& packet, uint64_t) {
  packet.SetDouble(c, rows.GetDouble(c));
}
void CopyText(const fb::ResultSet& rows, size_t c, Packet& packet, uint64_t) {
  packet.SetBytes(c, rows.GetText(c));
}
void CopyBool(const fb::ResultSet& rows, size_t c, Packet& packet, uint64_t) {
  packet.SetBool(c, rows.GetBool(c));
}
packet::Date DateOf(const fb::Date& d) {
  return packet::Date{d.year, d.month, d.day};
}
packet::Time TimeOf(const fb::Time& t) {
  return packet::Time{t.hour, t.minute, t.second, t.fraction};
}
void CopyDate(const fb::ResultSet& rows, size_t c, Packet& packet, uint64_t) {
  packet.SetDate(c, DateOf(rows.GetDate(c)));
}
void CopyTime(const fb::ResultSet& rows, size_t c, Packet& packet, uint64_t) {
  packet.SetTime(c, TimeOf(rows.GetTime(c)));
}
void CopyTimestamp(const fb::ResultSet& rows, size_t c, Packet& packet, uint64_t) {
  const fb::Timestamp ts = rows.GetTimestamp(c);
  packet.SetDateTime(c, packet::DateTime{DateOf(ts.date), TimeOf(ts.time)});
}
void CopyBlob(const fb::ResultSet& rows, size_t c, Packet& packet, uint64_t maxBytes) {
  // Straight into the packet's heap: a blob is never held twice. With a limit, the read stops
  // once the packet is past it (at most one segment beyond), so one huge blob is never held
  // whole.
  const size_t start = packet.Heap().size();
  const size_t room = maxBytes == 0 ? SIZE_MAX
                      : packet.UsedBytes() >= maxBytes
                          ? 0
                          : static_cast<size_t>(maxBytes - packet.UsedBytes());
  rows.ReadBlob(c, packet.Heap(), room > SIZE_MAX - start ? SIZE_MAX : start + room);
  packet.FinishBytes(c, start);
}

int StoragePrecision(fb::SqlType type) {
  switch (type) {
    case fb::SqlType::SmallInt:
      return 4;
    case fb::SqlType::Integer:
      return 9;
    default:
      return 18;
  }
}

// The one mapping of a Firebird column into the packet: its field, and how its values are
// copied.
struct ColumnMapping {
  packet::Field field;
  CopyValue copy = nullptr;
};

ColumnMapping MapColumn(const fb::Column& c) {
  ColumnMapping m;
  packet::Field& f = m.field;
  f.name = c.name;
  f.required = !c.nullable;
  switch (c.type) {
    case fb::SqlType::SmallInt:
    case fb::SqlType::Integer:
    case fb::SqlType::BigInt:
      m.copy = CopyInt;
      if (c.IsNumeric()) {
        f.type = FieldType::Fixed;
        f.width = c.precision > 0 ? c.precision : StoragePrecision(c.type);
        f.decimals = -c.scale;
      } else {
        f.type = c.type == fb::SqlType::SmallInt  ? FieldType::I2
                 : c.type == fb::SqlType::Integer ? FieldType::I4
                                                  : FieldType::I8;
      }
      break;
    case fb::SqlType::Float:
    case fb::SqlType::Double:
      f.type = FieldType::R8;
      m.copy = CopyDouble;
      break;
    case fb::SqlType::Char:
      f.type = FieldType::String;
      f.fixedChar = true;
      f.width = static_cast<int>(c.length);
      m.copy = CopyText;
      break;
    case fb::SqlType::VarChar:
      f.type = FieldType::String;
      f.width = static_cast<int>(c.length);
      m.copy = CopyText;
      break;
    case fb::SqlType::Boolean:
      f.type = FieldType::Boolean;
      m.copy = CopyBool;
      break;
    case fb::SqlType::Date:
      f.type = FieldType::Date;
      m.copy = CopyDate;
      break;
    case fb::SqlType::Time:
      f.type = FieldType::Time;
      m.copy = CopyTime;
      break;
    case fb::SqlType::Timestamp:
      f.type = FieldType::DateTime;
      m.copy = CopyTimestamp;
      break;
    case fb::SqlType::Blob:
      f.type = c.subType == 1 ? FieldType::Text : FieldType::Binary;
      m.copy = CopyBlob;
      break;
  }
  return m;
}

}  // namespace

Packet BuildPacket(fb::ResultSet& resultSet, uint64_t maxBytes) {
  const std::vector<fb::Column>& columns = resultSet.Columns();
  std::vector<CopyValue> copies;
  std::vector<packet::Field> fields;
  copies.reserve(columns.size());
  fields.reserve(columns.size());
  for (const fb::Column& c : columns) {
    ColumnMapping m = MapColumn(c);
    fields.push_back(std::move(m.field));
    copies.push_back(m.copy);
  }
  packet::MakeAttrNames(fields);
  Packet packet(std::move(fields));
  // Checked after every row's fixed part and every value, so the excess is at most one row's
  // fixed part or one value.
  auto checkSize = [&] {
    if (maxBytes > 0 && packet.UsedBytes() > maxBytes) {
      platform::metrics::Count(platform::metrics::Event::ResultRefused);
      throw Error("The result is larger than this server allows (MaxPacketBytes = " +
                  std::to_string(maxBytes) + ").");
    }
  };
  while (resultSet.Fetch()) {
    packet.AddRow();
    checkSize();
    for (size_t c = 0; c < copies.size(); ++c) {
      if (resultSet.IsNull(c)) continue;
      copies[c](resultSet, c, packet, maxBytes);
      checkSize();
    }
  }
  return packet;
}

}  // namespace kvo::fbpacket
