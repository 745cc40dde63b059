#include "packet/packet.h"

#include <cstring>

#include "packet/slots.h"

namespace kvo::packet {

using detail::PackDate;
using detail::PackTime;
using detail::UnpackDate;
using detail::UnpackTime;

namespace {

size_t SlotSize(FieldType type) {
  switch (type) {
    case FieldType::I2:
      return 2;
    case FieldType::I4:
      return 4;
    case FieldType::Boolean:
      return 1;
    case FieldType::Date:
    case FieldType::Time:
      return 4;
    case FieldType::I8:
    case FieldType::R8:
    case FieldType::Fixed:
    case FieldType::DateTime:
      return 8;
    case FieldType::String:
    case FieldType::Text:
    case FieldType::Binary:
      return 12;  // heap offset (8) and length (4)
  }
  return 8;
}

bool IsIntegral(FieldType t) {
  return t == FieldType::I2 || t == FieldType::I4 || t == FieldType::I8 || t == FieldType::Fixed;
}
bool IsBytes(FieldType t) {
  return t == FieldType::String || t == FieldType::Text || t == FieldType::Binary;
}

}  // namespace

const char* FieldTypeName(FieldType type) {
  switch (type) {
    case FieldType::I2:
      return "i2";
    case FieldType::I4:
      return "i4";
    case FieldType::I8:
      return "i8";
    case FieldType::R8:
      return "r8";
    case FieldType::Fixed:
      return "fixed";
    case FieldType::String:
      return "string";
    case FieldType::Boolean:
      return "boolean";
    case FieldType::Date:
      return "date";
    case FieldType::Time:
      return "time";
    case FieldType::DateTime:
      return "dateTime";
    case FieldType::Text:
    case FieldType::Binary:
      return "bin.hex";
  }
  return "";
}

Packet::Packet(std::vector<Field> fields) : fields_(std::move(fields)) {
  Layout();
}

void Packet::Layout() {
  nullBytes_ = (fields_.size() + 7) / 8;
  offsets_.clear();
  size_t at = nullBytes_;
  for (const Field& f : fields_) {
    offsets_.push_back(static_cast<uint32_t>(at));
    at += SlotSize(f.type);
  }
  rowSize_ = at;
}

void Packet::AddRow() {
  // Doubling keeps appends cheap; the capacity past the last row is never touched.
  if (slots_.size() + rowSize_ > slots_.capacity())
    slots_.reserve(std::max<size_t>(slots_.capacity() * 2, 64 * rowSize_));
  slots_.append(rowSize_, '\0');
  char* bits = slots_.data() + rowCount_ * rowSize_;
  std::memset(bits, 0xFF, nullBytes_);
  // Bits past the last field stay clear: the binary rendering copies the bitmap as it is.
  if (fields_.size() % 8) bits[nullBytes_ - 1] = static_cast<char>((1 << (fields_.size() % 8)) - 1);
  ++rowCount_;
}

const char* Packet::Slot(size_t row, size_t column) const {
  return slots_.data() + row * rowSize_ + offsets_[column];
}

void Packet::CheckGet(size_t row, size_t column, bool ok, const char* what) const {
  if (row >= rowCount_ || column >= fields_.size())
    throw Error("Data packet: no value at row " + std::to_string(row) + ", column " +
                std::to_string(column));
  if (!ok) throw Error("Data packet: field " + fields_[column].attrName + " is not " + what);
  if (IsNull(row, column))
    throw Error("Data packet: field " + fields_[column].attrName + " is null");
}

bool Packet::IsNull(size_t row, size_t column) const {
  if (row >= rowCount_ || column >= fields_.size())
    throw Error("Data packet: no value at row " + std::to_string(row) + ", column " +
                std::to_string(column));
  const char* bits = slots_.data() + row * rowSize_;
  return (static_cast<unsigned char>(bits[column / 8]) >> (column % 8)) & 1;
}

int64_t Packet::GetInt(size_t row, size_t column) const {
  CheckGet(row, column, column < fields_.size() && IsIntegral(fields_[column].type), "an integer");
  const char* p = Slot(row, column);
  switch (fields_[column].type) {
    case FieldType::I2:
      return detail::LoadAs<int16_t>(p);
    case FieldType::I4:
      return detail::LoadAs<int32_t>(p);
    default:
      return detail::LoadAs<int64_t>(p);
  }
}

double Packet::GetDouble(size_t row, size_t column) const {
  CheckGet(row, column, column < fields_.size() && fields_[column].type == FieldType::R8,
           "a double");
  return detail::LoadAs<double>(Slot(row, column));
}

bool Packet::GetBool(size_t row, size_t column) const {
  CheckGet(row, column, column < fields_.size() && fields_[column].type == FieldType::Boolean,
           "a boolean");
  return *Slot(row, column) != 0;
}

std::string_view Packet::GetBytes(size_t row, size_t column) const {
  CheckGet(row, column, column < fields_.size() && IsBytes(fields_[column].type), "text or a blob");
  const char* p = Slot(row, column);
  return std::string_view(heap_.data() + detail::LoadAs<uint64_t>(p),
                          detail::LoadAs<uint32_t>(p + 8));
}

Date Packet::GetDate(size_t row, size_t column) const {
  CheckGet(row, column, column < fields_.size() && fields_[column].type == FieldType::Date,
           "a date");
  return UnpackDate(detail::LoadAs<uint32_t>(Slot(row, column)));
}

Time Packet::GetTime(size_t row, size_t column) const {
  CheckGet(row, column, column < fields_.size() && fields_[column].type == FieldType::Time,
           "a time");
  return UnpackTime(detail::LoadAs<uint32_t>(Slot(row, column)));
}

DateTime Packet::GetDateTime(size_t row, size_t column) const {
  CheckGet(row, column, column < fields_.size() && fields_[column].type == FieldType::DateTime,
           "a date and time");
  const char* p = Slot(row, column);
  return DateTime{UnpackDate(detail::LoadAs<uint32_t>(p)),
                  UnpackTime(detail::LoadAs<uint32_t>(p + 4))};
}

std::string Packet::GetFixedText(size_t row, size_t column) const {
  int64_t v = GetInt(row, column);
  int decimals = fields_[column].type == FieldType::Fixed ? fields_[column].decimals : 0;
  bool negative = v < 0;
  // The magnitude as unsigned so that INT64_MIN has one.
  uint64_t m = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  std::string digits = std::to_string(m);
  if (decimals > 0) {
    if (digits.size() <= static_cast<size_t>(decimals))
      digits.insert(0, static_cast<size_t>(decimals) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<size_t>(decimals), 1, '.');
  }
  return negative ? "-" + digits : digits;
}

char* Packet::LastSlot(size_t column, FieldType expected, const char* what) {
  if (rowCount_ == 0 || column >= fields_.size())
    throw Error("Data packet: no column " + std::to_string(column) + " in a current row");
  FieldType t = fields_[column].type;
  bool ok = t == expected || (expected == FieldType::I8 && IsIntegral(t)) ||
            (expected == FieldType::String && IsBytes(t));
  if (!ok) throw Error("Data packet: field " + fields_[column].attrName + " is not " + what);
  char* row = slots_.data() + (rowCount_ - 1) * rowSize_;
  row[column / 8] = static_cast<char>(row[column / 8] & ~(1 << (column % 8)));
  return row + offsets_[column];
}

void Packet::SetInt(size_t column, int64_t value) {
  char* p = LastSlot(column, FieldType::I8, "an integer");
  switch (fields_[column].type) {
    case FieldType::I2:
      detail::StoreAs(p, static_cast<int16_t>(value));
      break;
    case FieldType::I4:
      detail::StoreAs(p, static_cast<int32_t>(value));
      break;
    default:
      detail::StoreAs(p, value);
      break;
  }
}

void Packet::SetDouble(size_t column, double value) {
  detail::StoreAs(LastSlot(column, FieldType::R8, "a double"), value);
}

void Packet::SetBool(size_t column, bool value) {
  *LastSlot(column, FieldType::Boolean, "a boolean") = value ? 1 : 0;
}

void Packet::SetBytes(size_t column, std::string_view bytes) {
  size_t start = heap_.size();
  heap_.append(bytes);
  FinishBytes(column, start);
}

void Packet::FinishBytes(size_t column, size_t start) {
  char* p = LastSlot(column, FieldType::String, "text or a blob");
  if (start > heap_.size() || heap_.size() - start > UINT32_MAX)
    throw Error("Data packet: value of field " + fields_[column].attrName + " is too long");
  detail::StoreAs(p, static_cast<uint64_t>(start));
  detail::StoreAs(p + 8, static_cast<uint32_t>(heap_.size() - start));
}

void Packet::SetDate(size_t column, const Date& value) {
  detail::StoreAs(LastSlot(column, FieldType::Date, "a date"), PackDate(value));
}

void Packet::SetTime(size_t column, const Time& value) {
  detail::StoreAs(LastSlot(column, FieldType::Time, "a time"), PackTime(value));
}

void Packet::SetDateTime(size_t column, const DateTime& value) {
  char* p = LastSlot(column, FieldType::DateTime, "a date and time");
  detail::StoreAs(p, PackDate(value.date));
  detail::StoreAs(p + 4, PackTime(value.time));
}

}  // namespace kvo::packet
