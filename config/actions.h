// The configuration and distribution actions: settings, versions, modules, remote desktop, memo.
#pragma once

#include "cgi/request.h"
#include "cgi/response.h"
#include "helpers/database.h"

namespace kvo::config {

// Which executable a version action asks about.
enum class VersionSource { Kvo, Mobile, MobileUpdate, Cd, CdUpdate, Arquivo };

void ConfigAction(cgi::TWebRequest& request, cgi::TWebResponse& response);
void VersionAction(cgi::TWebRequest& request, cgi::TWebResponse& response, VersionSource source);
void ListaModulosAction(cgi::TWebRequest& request, cgi::TWebResponse& response);
void RdpAction(cgi::TWebRequest& request, cgi::TWebResponse& response);
void RdpToolsAction(cgi::TWebRequest& request, cgi::TWebResponse& response);
void MemoAction(cgi::TWebRequest& request, cgi::TWebResponse& response, helpers::Database& dbkvo);

}  // namespace kvo::config
