// The one place that includes the FastCGI library.
#include "app/fastcgi.h"

#include <fcgiapp.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "app/kept_attachments.h"
#include "app/serve_request.h"
#include "configfiles/server_settings.h"
#include "fb/keeper.h"
#include "platform/unique_fd.h"

namespace kvo::app {

namespace {

volatile sig_atomic_t stopRequested = 0;

void OnStop(int) {
  stopRequested = 1;
}
void OnTimer(int) {}

void Install(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: the signal must end the wait in accept().
  action.sa_flags = 0;
  sigaction(signal, &action, nullptr);
}

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGALRM);
  return set;
}

// Between requests our handlers decide. The Firebird client installs its own SIGTERM and SIGINT
// handlers at its first attach (they would end the process during a request), so ours are put
// back after every request, while the signals are still blocked.
void WaitingForRequest() {
  Install(SIGTERM, OnStop);
  Install(SIGINT, OnStop);
  Install(SIGALRM, OnTimer);
  sigset_t set = StopSignals();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// A stop signal that arrives during a request waits until the answer is out. Threads that the
// Firebird client starts during the request inherit the blocked set.
void ServingRequest() {
  sigset_t set = StopSignals();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

void ArmTimer(long milliseconds) {
  struct itimerval timer {};
  if (milliseconds > 0) {
    timer.it_value.tv_sec = milliseconds / 1000;
    timer.it_value.tv_usec = (milliseconds % 1000) * 1000;
  }
  setitimer(ITIMER_REAL, &timer, nullptr);
}

// The request's working directory: the folder of SCRIPT_FILENAME, where a CGI process of the
// same script would run; the process's start-up folder when the web server names none.
void EnterScriptFolder(const char* scriptFilename, int startFolder) {
  if (scriptFilename && *scriptFilename) {
    std::string folder(scriptFilename);
    const size_t slash = folder.rfind('/');
    if (slash != std::string::npos) {
      folder.resize(slash == 0 ? 1 : slash);
      if (::chdir(folder.c_str()) == 0) return;
    }
  }
  if (startFolder >= 0 && ::fchdir(startFolder) != 0) {
    // The start-up folder is gone; the request runs where the last one left it.
  }
}

cgi::CgiInput RequestInput(FCGX_Request& request) {
  cgi::CgiInput input;
  FCGX_ParamArray params = request.envp;
  input.getenv = [params](const std::string& name) -> std::optional<std::string> {
    const char* value = FCGX_GetParam(name.c_str(), params);
    if (!value) return std::nullopt;
    return std::string(value);
  };
  FCGX_Stream* in = request.in;
  input.read = [in](char* buffer, size_t count) -> long {
    const int want = count > (1u << 30) ? (1 << 30) : static_cast<int>(count);
    return FCGX_GetStr(buffer, want, in);
  };
  return input;
}

cgi::OutputFn RequestOutput(FCGX_Request& request) {
  FCGX_Stream* out = request.out;
  return [out](const char* bytes, size_t count) -> size_t {
    size_t done = 0;
    while (done < count) {
      const size_t piece = std::min<size_t>(count - done, 1u << 30);
      const int n = FCGX_PutStr(bytes + done, static_cast<int>(piece), out);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    return done;
  };
}

void ServeOne(FCGX_Request& request, int startFolder) {
  const config::ServerSettings::RequestScope oneReading;
  const config::ServerSettings settings = config::ServerSettings::Read();
  ApplyKeptAttachmentSettings(settings, [&request](std::string_view line) {
    FCGX_PutStr(line.data(), static_cast<int>(line.size()), request.err);
    FCGX_PutChar('\n', request.err);
  });
  EnterScriptFolder(FCGX_GetParam("SCRIPT_FILENAME", request.envp), startFolder);
  ServeRequest(RequestInput(request), RequestOutput(request));
  FCGX_Finish_r(&request);
  // Module children are reaped by their scan; anything left over must not pile up here.
  while (::waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

}  // namespace

bool StartedForFastCgi() {
  int accepting = 0;
  socklen_t length = sizeof accepting;
  return ::getsockopt(0, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &length) == 0 && accepting != 0;
}

int ServeFastCgi() {
  if (FCGX_Init() != 0) return 1;
  FCGX_Request request;
  if (FCGX_InitRequest(&request, 0, FCGI_FAIL_ACCEPT_ON_INTR) != 0) return 1;
  const platform::UniqueFd startFolder(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  int status = 0;
  while (true) {
    WaitingForRequest();
    if (stopRequested) break;
    // Wakes up when the next kept attachment is due to go, to detach it while idle.
    ArmTimer(fb::DropIdleAttachments());
    const int accepted = FCGX_Accept_r(&request);
    ArmTimer(0);
    ServingRequest();
    if (accepted == -EINTR) continue;
    if (accepted < 0) {
      status = 1;
      break;
    }
    ServeOne(request, startFolder.Get());
  }
  fb::DropKeptAttachments();
  FCGX_Free(&request, 1);
  return status;
}

}  // namespace kvo::app
