// /memo's lookup of the memo directory through a web server: the client library's multi-tier
// components, which take it when the server machine's client settings file turns that route on.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvo::app {

// A config::RemoteLookup. Reads "C:\KVO\Bin\KVO.ini" as the client's database component does:
// without WebServerActive it answers nullopt (the service then runs the lookup itself);
// otherwise it sends `statement` with the login of `params` to the URLBase the file names, for
// at most config::kLookupSeconds, and answers the first column of the first row as text ("" when
// there are no rows). Throws what the request throws (kvo::Error, message unchanged).
std::optional<std::string> LookupThroughWebServer(std::string_view databaseName,
                                                  const std::vector<std::string>& params,
                                                  std::string_view statement);

}  // namespace kvo::app
