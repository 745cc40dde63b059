#include "configfiles/profile_file.h"

#include <climits>
#include <optional>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/wincase.h"

namespace kvo::config {

namespace {

constexpr size_t kMaxValue = 2047;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::optional<std::string> LoadFile(const std::string& path) {
  try {
    return platform::ReadWholeFile(path);
  } catch (const Error&) {
    return std::nullopt;
  }
}

// The value of the first key of the first section so named, as the Windows profile functions
// find it; nullopt when the section or the key is missing.
std::optional<std::string> Find(std::string_view text, std::string_view section,
                                std::string_view key) {
  bool inSection = false, sectionSeen = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      size_t close = line.find(']');
      std::string_view name = Trim(
          line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      if (inSection) return std::nullopt;  // the first section of that name is the one read
      inSection = !sectionSeen && platform::EqualNoCase1252(name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (!platform::EqualNoCase1252(Trim(line.substr(0, eq)), key)) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return std::string(value.substr(0, kMaxValue));
  }
  return std::nullopt;
}

}  // namespace

TProfileFile TProfileFile::Snapshot(std::string path) {
  TProfileFile file(std::move(path));
  file.snapshot_ = true;
  file.text_ = LoadFile(file.path_);
  return file;
}

std::optional<std::string> TProfileFile::Lookup(std::string_view section,
                                                std::string_view key) const {
  if (snapshot_) return text_ ? Find(*text_, section, key) : std::nullopt;
  const std::optional<std::string> text = LoadFile(path_);
  return text ? Find(*text, section, key) : std::nullopt;
}

bool ParseProfileInteger(std::string_view text, int32_t& value) {
  return platform::ParseInt32(text, value);
}

std::string TProfileFile::ReadText(std::string_view section, std::string_view key,
                                   std::string_view defaultValue) const {
  auto value = Lookup(section, key);
  return value ? *value : std::string(defaultValue.substr(0, kMaxValue));
}

int32_t TProfileFile::ReadNumber(std::string_view section, std::string_view key,
                                 int32_t defaultValue) const {
  auto text = Lookup(section, key);
  int32_t value;
  return (text && ParseProfileInteger(*text, value)) ? value : defaultValue;
}

bool TProfileFile::ReadFlag(std::string_view section, std::string_view key,
                            bool defaultValue) const {
  return ReadNumber(section, key, defaultValue ? 1 : 0) != 0;
}

}  // namespace kvo::config
