// One request through the web module, from its input to its answer. The CGI process serves one
// and ends; the FastCGI loop serves one after another with the same code, so that both give the
// same bytes.
#pragma once

#include "cgi/request.h"
#include "cgi/response.h"

namespace kvo::app {

// Builds the request from `input`, dispatches it and answers on `out`. A failure outside
// dispatch is answered with the "Internal Server Error 500" page. Never throws.
void ServeRequest(cgi::CgiInput input, const cgi::OutputFn& out) noexcept;

}  // namespace kvo::app
