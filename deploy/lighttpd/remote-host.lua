-- Runs before the program sees a request. lighttpd hands every request header on as
-- HTTP_<NAME> (upper case, every character but letters and digits as "_"), and the program
-- falls back to such variables where the web server sets none: a "Path-Info:" header would
-- choose the action, "Query-String:" the fields, "Content_Length:" would cut the body,
-- "Remote-Host:" would choose the host name the program decides by. So every header whose name
-- reads as one of those variables is removed (any case, any separator), except the request's
-- own Content-Length, which lighttpd keeps by design and which is the body's true length. Then
-- REMOTE_HOST is set to the caller's address.
local standing_in = {
  REQUEST_METHOD = true, SERVER_PROTOCOL = true, URL = true, QUERY_STRING = true,
  PATH_INFO = true, PATH_TRANSLATED = true, REMOTE_ADDR = true, REMOTE_HOST = true,
  SCRIPT_NAME = true, SERVER_PORT = true, CONTENT_LENGTH = true,
}
local r = lighty.r
local names = {}
for name, _ in pairs(r.req_header) do
  local as_variable = name:upper():gsub("[^%w]", "_")
  if standing_in[as_variable] and name:lower() ~= "content-length" then
    names[#names + 1] = name
  end
end
for _, name in ipairs(names) do
  r.req_header[name] = nil
end
r.req_env["REMOTE_HOST"] = r.req_attr["request.remote-addr"]
return 0
