// The server's own settings: the INI file C:\KVO\KVO.Net\Config\KVO.Server.Config, section
// [Server]. Read afresh for every request, the same for every caller; a missing file or key
// leaves the behaviour that the server has without it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kvo::config {

inline constexpr const char* kServerConfig = "C:\\KVO\\KVO.Net\\Config\\KVO.Server.Config";
inline constexpr const char* kServerSection = "Server";

struct ServerSettings {
  // AllowedDatabases: the databases that actions may attach to, entries separated by ";".
  // nullopt when the key is missing (every database allowed).
  std::optional<std::string> AllowedDatabases;
  // MaxPacketBytes: the largest data packet /sql builds; nullopt when missing, 0 or unreadable.
  std::optional<uint64_t> MaxPacketBytes;
  // LogCopies: how many rotated copies of the statement log are kept, the newest; nullopt when
  // the key is missing or negative (every copy kept).
  std::optional<int32_t> LogCopies;
  // KeepAttachments: attachment reuse in the persistent mode, one of 0/1, false/true, no/yes,
  // off/on (any case, blanks around it allowed). Any other value turns reuse off and is kept in
  // KeepAttachmentsRefused for the error log.
  bool KeepAttachments = true;
  std::optional<std::string> KeepAttachmentsRefused;
  // KeepAttachmentsSeconds: the idle time after which a kept attachment is detached.
  int32_t KeepAttachmentsSeconds = 30;
  // KeepAttachmentsMaxSeconds: how long an attachment may serve from its attach on, however
  // often it is used; what a login changed outside this server can outlive.
  int32_t KeepAttachmentsMaxSeconds = 10;
  // MaxConcurrentLogins: how many attaches of credentials a process has not yet seen succeed
  // may run at once on the host in the persistent mode; 0 for no bound.
  int32_t MaxConcurrentLogins = 2;
  // MaxStatementSeconds: how long a caller's statement (/sql, /tabelas, /criarib) may run and
  // fetch before it is cancelled; 0 (missing, negative or unreadable) for no bound.
  int32_t MaxStatementSeconds = 0;
  // MetricsFolder: where the host's metrics file is kept current (node exporter's textfile
  // collector folder): a host path when it starts with "/", else a Windows path of the path
  // layer. nullopt when missing or empty (nothing is written).
  std::optional<std::string> MetricsFolder;

  // Reads the file named by kServerConfig (through the path layer). Never throws for a missing
  // or unreadable file: the defaults above apply. Within a RequestScope the file is read once
  // and every later call gets that reading.
  static ServerSettings Read();

  // One request sees one version of the settings, however many of its parts ask for them, and
  // a persistent process reads them afresh for its next request.
  class RequestScope {
   public:
    RequestScope();
    ~RequestScope();
    RequestScope(const RequestScope&) = delete;
    RequestScope& operator=(const RequestScope&) = delete;
  };
};

}  // namespace kvo::config
