// The persistent mode: the same program serving FastCGI requests one after another, as a web
// server starts it (lighttpd's bin-path, spawn-fcgi, a systemd socket unit): with the listening
// socket as its standard input.
//
// Each request gets what a CGI process would get: its variables from the request's parameters
// (never from the process environment, which holds only what the web server gives the process,
// such as KVO_DRIVES and FIREBIRD), the folder of the script the web server names as its
// working directory, and a fresh web module. The server settings file is read for every request;
// its KeepAttachments and KeepAttachmentsSeconds decide whether attachments live on between
// requests (fb/keeper.h).
#pragma once

namespace kvo::app {

// True when standard input is a listening socket.
bool StartedForFastCgi();

// Serves requests until SIGTERM or SIGINT (the running request is finished first) or until the
// listening socket fails. Returns the process's exit status.
int ServeFastCgi();

}  // namespace kvo::app
