// kvowebserver: the CGI program. One process answers one request and exits with 0, whatever
// the answer. Started with a listening socket as its standard input, it serves FastCGI requests
// instead until it is told to stop, and exits with 0 then, or with 1 when the FastCGI library
// cannot start or the listening socket fails (app/fastcgi.h), or at once when that socket is
// open to callers nobody checks (app/fastcgi_listener.h).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/fastcgi.h"
#include "app/fastcgi_listener.h"
#include "app/serve_request.h"
#include "cgi/request.h"
#include "cgi/response.h"
#include "fb/fb.h"
#include "platform/metrics.h"

#if defined(__SANITIZE_ADDRESS__)
#define KVO_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KVO_LEAK_CHECK 1
#endif
#endif
#ifdef KVO_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

int main() {
  // A caller that goes away must not kill the process before the statement log is written.
  signal(SIGPIPE, SIG_IGN);
  // Logins come from callers: no environment may route an attach to the embedded engine.
  kvo::fb::RequireServerAttach(true);
  int status = 0;
  if (kvo::app::StartedForFastCgi()) {
    const auto refusal = kvo::app::ListenerRefusal(
        kvo::app::kListeningSocket, std::getenv(kvo::app::kWebServerAddressesVariable));
    if (refusal) {
      std::fprintf(stderr, "%s\n", refusal->c_str());
      status = 1;
    } else {
      status = kvo::app::ServeFastCgi();
    }
  } else {
    kvo::app::ServeRequest(kvo::cgi::CgiInput::Process(), kvo::cgi::ProcessOutput());
    // The answer is complete: the web server may send it while the host's metrics are written.
    // (Standard output is put on /dev/null rather than closed: no file opened later may take
    // its number.)
    std::fflush(stdout);
    const int nothing = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nothing >= 0) {
      ::dup2(nothing, STDOUT_FILENO);
      ::close(nothing);
    }
    kvo::platform::metrics::Publish(true);
  }
  // Everything of ours is released. The Firebird client's exit handlers cost ~50 ms after a
  // remote attach and serve nothing here, so the process ends without them.
  std::fflush(stdout);
#ifdef KVO_LEAK_CHECK
  // _exit skips the sanitizer's own check at exit: without this no leak of a request is ever
  // seen. The recoverable check only writes its report to standard error, after the answer is
  // out, so a leak never changes what the caller receives nor the exit status. In FastCGI mode
  // this runs once, when the process is told to stop.
  __lsan_do_recoverable_leak_check();
#endif
  _exit(status);
}
