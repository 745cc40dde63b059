// kvowebserver: the CGI program. One process answers one request and always exits with 0.
// Started with a listening socket as its standard input, it serves FastCGI requests instead
// until it is told to stop (app/fastcgi.h).
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "app/fastcgi.h"
#include "app/serve_request.h"
#include "cgi/request.h"
#include "cgi/response.h"
#include "fb/fb.h"

int main() {
  // A caller that goes away must not kill the process before the statement log is written.
  signal(SIGPIPE, SIG_IGN);
  // Logins come from callers: no environment may route an attach to the embedded engine.
  kvo::fb::RequireServerAttach(true);
  int status = 0;
  if (kvo::app::StartedForFastCgi()) {
    status = kvo::app::ServeFastCgi();
  } else {
    kvo::app::ServeRequest(kvo::cgi::CgiInput::Process(), kvo::cgi::ProcessOutput());
  }
  // Everything of ours is released. The Firebird client's exit handlers cost ~50 ms after a
  // remote attach and serve nothing here, so the process ends without them.
  std::fflush(stdout);
  _exit(status);
}
