// Whether the web server still waits for a request's answer. A request whose caller has been
// answered already (the web server's timeout) or is gone (the web server stopped) must not
// commit: the caller was told it failed, or learns nothing. Both probes look without waiting and
// without taking any byte that belongs to the request.
#pragma once

namespace kvo::cgi {

// A CGI process's answer goes to `fd` (standard output): true while its reader is still there.
// A pipe whose reader closed reports an error, a socket a hang-up.
bool AnswerPipeConnected(int fd) noexcept;

// A FastCGI request `requestId` arrived on the connection `fd`: true while the web server keeps
// the connection open and has sent no FCGI_ABORT_REQUEST for it. The records not yet read are
// looked at in place (peeked), so the request's own reading goes on undisturbed.
bool FastCgiRequestWanted(int fd, int requestId) noexcept;

}  // namespace kvo::cgi
