// Unchecked access to a packet's row slots for the renderers, which walk every value in order
// and would otherwise pay the public getters' range and type checks per value. Internal to
// the packet engine.
#pragma once

#include <cstring>

#include "packet/packet.h"

namespace kvo::packet::detail {

template <typename T>
T LoadAs(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
void StoreAs(char* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// Dates as year (16 bits), month, day; times as 1/10000 s since midnight.
inline uint32_t PackDate(const Date& d) {
  return (static_cast<uint32_t>(static_cast<uint16_t>(d.year)) << 16) |
         (static_cast<uint32_t>(d.month & 0xFF) << 8) | static_cast<uint32_t>(d.day & 0xFF);
}
inline Date UnpackDate(uint32_t v) {
  return Date{static_cast<int16_t>(v >> 16), static_cast<int>((v >> 8) & 0xFF),
              static_cast<int>(v & 0xFF)};
}
inline uint32_t PackTime(const Time& t) {
  return static_cast<uint32_t>(((t.hour * 60 + t.minute) * 60 + t.second)) * 10000u +
         static_cast<uint32_t>(t.fraction);
}
inline Time UnpackTime(uint32_t v) {
  Time t;
  t.fraction = static_cast<int>(v % 10000);
  uint32_t s = v / 10000;
  t.second = static_cast<int>(s % 60);
  t.minute = static_cast<int>((s / 60) % 60);
  t.hour = static_cast<int>(s / 3600);
  return t;
}

class Slots {
 public:
  explicit Slots(const Packet& packet) : p_(packet) {}

  const char* Row(size_t row) const { return p_.slots_.data() + row * p_.rowSize_; }
  static bool IsNull(const char* row, size_t column) {
    return (static_cast<unsigned char>(row[column / 8]) >> (column % 8)) & 1;
  }
  const char* At(const char* row, size_t column) const { return row + p_.offsets_[column]; }

  static int64_t Int(const char* slot, FieldType type) {
    switch (type) {
      case FieldType::I2:
        return LoadAs<int16_t>(slot);
      case FieldType::I4:
        return LoadAs<int32_t>(slot);
      default:
        return LoadAs<int64_t>(slot);
    }
  }
  static double Double(const char* slot) { return LoadAs<double>(slot); }
  static bool Bool(const char* slot) { return *slot != 0; }
  static Date DateOf(const char* slot) { return UnpackDate(LoadAs<uint32_t>(slot)); }
  static Time TimeOf(const char* slot) { return UnpackTime(LoadAs<uint32_t>(slot)); }
  static DateTime DateTimeOf(const char* slot) {
    return DateTime{UnpackDate(LoadAs<uint32_t>(slot)), UnpackTime(LoadAs<uint32_t>(slot + 4))};
  }
  std::string_view Bytes(const char* slot) const {
    return std::string_view(p_.heap_.data() + LoadAs<uint64_t>(slot), LoadAs<uint32_t>(slot + 8));
  }

 private:
  const Packet& p_;
};

}  // namespace kvo::packet::detail
