// The "name=value" lines that describe a connection, read once for every attach.
#include "fb/fb.h"
#include "platform/ascii.h"

namespace kvo::fb {

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool Known(std::string_view name, ConnectionParam::Name& which) {
  const std::string lower = platform::AsciiLowered(name);
  // Names may come with the leading "isc_dpb_" of the client's constants.
  std::string_view n = lower;
  if (n.starts_with("isc_dpb_")) n.remove_prefix(8);
  static const std::pair<std::string_view, ConnectionParam::Name> kNames[] = {
      {"user_name", ConnectionParam::UserName},
      {"password", ConnectionParam::Password},
      {"lc_ctype", ConnectionParam::LcCtype},
      {"sql_role_name", ConnectionParam::SqlRoleName},
  };
  for (const auto& [text, id] : kNames) {
    if (n == text) {
      which = id;
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<ConnectionParam> ParseConnectionParams(const std::vector<std::string>& lines,
                                                   bool refuseUnknown) {
  std::vector<ConnectionParam> params;
  for (const std::string& line : lines) {
    std::string_view text = line;
    const size_t eq = text.find('=');
    const std::string_view name = TrimBlanks(text.substr(0, eq));
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view() : TrimBlanks(text.substr(eq + 1));
    if (name.empty() && eq == std::string_view::npos) continue;  // an empty line
    ConnectionParam p;
    if (!Known(name, p.name)) {
      if (!refuseUnknown) continue;
      throw Error("Unknown connection parameter \"" + std::string(name) + "\"");
    }
    p.value = value;
    params.push_back(std::move(p));
  }
  return params;
}

}  // namespace kvo::fb
