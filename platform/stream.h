// A memory stream with a position, as the answer streams and packet buffers use.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace kvo::platform {

class MemoryStream {
 public:
  MemoryStream() = default;
  explicit MemoryStream(std::string bytes) : data_(std::move(bytes)) {}

  size_t Size() const { return data_.size(); }
  size_t Position() const { return position_; }
  void SetPosition(size_t position) { position_ = std::min(position, data_.size()); }

  // Reads up to `count` bytes at the position and moves past them; returns the number read.
  size_t Read(void* buffer, size_t count) {
    size_t n = std::min(count, data_.size() - position_);
    if (n) std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return n;
  }
  // Writes at the position (overwriting, then growing) and moves past the bytes.
  void Write(const void* bytes, size_t count) {
    if (position_ + count > data_.size()) data_.resize(position_ + count);
    if (count) std::memcpy(data_.data() + position_, bytes, count);
    position_ += count;
  }

  const std::string& Bytes() const { return data_; }
  std::string& Bytes() { return data_; }
  void Clear() {
    data_.clear();
    position_ = 0;
  }

 private:
  std::string data_;
  size_t position_ = 0;
};

}  // namespace kvo::platform
