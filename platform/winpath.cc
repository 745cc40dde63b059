#include "platform/winpath.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/codepage.h"

namespace kvo::platform {

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

struct Parsed {
  char drive = 0;                       // 0: relative to the current directory
  std::vector<std::string> components;  // Windows-1252, "." and ".." resolved
};

Parsed Parse(std::string_view path) {
  Parsed p;
  std::string_view rest = path;
  if (rest.size() >= 2 && rest[1] == ':' &&
      ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'))) {
    p.drive = static_cast<char>(rest[0] & ~0x20);
    rest.remove_prefix(2);
  } else if (!rest.empty() && IsSeparator(rest[0])) {
    p.drive = 'C';
  }
  size_t i = 0;
  while (i <= rest.size()) {
    size_t j = i;
    while (j < rest.size() && !IsSeparator(rest[j])) ++j;
    std::string_view part = rest.substr(i, j - i);
    if (part == "..") {
      if (!p.components.empty()) p.components.pop_back();  // never above the drive folder
    } else if (!part.empty() && part != ".") {
      p.components.emplace_back(part);
    }
    i = j + 1;
  }
  return p;
}

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  if (!getcwd(buffer.data(), buffer.size())) return ".";
  return buffer.data();
}

}  // namespace

std::string DrivesRoot() {
  const char* root = std::getenv("KVO_DRIVES");
  std::string r = (root && *root) ? root : "/var/lib/kvo/drives";
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  return r;
}

std::optional<std::string> HostPath(std::string_view windowsPath) {
  if (windowsPath.find('\0') != std::string_view::npos) return std::nullopt;
  Parsed p = Parse(windowsPath);
  std::string out;
  if (p.drive) {
    out = DrivesRoot() + "/" + p.drive;
  } else {
    out = ".";
  }
  // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict for "/" + std::string.
  for (const auto& c : p.components) {
    out += '/';
    out += Cp1252ToUtf8(c);
  }
  return out;
}

std::string WindowsPathOf(std::string_view hostPath) {
  const std::string root = DrivesRoot() + "/";
  std::string_view h = hostPath;
  if (h.substr(0, root.size()) == root && h.size() > root.size() &&
      (h.size() == root.size() + 1 || h[root.size() + 1] == '/')) {
    std::string out(1, h[root.size()]);
    out += ":";
    std::string_view rest = h.substr(root.size() + 1);
    if (rest.empty()) rest = "/";
    for (char c : Utf8ToCp1252(rest)) out += c == '/' ? '\\' : c;
    return out;
  }
  std::string out;
  for (char c : Utf8ToCp1252(h)) out += c == '/' ? '\\' : c;
  return out;
}

std::string WindowsFullPath(std::string_view windowsPath) {
  // A NUL byte ends the text, as it does for the Windows functions.
  windowsPath = windowsPath.substr(0, windowsPath.find('\0'));
  Parsed p = Parse(windowsPath);
  std::string out;
  if (p.drive) {
    out = std::string(1, p.drive) + ":";
  } else {
    out = WindowsPathOf(CurrentDirectory());
    while (!out.empty() && out.back() == '\\') out.pop_back();
  }
  for (const auto& c : p.components) {
    out += '\\';
    out += c;
  }
  if (p.components.empty()) out += "\\";
  return out;
}

}  // namespace kvo::platform
