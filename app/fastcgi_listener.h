// Who may speak FastCGI to the processes. A Unix socket is guarded by its file's owner and mode;
// a TCP socket only by the list of web-server addresses (FCGI_WEB_SERVER_ADDRS) that the FastCGI
// library compares each caller's address with, and only on IPv4: it checks no IPv6 caller.
// Whoever reaches the socket sets every CGI variable, REMOTE_HOST included, so a TCP socket
// that anybody could reach is refused before the first request.
#pragma once

#include <optional>
#include <string>

namespace kvo::app {

// The name of the list in the process's environment: IPv4 addresses separated by commas.
inline constexpr const char* kWebServerAddressesVariable = "FCGI_WEB_SERVER_ADDRS";

// Why the process must not serve on the listening socket `fd` when `allowedAddresses` is the
// list's value (nullptr: unset), as one line for the error log; nullopt when it may serve.
// Refused: a TCP socket with no list or an empty one, a list holding anything but IPv4
// addresses in dotted form (the library would match nothing, or something else, with it), and
// any IPv6 socket.
std::optional<std::string> ListenerRefusal(int fd, const char* allowedAddresses);

}  // namespace kvo::app
