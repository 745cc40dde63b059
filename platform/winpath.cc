#include "platform/winpath.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/codepage.h"
#include "platform/wincase.h"

namespace kvo::platform {

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool OnlyDotsAndBlanks(std::string_view part) {
  return part.find_first_not_of(". ") == std::string_view::npos;
}

// Windows ignores trailing dots and blanks of a name. A name made of nothing else is left as
// it is written: stripped it would be empty, and it must never come to mean "." or "..".
std::string_view StripTrailing(std::string_view part) {
  if (OnlyDotsAndBlanks(part)) return part;
  while (part.back() == '.' || part.back() == ' ') part.remove_suffix(1);
  return part;
}

struct Parsed {
  char drive = 0;                       // 0: relative to the current directory
  std::vector<std::string> components;  // Windows-1252, "." and ".." resolved, stripped
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
    // Only the exact texts "." and ".." name the folder itself and its parent; ".. ", "..."
    // and ". ." are plain names (see StripTrailing), so no spelling of them climbs.
    if (part == "..") {
      if (!p.components.empty()) p.components.pop_back();  // never above the drive folder
    } else if (!part.empty() && part != ".") {
      p.components.emplace_back(StripTrailing(part));
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

// The key under which a name is found without regard to case (Windows-1252 text).
std::string LookupKey(std::string_view windowsName) {
  return UpperCase1252(StripTrailing(windowsName));
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

// What one listing of a folder found: for each key, the name the file system spells. Of names
// that differ only in case the first in byte order is kept, so the choice does not depend on
// the order of the listing.
struct Listing {
  dev_t device = 0;
  ino_t inode = 0;
  timespec modified{};
  timespec changed{};
  timespec listed{};  // the coarse clock when the listing began
  std::unordered_map<std::string, std::string> names;
};

bool Same(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool Before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// A listing still describes the folder when the folder is the same one, unchanged since, and
// its last change came strictly before the listing began: file times tick with the coarse
// clock, so a change within the tick of the listing may have come after it without moving them.
bool StillValid(const Listing& l, const struct stat& st) {
  return l.device == st.st_dev && l.inode == st.st_ino && Same(l.modified, st.st_mtim) &&
         Same(l.changed, st.st_ctim) && Before(st.st_ctim, l.listed) &&
         Before(st.st_mtim, l.listed);
}

// Folder listings kept for the request; a folder that changed since it was listed is listed
// again.
std::map<std::string, Listing>& Listings() {
  static std::map<std::string, Listing> listings;
  return listings;
}

const Listing* ListFolder(const std::string& folder) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  auto& listings = Listings();
  auto it = listings.find(folder);
  if (it != listings.end()) {
    if (StillValid(it->second, st)) return &it->second;
    listings.erase(it);
  }
  Listing l;
  ::clock_gettime(CLOCK_REALTIME_COARSE, &l.listed);
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return nullptr;
  l.device = st.st_dev;
  l.inode = st.st_ino;
  l.modified = st.st_mtim;
  l.changed = st.st_ctim;
  while (const dirent* d = ::readdir(dir.get())) {
    const std::string_view name = d->d_name;
    if (name == "." || name == "..") continue;
    const std::string windowsName = Utf8ToCp1252(name);
    // A name that Windows-1252 cannot spell cannot be asked for either.
    if (Cp1252ToUtf8(windowsName) != name) continue;
    auto [pos, added] = l.names.try_emplace(LookupKey(windowsName), name);
    if (!added && name < pos->second) pos->second = name;
  }
  return &listings.emplace(folder, std::move(l)).first->second;
}

// The host path of `components` under `base`: each one as written when such a name exists,
// else the existing name that differs only in case, else as written (a name to create).
std::string Resolve(std::string base, const std::vector<std::string>& components) {
  bool found = true;
  for (const std::string& component : components) {
    const std::string written = Cp1252ToUtf8(component);
    if (found) {
      const std::string exact = base + "/" + written;
      struct stat st;
      if (::lstat(exact.c_str(), &st) == 0) {
        base = exact;
        continue;
      }
      if (errno == ENOENT) {
        if (const Listing* listing = ListFolder(base)) {
          auto it = listing->names.find(LookupKey(component));
          if (it != listing->names.end()) {
            base += '/';
            base += it->second;
            continue;
          }
        }
      }
      // Nothing below a missing folder exists: the rest keeps the program's spelling.
      found = false;
    }
    // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict for "/" + std::string.
    base += '/';
    base += written;
  }
  return base;
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
  return Resolve(p.drive ? DrivesRoot() + "/" + p.drive : std::string("."), p.components);
}

bool StaysInsideFolder(std::string_view relative) {
  if (relative.find('\0') != std::string_view::npos) return false;
  if (!relative.empty() && IsSeparator(relative[0])) return false;
  if (relative.size() >= 2 && relative[1] == ':') return false;
  size_t i = 0;
  while (i <= relative.size()) {
    size_t j = i;
    while (j < relative.size() && !IsSeparator(relative[j])) ++j;
    if (relative.substr(i, j - i) == "..") return false;
    i = j + 1;
  }
  return true;
}

void ForgetFolderListings() {
  Listings().clear();
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
