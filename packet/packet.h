// The data packet: a self-describing result set (column descriptions and every row) as the
// remote SQL service sends it and the client components load it. Two renderings, XML and a
// compact binary form, each with a loader; both are described in docs/packet-format.md.
//
// Rows live in one fixed-size slot area (a null bitmap and one slot per column) plus one byte
// heap for text and blobs, so a packet of many rows costs little more than its values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/stream.h"

namespace kvo::packet {

namespace detail {
class Slots;
}

enum class FieldType : uint8_t {
  I2,       // "i2": 16-bit integer
  I4,       // "i4": 32-bit integer
  I8,       // "i8": 64-bit integer
  R8,       // "r8": double
  Fixed,    // "fixed": exact number, the unscaled int64 with Field::decimals digits after the point
  String,   // "string": bytes (Windows-1252 text); Field::fixedChar for CHAR
  Boolean,  // "boolean"
  Date,     // "date"
  Time,     // "time": to 1/10000 s
  DateTime,  // "dateTime": to 1/10000 s
  Text,      // "bin.hex" SUBTYPE="Text": a text blob
  Binary,    // "bin.hex" SUBTYPE="Binary": a binary blob
};

// The name of the type in the XML rendering ("i4", "fixed", "bin.hex", ...).
const char* FieldTypeName(FieldType type);

struct Field {
  std::string attrName;  // unique within the packet and a valid XML name (see MakeAttrNames)
  std::string name;      // the column's name as the select list gives it
  FieldType type = FieldType::I4;
  int width = 0;           // String: length in bytes; Fixed: precision (digits); 0 elsewhere
  int decimals = 0;        // Fixed: digits after the point; 0 elsewhere
  bool fixedChar = false;  // String from a CHAR column (blank padded)
  bool required = false;   // NOT NULL
  bool operator==(const Field&) const = default;
};

struct Date {
  int year = 1, month = 1, day = 1;
  bool operator==(const Date&) const = default;
};
struct Time {
  int hour = 0, minute = 0, second = 0;
  int fraction = 0;  // 1/10000 s, 0..9999
  bool operator==(const Time&) const = default;
};
struct DateTime {
  Date date;
  Time time;
  bool operator==(const DateTime&) const = default;
};

// Fills Field::attrName of every field from Field::name by the renaming rule that both
// renderings use: characters that may not appear in an XML name become "_", a name that does
// not start with a letter or "_" gets a leading "_", an empty name becomes "COLUMN"; then a name
// already taken (compared without regard to ASCII case) gets the first free suffix "_1", "_2"...
void MakeAttrNames(std::vector<Field>& fields);

class Packet {
 public:
  Packet() = default;
  explicit Packet(std::vector<Field> fields);
  Packet(Packet&&) noexcept = default;
  Packet& operator=(Packet&&) noexcept = default;
  Packet(const Packet&) = delete;
  Packet& operator=(const Packet&) = delete;

  const std::vector<Field>& Fields() const { return fields_; }
  size_t FieldCount() const { return fields_.size(); }
  size_t RowCount() const { return rowCount_; }

  // Readers of one value. The getter must match the field's type (GetInt: I2, I4, I8 and the
  // unscaled Fixed; GetBytes: String, Text, Binary); otherwise, and for a NULL or an index out
  // of range, they throw kvo::Error. Views stay valid while the packet is not changed.
  bool IsNull(size_t row, size_t column) const;
  int64_t GetInt(size_t row, size_t column) const;
  double GetDouble(size_t row, size_t column) const;
  bool GetBool(size_t row, size_t column) const;
  std::string_view GetBytes(size_t row, size_t column) const;
  Date GetDate(size_t row, size_t column) const;
  Time GetTime(size_t row, size_t column) const;
  DateTime GetDateTime(size_t row, size_t column) const;
  // A Fixed value as text with its decimals ("-12.50"); also I2/I4/I8 in decimal.
  std::string GetFixedText(size_t row, size_t column) const;

  // Building: AddRow() appends a row whose values are all NULL; the setters fill a column of the
  // last row (they throw kvo::Error on a type mismatch). AppendBytes adds to a String, Text or
  // Binary value of the last row (the value must be the last one set).
  void AddRow();
  void SetInt(size_t column, int64_t value);
  void SetDouble(size_t column, double value);
  void SetBool(size_t column, bool value);
  void SetBytes(size_t column, std::string_view bytes);
  void SetDate(size_t column, const Date& value);
  void SetTime(size_t column, const Time& value);
  void SetDateTime(size_t column, const DateTime& value);
  // For builders that write a value's bytes in place (a blob read straight into the packet):
  // appends to the heap and returns it; then FinishBytes(column, start) takes the bytes written
  // since `start` (the heap size before) as the column's value.
  std::string& Heap() { return heap_; }
  void FinishBytes(size_t column, size_t start);

  // Bytes taken by the values so far (rows and heap, without spare capacity).
  size_t UsedBytes() const { return rowCount_ * rowSize_ + heap_.size(); }

 private:
  friend class detail::Slots;
  void Layout();
  const char* Slot(size_t row, size_t column) const;
  char* LastSlot(size_t column, FieldType expected, const char* what);
  void CheckGet(size_t row, size_t column, bool ok, const char* what) const;

  std::vector<Field> fields_;
  std::vector<uint32_t> offsets_;  // slot offset of each column within a row
  size_t nullBytes_ = 0;
  size_t rowSize_ = 0;
  size_t rowCount_ = 0;
  std::string slots_;
  std::string heap_;
};

// Appends the XML rendering (one line, no declaration) to `out`.
void RenderXml(const Packet& packet, std::string& out);
std::string RenderXml(const Packet& packet);

// Loads an XML rendering, with or without the answer's XML declaration before it (the text is
// read as ISO-8859-1 whatever the declaration says). Throws kvo::Error "Invalid XML data packet:
// ..." naming the fault.
Packet LoadXml(std::string_view xml);

// Writes the binary rendering at the stream's position (no size prefix).
void RenderBinary(const Packet& packet, platform::MemoryStream& target);
std::string RenderBinary(const Packet& packet);

// Loads a binary rendering: every byte from the stream's position to its end (the position
// moves to the end). Throws kvo::Error "Invalid binary data packet: ..." naming the fault
// (bad magic, unsupported version, truncated, ...); never reads past the end.
Packet LoadBinary(platform::MemoryStream& source);
Packet LoadBinary(std::string_view bytes);

}  // namespace kvo::packet
