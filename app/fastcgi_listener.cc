#include "app/fastcgi_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string_view>

namespace kvo::app {

namespace {

constexpr std::string_view kPrefix = "kvowebserver: ";

// The first entry of `list` that is not an IPv4 address in dotted form; nullopt when all are.
std::optional<std::string> FirstBadAddress(std::string_view list) {
  while (true) {
    const size_t comma = list.find(',');
    const std::string entry(list.substr(0, comma));
    in_addr address{};
    if (::inet_pton(AF_INET, entry.c_str(), &address) != 1) return entry;
    if (comma == std::string_view::npos) return std::nullopt;
    list.remove_prefix(comma + 1);
  }
}

}  // namespace

std::optional<std::string> ListenerRefusal(int fd, const char* allowedAddresses) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return std::nullopt;
  const std::string variable(kWebServerAddressesVariable);
  if (address.ss_family == AF_INET6)
    return std::string(kPrefix) +
           "the FastCGI socket is an IPv6 one, whose callers the FastCGI library never checks; "
           "listen on an IPv4 address of the private network, with " +
           variable + " naming the web servers";
  if (address.ss_family != AF_INET) return std::nullopt;
  const std::string_view list = allowedAddresses ? allowedAddresses : "";
  if (list.empty())
    return std::string(kPrefix) +
           "the FastCGI socket listens on TCP and anybody who reaches it chooses every CGI "
           "variable; set " +
           variable + " to the addresses of the web servers that may connect (e.g. " + variable +
           "=10.0.0.1,10.0.0.2)";
  if (const auto bad = FirstBadAddress(list))
    return std::string(kPrefix) + variable + " holds \"" + *bad +
           "\", which is not an IPv4 address such as 10.0.0.1 (addresses are separated by "
           "commas, without spaces)";
  return std::nullopt;
}

}  // namespace kvo::app
