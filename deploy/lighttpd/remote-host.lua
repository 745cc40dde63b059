-- Gives the CGI program the caller's address as REMOTE_HOST and removes every request header
-- that lighttpd would hand on as HTTP_REMOTE_HOST ("Remote-Host", "Remote_Host", any case),
-- so that no caller can choose the host name the program decides by.
local r = lighty.r
local names = {}
for name, _ in pairs(r.req_header) do
  if name:upper():gsub("[^%w]", "_") == "REMOTE_HOST" then
    names[#names + 1] = name
  end
end
for _, name in ipairs(names) do
  r.req_header[name] = nil
end
r.req_env["REMOTE_HOST"] = r.req_attr["request.remote-addr"]
return 0
