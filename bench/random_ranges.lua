-- wrk script of W8 (bench/compare_servers.sh): every request asks for 64 KiB of the
-- 64 MiB file from a random offset.
local fileSize = 64 * 1024 * 1024
local rangeSize = 64 * 1024

init = function(args)
  math.randomseed(os.time() + tonumber(tostring({}):sub(8), 16))
end

request = function()
  local first = math.random(0, fileSize - rangeSize)
  local headers = {}
  for name, value in pairs(wrk.headers) do headers[name] = value end
  headers["Range"] = "bytes=" .. first .. "-" .. (first + rangeSize - 1)
  return wrk.format(nil, nil, headers)
end
