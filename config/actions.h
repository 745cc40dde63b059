// The configuration and distribution actions: settings, versions, modules, remote desktop, memo.
#pragma once

#include "cgi/request.h"
#include "cgi/response.h"
#include "config/memo_service.h"
#include "helpers/database.h"

namespace kvo::config {

// Which executable a version action asks about.
enum class VersionSource { Kvo, Mobile, MobileUpdate, Cd, CdUpdate, Arquivo };

void ConfigAction(cgi::TWebRequest& request, cgi::TWebResponse& response);
void VersionAction(cgi::TWebRequest& request, cgi::TWebResponse& response, VersionSource source);
void ListaModulosAction(cgi::TWebRequest& request, cgi::TWebResponse& response);
void RdpAction(cgi::TWebRequest& request, cgi::TWebResponse& response);
void RdpToolsAction(cgi::TWebRequest& request, cgi::TWebResponse& response);
// The memo directory is looked up through `remote` when it takes the lookup, directly otherwise.
void MemoAction(cgi::TWebRequest& request, cgi::TWebResponse& response, helpers::Database& dbkvo,
                const RemoteLookup& remote);

}  // namespace kvo::config
