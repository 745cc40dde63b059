#include "configfiles/server_settings.h"

#include <charconv>

#include "configfiles/profile_file.h"

namespace kvo::config {

namespace {

// A whole decimal number above 0, blanks around it allowed; nullopt for anything else.
std::optional<uint64_t> ParseSize(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value == 0)
    return std::nullopt;
  return value;
}

struct Cache {
  int scopes = 0;
  std::optional<ServerSettings> settings;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

ServerSettings ReadFile();

}  // namespace

ServerSettings::RequestScope::RequestScope() {
  ++TheCache().scopes;
}

ServerSettings::RequestScope::~RequestScope() {
  Cache& cache = TheCache();
  if (--cache.scopes == 0) cache.settings.reset();
}

ServerSettings ServerSettings::Read() {
  Cache& cache = TheCache();
  if (cache.scopes == 0) return ReadFile();
  if (!cache.settings) cache.settings = ReadFile();
  return *cache.settings;
}

namespace {

ServerSettings ReadFile() {
  // A value no file can hold tells a missing key from an empty one.
  static constexpr char kMissing[] = "\x01";
  const TProfileFile file = TProfileFile::Snapshot(kServerConfig);
  ServerSettings settings;
  std::string allowed = file.ReadText(kServerSection, "AllowedDatabases", kMissing);
  if (allowed != kMissing) settings.AllowedDatabases = std::move(allowed);
  settings.MaxPacketBytes = ParseSize(file.ReadText(kServerSection, "MaxPacketBytes", ""));
  const int32_t copies = file.ReadNumber(kServerSection, "LogCopies", -1);
  if (copies >= 0) settings.LogCopies = copies;
  settings.KeepAttachments = file.ReadFlag(kServerSection, "KeepAttachments", true);
  int32_t seconds = file.ReadNumber(kServerSection, "KeepAttachmentsSeconds", 30);
  settings.KeepAttachmentsSeconds = seconds < 0 ? 0 : seconds;
  return settings;
}

}  // namespace

}  // namespace kvo::config
