// The actions of the data service: remote SQL, table list, statement runner, user manager.
#pragma once

#include "cgi/request.h"
#include "cgi/response.h"
#include "fb/fb.h"

namespace kvo::dataservice {

void SqlAction(cgi::TWebRequest& request, cgi::TWebResponse& response);
void TabelasAction(cgi::TWebRequest& request, cgi::TWebResponse& response, fb::Database& dbkvo);
void CriaribAction(cgi::TWebRequest& request, cgi::TWebResponse& response);
void UserManagerAction(cgi::TWebRequest& request, cgi::TWebResponse& response);

}  // namespace kvo::dataservice
