#include "tests/support/browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <vector>

#include "tests/support/cgi_runner.h"

namespace kvo::testing {

std::optional<std::string> BrowserProgram() {
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
    if (access(path, X_OK) == 0) return std::string(path);
  return std::nullopt;
}

std::string BrowserDom(const std::string& url, int budgetMs) {
  const auto program = BrowserProgram();
  if (!program) throw std::runtime_error("chromium is not installed");
  TempDir profile;
  std::vector<std::string> args = {
      *program,
      "--headless",
      // The sandbox cannot start as root; these pages are the tests' own.
      "--no-sandbox",
      "--disable-gpu",
      // Without these the browser tries to reach outside hosts at every start, which this
      // machine's closed network refuses.
      "--disable-quic",
      "--no-first-run",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--user-data-dir=" + profile.path(),
      "--virtual-time-budget=" + std::to_string(budgetMs),
      "--dump-dom",
      url,
  };
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    // Its own process group, so that the browser's helper processes end with it.
    setpgid(0, 0);
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(out[1], 1);
    dup2(devnull, 2);  // dbus complaints and other noise of a headless start
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string dom;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool timedOut = false;
  char buffer[65536];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      break;
    }
    pollfd fd = {out[0], POLLIN, 0};
    int ready = poll(&fd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      timedOut = ready == 0;
      break;
    }
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    dom.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  if (timedOut) kill(-pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // Helpers that outlive the main process would keep the profile folder busy.
  kill(-pid, SIGKILL);
  if (timedOut) throw std::runtime_error("chromium did not finish loading " + url);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("chromium failed on " + url + " (status " + std::to_string(status) +
                             ")");
  return dom;
}

}  // namespace kvo::testing
