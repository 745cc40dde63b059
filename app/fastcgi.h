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

#include <functional>

namespace kvo::app {

// The listening socket: standard input.
inline constexpr int kListeningSocket = 0;

// The places of the loop, in their order: about to wait for a connection or a stop signal,
// about to accept a connection, about to serve an accepted request, done with its answer.
enum class LoopPoint { Waiting, Accepting, Serving, Answered };

// True when standard input is a listening socket.
bool StartedForFastCgi();

// Serves requests until SIGTERM or SIGINT or until the listening socket fails. A request once
// accepted is answered in full first, whenever the signal comes; a signal is never lost, and
// once it has come no connection is accepted. Returns the process's exit status. `at` is called
// at each LoopPoint (tests stop the process at each one).
int ServeFastCgi(const std::function<void(LoopPoint)>& at = {});

}  // namespace kvo::app
