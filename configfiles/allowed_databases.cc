#include "configfiles/allowed_databases.h"

#include <vector>

namespace kvo::config {

namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string LowerAll(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// Resolves "." and ".." components and runs of separators, keeping the first separator of
// each run as written. A ".." above the start stays, so it can never match a deeper entry.
std::string ResolvePath(std::string_view path) {
  std::string lead;
  size_t i = 0;
  // A drive ("c:") or a leading separator is the root that ".." cannot climb out of.
  if (path.size() >= 2 && path[1] == ':' && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z')) {
    lead = std::string(path.substr(0, 2));
    i = 2;
  }
  bool rooted = i < path.size() && IsSeparator(path[i]);
  if (rooted) lead += path[i];
  std::vector<std::string_view> parts;
  std::vector<char> seps;  // the separator written before each part
  char sep = rooted ? path[i] : '/';
  while (i < path.size()) {
    while (i < path.size() && IsSeparator(path[i])) sep = path[i++];
    size_t start = i;
    while (i < path.size() && !IsSeparator(path[i])) ++i;
    std::string_view part = path.substr(start, i - start);
    if (part.empty() || part == ".") continue;
    if (part == ".." && !parts.empty() && parts.back() != "..") {
      parts.pop_back();
      seps.pop_back();
      continue;
    }
    if (part == ".." && rooted) continue;
    parts.push_back(part);
    seps.push_back(sep);
  }
  std::string out = lead;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) out += seps[k];
    out += parts[k];
  }
  if (parts.empty() && lead.empty()) out = std::string(path);
  return out;
}

std::string CanonicalHost(std::string_view host) {
  std::string h = LowerAll(host);
  if (h == "127.0.0.1") h = "localhost";
  return h;
}

std::string Join(std::string_view host, std::string_view port, std::string_view path) {
  std::string out = CanonicalHost(host);
  std::string p = LowerAll(port);
  if (!p.empty() && p != "3050" && p != "gds_db") out += "/" + p;
  out += ':';
  out += LowerAll(ResolvePath(path));
  return out;
}

// "*" matches any run (also empty) of characters; everything else itself.
bool WildcardMatch(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

std::string CanonicalDatabaseName(std::string_view database) {
  std::string_view name = Trim(database);
  // inet://host[:port]/path (also inet4://, inet6://).
  for (std::string_view scheme : {"inet://", "inet4://", "inet6://"}) {
    if (name.size() > scheme.size() && LowerAll(name.substr(0, scheme.size())) == scheme) {
      std::string_view rest = name.substr(scheme.size());
      size_t slash = rest.find('/');
      if (slash == std::string_view::npos) break;
      std::string_view hostPort = rest.substr(0, slash), path = rest.substr(slash + 1);
      size_t colon = hostPort.rfind(':');
      if (colon != std::string_view::npos && hostPort.find(']', colon) == std::string_view::npos)
        return Join(hostPort.substr(0, colon), hostPort.substr(colon + 1), path);
      return Join(hostPort, "", path);
    }
  }
  // [ipv6 address][/port]:path
  if (!name.empty() && name.front() == '[') {
    size_t close = name.find(']');
    size_t colon = close == std::string_view::npos ? close : name.find(':', close);
    if (colon != std::string_view::npos) {
      std::string_view port = name.substr(close + 1, colon - close - 1);
      if (port.empty() || port.front() == '/')
        return Join(name.substr(0, close + 1), port.empty() ? port : port.substr(1),
                    name.substr(colon + 1));
    }
  }
  // host[/port]:path, where a single letter before the colon is a drive, not a host.
  size_t colon = name.find(':');
  if (colon != std::string_view::npos && colon > 1 && name.find("://") == std::string_view::npos) {
    std::string_view server = name.substr(0, colon), path = name.substr(colon + 1);
    size_t slash = server.find('/');
    if (slash == std::string_view::npos) return Join(server, "", path);
    return Join(server.substr(0, slash), server.substr(slash + 1), path);
  }
  return LowerAll(ResolvePath(name));
}

bool DatabaseAllowed(std::string_view list, std::string_view database) {
  const std::string wanted = CanonicalDatabaseName(database);
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view entry = Trim(list.substr(start, end - start));
    if (!entry.empty() && WildcardMatch(CanonicalDatabaseName(entry), wanted)) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace kvo::config
