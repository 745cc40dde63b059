// The actions of the data service: remote SQL, table list, statement runner, user manager.
#pragma once

#include "cgi/request.h"
#include "cgi/response.h"
#include "helpers/database.h"

namespace kvo::dataservice {

void SqlAction(cgi::TWebRequest& request, cgi::TWebResponse& response);
void TabelasAction(cgi::TWebRequest& request, cgi::TWebResponse& response,
                   helpers::Database& dbkvo);
void CriaribAction(cgi::TWebRequest& request, cgi::TWebResponse& response);
void UserManagerAction(cgi::TWebRequest& request, cgi::TWebResponse& response);

}  // namespace kvo::dataservice
