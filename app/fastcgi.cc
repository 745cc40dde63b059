// The one place that includes the FastCGI library.
#include "app/fastcgi.h"

#include <fcgiapp.h>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <optional>
#include <string>

#include "app/kept_attachments.h"
#include "app/serve_request.h"
#include "cgi/caller_waits.h"
#include "configfiles/server_settings.h"
#include "fb/keeper.h"
#include "platform/metrics.h"
#include "platform/unique_fd.h"

namespace kvo::app {

namespace {

// The signals that stop the process. They stay blocked in every thread for the process's whole
// life (threads the Firebird client starts inherit the set) and are taken from a descriptor
// only while the loop waits: no handler ever interrupts a request's reading or writing, and a
// signal that comes during a request stays pending until the loop looks.
sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

platform::UniqueFd StopSignalDescriptor() {
  const sigset_t set = StopSignals();
  if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return platform::UniqueFd();
  return platform::UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
}

// Several processes share the listening socket, and a connection that makes it readable wakes
// them all: only one gets it, the others must find nothing instead of waiting in accept().
bool MakeNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// The milliseconds poll() waits for a deadline DropIdleAttachments gives (-1: none).
int PollTimeout(long milliseconds) {
  return milliseconds > INT_MAX ? INT_MAX : static_cast<int>(milliseconds);
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
  const int connection = request.ipcFd;
  const int id = request.requestId;
  input.stillWanted = [connection, id] { return cgi::FastCgiRequestWanted(connection, id); };
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
  // A large answer leaves its packet's memory free but held by the allocator for the process's
  // life (tens of megabytes per process): it goes back to the system once more than this lies
  // free. Reading the figure costs microseconds; the trim runs only after such requests.
  constexpr size_t kTrimAbove = 4u << 20;
  if (::mallinfo2().fordblks > kTrimAbove) ::malloc_trim(0);
  // Module children are reaped by their scan; anything left over must not pile up here.
  while (::waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

}  // namespace

bool StartedForFastCgi() {
  int accepting = 0;
  socklen_t length = sizeof accepting;
  return ::getsockopt(kListeningSocket, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &length) == 0 &&
         accepting != 0;
}

int ServeFastCgi(const std::function<void(LoopPoint)>& at) {
  const auto reach = [&at](LoopPoint point) {
    if (at) at(point);
  };
  const platform::UniqueFd stopSignals = StopSignalDescriptor();
  if (!stopSignals || !MakeNonBlocking(kListeningSocket)) return 1;
  if (FCGX_Init() != 0) return 1;
  FCGX_Request request;
  if (FCGX_InitRequest(&request, kListeningSocket, 0) != 0) return 1;
  const platform::UniqueFd startFolder(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  int status = 0;
  while (true) {
    // Kept attachments due to go are detached while nothing waits, and the host's metrics
    // written when due; the wait ends when the next of either is due.
    const long dropDue = fb::DropIdleAttachments();
    platform::metrics::SetKeptAttachments(fb::KeptAttachmentCount());
    const long metricsDue = platform::metrics::Publish(false);
    const int timeout = PollTimeout(
        dropDue < 0 || (metricsDue >= 0 && metricsDue < dropDue) ? metricsDue : dropDue);
    reach(LoopPoint::Waiting);
    pollfd ready[2] = {{stopSignals.Get(), POLLIN, 0}, {kListeningSocket, POLLIN, 0}};
    if (::poll(ready, 2, timeout) < 0) {
      if (errno == EINTR) continue;
      status = 1;
      break;
    }
    // A stop signal pending is taken before any new connection.
    if (ready[0].revents != 0) break;
    if (ready[1].revents == 0) continue;
    if ((ready[1].revents & POLLIN) == 0) {
      status = 1;
      break;
    }
    reach(LoopPoint::Accepting);
    const int accepted = FCGX_Accept_r(&request);
    // Another process took the connection, or it went before its request was read.
    if (accepted == -EAGAIN || accepted == -EWOULDBLOCK || accepted == -EINTR) continue;
    if (accepted < 0) {
      status = 1;
      break;
    }
    reach(LoopPoint::Serving);
    ServeOne(request, startFolder.Get());
    reach(LoopPoint::Answered);
  }
  fb::DropKeptAttachments();
  platform::metrics::SetKeptAttachments(0);
  platform::metrics::Publish(true);
  FCGX_Free(&request, 1);
  return status;
}

}  // namespace kvo::app
