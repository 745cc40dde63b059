// /listakvomodulos: the stored module list, or a scan of the module tree saved as the list.
#include "config/modules.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "config/actions.h"
#include "configfiles/paths.h"
#include "configfiles/profile_file.h"
#include "configfiles/scramble.h"
#include "helpers/helpers.h"
#include "platform/ascii.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/module_library.h"
#include "platform/replace_file.h"
#include "platform/unique_fd.h"
#include "platform/winpath.h"

namespace kvo::config {

namespace {

// The module interface: three C functions without arguments.
using DescriptionFn = const char16_t* (*)();
using IconFn = int32_t (*)();

// A description longer than this is not NUL-terminated in any sensible sense.
constexpr size_t kMaxDescription = 32767;

constexpr const char* kUnknown = "Desconhecido|0|0";

// Puts the current directory back when the walk of one directory ends, however it ends.
class CurrentDirectoryGuard {
 public:
  CurrentDirectoryGuard() : fd_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~CurrentDirectoryGuard() {
    if (fd_ && ::fchdir(fd_.Get()) != 0) {
      // Nothing sensible is left to do: the next relative path would be wrong either way.
    }
  }
  CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
  CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;

 private:
  platform::UniqueFd fd_;
};

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

struct Entry {
  std::string hostName;     // as the file system spells it (UTF-8)
  std::string windowsName;  // as the list shows it (Windows-1252)
  enum Kind { PlainDirectory, File, Skipped } kind = Skipped;
  bool regular = false;  // a regular file (or a link to one): safe to open as a library
};

// Windows attributes on this file system: hidden = a name starting with "."; a read-only
// directory = one its owner may not write; a symbolic link is a reparse point, so a link to a
// directory is neither entered nor listed (no loops), while a link to a file is listed as the
// file. There is no system attribute.
Entry Classify(const std::string& name) {
  Entry e;
  e.hostName = name;
  e.windowsName = platform::Utf8ToCp1252(name);
  if (name.empty() || name[0] == '.') return e;
  struct stat st;
  if (::lstat(name.c_str(), &st) != 0) return e;
  if (S_ISLNK(st.st_mode)) {
    struct stat target;
    const bool resolves = ::stat(name.c_str(), &target) == 0;
    if (resolves && S_ISDIR(target.st_mode)) return e;
    e.kind = Entry::File;
    e.regular = resolves && S_ISREG(target.st_mode);
    return e;
  }
  if (S_ISDIR(st.st_mode)) {
    if (st.st_mode & S_IWUSR) e.kind = Entry::PlainDirectory;
    return e;
  }
  e.kind = Entry::File;
  e.regular = S_ISREG(st.st_mode);
  return e;
}

bool IsLibraryName(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || name.size() - dot != 4) return false;
  return platform::SameTextAscii(name.substr(dot), ".dll");
}

// Walks one directory: `windowsPath` names it in the lines, `hostPath` (absolute) reaches it.
void Walk(const std::string& windowsPath, const std::string& hostPath, TextLines& lines) {
  CurrentDirectoryGuard restore;
  if (::chdir(hostPath.c_str()) != 0) throw platform::CannotOpenFolder(windowsPath, errno);
  std::vector<Entry> entries;
  {
    std::unique_ptr<DIR, DirCloser> dir(::opendir("."));
    if (!dir) throw platform::CannotOpenFolder(windowsPath, errno);
    // Only readdir's own errno counts: Classify's stat of a dangling or looping link fails
    // too, and such a link is listed like a file.
    while (true) {
      errno = 0;
      const dirent* d = ::readdir(dir.get());
      if (!d) {
        if (errno != 0) throw platform::CannotOpenFolder(windowsPath, errno);
        break;
      }
      entries.push_back(Classify(d->d_name));
    }
  }
  for (const Entry& e : entries)
    if (e.kind == Entry::PlainDirectory)
      Walk(windowsPath + "\\" + e.windowsName, hostPath + "/" + e.hostName, lines);
  for (const Entry& e : entries) {
    if (e.kind != Entry::File) continue;
    std::string line = windowsPath + "\\" + e.windowsName + "|";
    if (!IsLibraryName(e.windowsName))
      line += e.windowsName + "|0|0";
    else if (!e.regular)
      line += kUnknown;  // opening a FIFO or a device to load it could block the request
    else
      line += DescribeModule(hostPath + "/" + e.hostName);
    lines.push_back(std::move(line));
  }
}

std::string AbsoluteHostPath(std::string_view windowsPath) {
  auto host = platform::HostPath(windowsPath);
  if (!host) throw platform::CannotOpenFolder(windowsPath, EINVAL);
  if (!host->empty() && (*host)[0] == '/') return *host;
  std::vector<char> buffer(4096);
  if (!::getcwd(buffer.data(), buffer.size())) throw platform::CannotOpenFolder(windowsPath, errno);
  return std::string(buffer.data()) + "/" + *host;
}

}  // namespace

