// TProfileFile: the INI reader bound to one configuration file. Every read goes to the file
// afresh, unless the object is a snapshot; a missing file, section or key gives the caller's
// default and never fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvo::config {

class TProfileFile {
 public:
  // Only remembers the (Windows) path; the file is not opened.
  explicit TProfileFile(std::string path) : path_(std::move(path)) {}
  // Reads the file once, now: every read of the object sees that content, so the values of
  // several keys come from one version of the file (a missing or unreadable file: no keys).
  static TProfileFile Snapshot(std::string path);

  const std::string& Path() const { return path_; }
  // Section and key without regard to case; blanks around the value removed; at most 2047
  // characters; a present empty value gives the empty text.
  std::string ReadText(std::string_view section, std::string_view key,
                       std::string_view defaultValue) const;
  // "0x"/"0X" (longer than two characters) or "$" hexadecimal, else decimal with a sign;
  // anything else or outside the signed 32-bit range gives the default.
  int32_t ReadNumber(std::string_view section, std::string_view key, int32_t defaultValue) const;
  // ReadNumber with the default as 0 or 1; true when not 0.
  bool ReadFlag(std::string_view section, std::string_view key, bool defaultValue) const;

 private:
  std::optional<std::string> Lookup(std::string_view section, std::string_view key) const;

  std::string path_;
  bool snapshot_ = false;
  std::optional<std::string> text_;  // a snapshot's content; nullopt: no file
};

// The integer rule of ReadNumber applied to a text (exposed for tests and other readers).
bool ParseProfileInteger(std::string_view text, int32_t& value);

}  // namespace kvo::config
