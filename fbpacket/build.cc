// Reads an open Firebird result set into a packet.
#include <string>

#include "fbpacket/fb_packet.h"
#include "platform/error.h"

namespace kvo::fbpacket {

using packet::Date;
using packet::DateTime;
using packet::Field;
using packet::FieldType;
using packet::Packet;
using packet::Time;

namespace {

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

}  // namespace

std::vector<Field> FieldsFor(const std::vector<fb::Column>& columns) {
  std::vector<Field> fields;
  fields.reserve(columns.size());
  for (const fb::Column& c : columns) {
    Field f;
    f.name = c.name;
    f.required = !c.nullable;
    switch (c.type) {
      case fb::SqlType::SmallInt:
      case fb::SqlType::Integer:
      case fb::SqlType::BigInt:
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
        break;
      case fb::SqlType::Char:
        f.type = FieldType::String;
        f.fixedChar = true;
        f.width = static_cast<int>(c.length);
        break;
      case fb::SqlType::VarChar:
        f.type = FieldType::String;
        f.width = static_cast<int>(c.length);
        break;
      case fb::SqlType::Boolean:
        f.type = FieldType::Boolean;
        break;
      case fb::SqlType::Date:
        f.type = FieldType::Date;
        break;
      case fb::SqlType::Time:
        f.type = FieldType::Time;
        break;
      case fb::SqlType::Timestamp:
        f.type = FieldType::DateTime;
        break;
      case fb::SqlType::Blob:
        f.type = c.subType == 1 ? FieldType::Text : FieldType::Binary;
        break;
    }
    fields.push_back(std::move(f));
  }
  MakeAttrNames(fields);
  return fields;
}

Packet BuildPacket(fb::ResultSet& resultSet) {
  return BuildPacket(resultSet, resultSet.Columns());
}

Packet BuildPacket(fb::ResultSet& resultSet, const std::vector<fb::Column>& columns,
                   uint64_t maxBytes) {
  Packet packet(FieldsFor(columns));
  const std::vector<Field>& fields = packet.Fields();
  const size_t n = fields.size();
  // Checked after every row and every blob, so the excess is at most one row's fixed part or
  // one blob.
  auto checkSize = [&] {
    if (maxBytes > 0 && packet.UsedBytes() > maxBytes)
      throw Error("The result is larger than this server allows (MaxPacketBytes = " +
                  std::to_string(maxBytes) + ").");
  };
  while (resultSet.Fetch()) {
    packet.AddRow();
    checkSize();
    for (size_t c = 0; c < n; ++c) {
      if (resultSet.IsNull(c)) continue;
      switch (fields[c].type) {
        case FieldType::I2:
        case FieldType::I4:
        case FieldType::I8:
        case FieldType::Fixed:
          packet.SetInt(c, resultSet.GetInt64(c));
          break;
        case FieldType::R8:
          packet.SetDouble(c, resultSet.GetDouble(c));
          break;
        case FieldType::String:
          packet.SetBytes(c, resultSet.GetText(c));
          break;
        case FieldType::Boolean:
          packet.SetBool(c, resultSet.GetBool(c));
          break;
        case FieldType::Date: {
          fb::Date d = resultSet.GetDate(c);
          packet.SetDate(c, Date{d.year, d.month, d.day});
          break;
        }
        case FieldType::Time: {
          fb::Time t = resultSet.GetTime(c);
          packet.SetTime(c, Time{t.hour, t.minute, t.second, t.fraction});
          break;
        }
        case FieldType::DateTime: {
          fb::Timestamp ts = resultSet.GetTimestamp(c);
          packet.SetDateTime(
              c, DateTime{Date{ts.date.year, ts.date.month, ts.date.day},
                          Time{ts.time.hour, ts.time.minute, ts.time.second, ts.time.fraction}});
          break;
        }
        case FieldType::Text:
        case FieldType::Binary: {
          // Straight into the packet's heap: a blob is never held twice.
          size_t start = packet.Heap().size();
          // With a limit, the read stops once the packet is past it (at most one segment
          // beyond), so one huge blob is never held whole.
          const size_t room = maxBytes == 0 ? SIZE_MAX
                              : packet.UsedBytes() >= maxBytes
                                  ? 0
                                  : static_cast<size_t>(maxBytes - packet.UsedBytes());
          resultSet.ReadBlob(c, packet.Heap(), room > SIZE_MAX - start ? SIZE_MAX : start + room);
          packet.FinishBytes(c, start);
          checkSize();
          break;
        }
      }
    }
    checkSize();
  }
  return packet;
}

}  // namespace kvo::fbpacket
