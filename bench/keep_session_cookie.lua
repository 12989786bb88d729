-- wrk script of W1c (bench/compare_servers.sh): a client that keeps its session. Each wrk
-- thread takes the "IDHTTPSESSIONID" cookie of the first answer that sets one and sends
-- it with every later request, as a browser does; requests sent before that answer
-- arrives go without it. Servers that set no cookie get the plain requests.
local cookie

response = function(status, headers, body)
  if cookie then return end
  for name, value in pairs(headers) do
    if name:lower() == "set-cookie" then
      local pair = value:match("^%s*(IDHTTPSESSIONID=[^;]*)")
      if pair then
        cookie = pair
        wrk.headers["Cookie"] = cookie
        return
      end
    end
  end
end

request = function()
  return wrk.format()
end