std::string DescribeModuleInProcess(const std::string& hostPath) {
  platform::ModuleLibrary library(hostPath);
  if (!library.Loaded()) return kUnknown;
  auto description = reinterpret_cast<DescriptionFn>(library.Symbol("Description"));
  auto categoryIcon = reinterpret_cast<IconFn>(library.Symbol("CategoryIcon"));
  auto selectIcon = reinterpret_cast<IconFn>(library.Symbol("SelectIcon"));
  if (!description || !categoryIcon || !selectIcon) return kUnknown;
  try {
    const char16_t* text = description();
    if (!text) return kUnknown;
    size_t n = 0;
    while (n < kMaxDescription && text[n] != 0) ++n;
    std::string result = platform::Utf16ToCp1252(std::u16string_view(text, n), true);
    const int32_t category = categoryIcon();
    const int32_t select = selectIcon();
    return result + "|" + std::to_string(category) + "|" + std::to_string(select);
  } catch (...) {
    return kUnknown;
  }
}

std::string DescribeModule(const std::string& hostPath, std::chrono::milliseconds timeout) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return DescribeModuleInProcess(hostPath);
  platform::UniqueFd readEnd(pipeFds[0]);
  platform::UniqueFd writeEnd(pipeFds[1]);
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) return DescribeModuleInProcess(hostPath);
  if (child == 0) {
    // The copy dies with the server: a server killed while a module hangs must not leave the
    // copy waiting forever (nobody is left to kill it at the deadline).
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    // The module's own output must not reach the answer on standard output, and a process the
    // module starts must not hold the server's standard error (the web server's log) or any
    // other descriptor open: the copy keeps its standard streams on /dev/null and the answer's
    // pipe as descriptor 3, nothing else.
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0 || ::dup2(devNull, 0) < 0 || ::dup2(devNull, 1) < 0 || ::dup2(devNull, 2) < 0 ||
        (writeEnd.Get() != 3 && ::dup2(writeEnd.Get(), 3) < 0))
      ::_exit(1);
    ::close_range(4, ~0u, 0);
    // The answer ends with a NUL (no description holds one): the reader stops there and needs
    // no end of file, which a process the module left running would withhold.
    std::string answer = DescribeModuleInProcess(hostPath);
    answer += '\0';
    if (platform::WriteAll(3, answer) != 0) ::_exit(1);
    // No exit handlers: they belong to the server, not to this copy of it.
    ::_exit(0);
  }
  writeEnd.Reset();
  std::string answer;
  bool complete = false;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{readEnd.Get(), POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[4096];
    const ssize_t n = ::read(readEnd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the copy died before its answer was whole
    answer.append(buffer, static_cast<size_t>(n));
    if (const size_t end = answer.find('\0'); end != std::string::npos) {
      answer.resize(end);
      complete = true;
      break;
    }
  }
  if (!complete) ::kill(child, SIGKILL);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!complete || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || answer.empty())
    return kUnknown;
  return answer;
}

std::string ScanModules(std::string_view root) {
  TextLines lines;
  // The host path is fixed before the walk changes the current directory, so a relative root
  // names the same place at every depth.
  Walk(std::string(root), AbsoluteHostPath(root), lines);
  return JoinLines(lines);
}

void SaveListFile(std::string_view windowsPath, const TextLines& lines) {
  platform::ReplaceWholeFile(windowsPath, JoinLines(lines));
}

void ListaModulosAction(cgi::TWebRequest& request, cgi::TWebResponse& response) {
  const TProfileFile ini(helpers::ChooseConfigFile(request));
  const std::string listFile = ini.ReadText("KVO.Net", "LisModules", kModuleListFile);
  TextLines lines;
  if (platform::FileExists(listFile)) {
    lines = LoadLines(listFile);
  } else {
    lines = SplitLines(ScanModules(ini.ReadText("KVO.Net", "PathModulos", kModuleRoot)));
    SaveListFile(ini.ReadText("KVO.Net", "LisModules", kModuleListFile), lines);
  }
  response.SetContent(ScrambleText(JoinLines(lines), kScrambleKey));
}

}  // namespace kvo::config
