// kvowebserver: the CGI program. One process answers one request and always exits with 0.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <typeinfo>

#include "app/wm.h"
#include "cgi/request.h"
#include "cgi/response.h"
#include "fb/fb.h"
#include "platform/error.h"

namespace {

void Run() {
  const kvo::cgi::OutputFn out = kvo::cgi::ProcessOutput();
  try {
    kvo::cgi::TWebRequest request(kvo::cgi::CgiInput::Process());
    kvo::cgi::TWebResponse response(request, out);
    {
      kvo::app::TWM wm;
      wm.HandleRequest(request, response);
    }
  } catch (const kvo::Error& e) {
    kvo::cgi::ServerErrorAnswer(out, e.kind(), e.what());
  } catch (const std::bad_alloc& e) {
    kvo::cgi::ServerErrorAnswer(out, "EOutOfMemory", kvo::kOutOfMemory);
  } catch (const std::exception& e) {
    kvo::cgi::ServerErrorAnswer(out, "Exception", e.what());
  }
}

}  // namespace

int main() {
  // A caller that goes away must not kill the process before the statement log is written.
  signal(SIGPIPE, SIG_IGN);
  // Logins come from callers: no environment may route an attach to the embedded engine.
  kvo::fb::RequireServerAttach(true);
  Run();
  // Everything of ours is released. The Firebird client's exit handlers cost ~50 ms after a
  // remote attach and serve nothing here, so the process ends without them.
  std::fflush(stdout);
  _exit(0);
}
