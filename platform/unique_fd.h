// The one owner of a file descriptor (closed when the owner goes, however it goes; closing also
// drops any flock() lock held through it), and the whole-buffer read and write loops on one.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace kvo::platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  // Takes `fd` (may be negative: nothing is owned then).
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const noexcept { return fd_; }
  bool Valid() const noexcept { return fd_ >= 0; }
  explicit operator bool() const noexcept { return Valid(); }

  // Gives the descriptor up without closing it; the caller owns it.
  int Release() noexcept { return std::exchange(fd_, -1); }
  // Closes what is owned (its failure ignored) and takes `fd`.
  void Reset(int fd = -1) noexcept;
  // Closes what is owned and reports the close's failure: 0, or the errno value. Writes that
  // the kernel deferred may fail only here, so a writer that cares checks it.
  int Close() noexcept;

 private:
  int fd_ = -1;
};

// Writes all of `bytes`, resuming after signals and short writes. Returns 0 or the errno value
// (EIO when the kernel accepts nothing without saying why).
int WriteAll(int fd, std::string_view bytes) noexcept;

// Appends everything up to the end of the file to `out`. Returns 0 or the errno value; what was
// read before a failure stays appended.
int ReadAll(int fd, std::string& out);

}  // namespace kvo::platform
