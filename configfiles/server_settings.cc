#include "configfiles/server_settings.h"

#include <charconv>
#include <utility>

#include "configfiles/profile_file.h"
#include "platform/ascii.h"

namespace kvo::config {

namespace {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A whole decimal number above 0, blanks around it allowed; nullopt for anything else.
std::optional<uint64_t> ParseSize(std::string_view text) {
  text = TrimBlanks(text);
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value == 0)
    return std::nullopt;
  return value;
}

// The switch's spellings, compared without regard to case; nullopt for anything else.
std::optional<bool> ParseSwitch(std::string_view text) {
  text = TrimBlanks(text);
  static constexpr std::pair<std::string_view, bool> kSpellings[] = {
      {"1", true},  {"true", true},   {"yes", true}, {"on", true},
      {"0", false}, {"false", false}, {"no", false}, {"off", false}};
  for (const auto& [spelling, value] : kSpellings) {
    if (platform::SameTextAscii(text, spelling)) return value;
  }
  return std::nullopt;
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
  std::string keep = file.ReadText(kServerSection, "KeepAttachments", kMissing);
  if (keep != kMissing) {
    std::optional<bool> value = ParseSwitch(keep);
    settings.KeepAttachments = value.value_or(false);
    if (!value) settings.KeepAttachmentsRefused = std::move(keep);
  }
  int32_t seconds = file.ReadNumber(kServerSection, "KeepAttachmentsSeconds", 30);
  settings.KeepAttachmentsSeconds = seconds < 0 ? 0 : seconds;
  seconds = file.ReadNumber(kServerSection, "KeepAttachmentsMaxSeconds", 10);
  settings.KeepAttachmentsMaxSeconds = seconds < 0 ? 0 : seconds;
  seconds = file.ReadNumber(kServerSection, "MaxConcurrentLogins", 2);
  settings.MaxConcurrentLogins = seconds < 0 ? 0 : seconds;
  seconds = file.ReadNumber(kServerSection, "MaxStatementSeconds", 0);
  settings.MaxStatementSeconds = seconds < 0 ? 0 : seconds;
  std::string metrics(TrimBlanks(file.ReadText(kServerSection, "MetricsFolder", "")));
  if (!metrics.empty()) settings.MetricsFolder = std::move(metrics);
  return settings;
}

}  // namespace

}  // namespace kvo::config
