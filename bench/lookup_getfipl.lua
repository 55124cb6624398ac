-- wrk script: lookups by digest of one of LOOKUP_FILES files (as bench/lookup_seed.py
-- announced them), 20 peers wanted, from an asker that is not among them.
local files = tonumber(os.getenv("LOOKUP_FILES") or "1")
local headers = { ["Content-Type"] = "application/x-www-form-urlencoded" }

request = function()
  local md5 = string.format("%032x", math.random(0, files - 1))
  return wrk.format("POST", "/getfipl.php", headers, "md5=" .. md5 .. "&uid=bench&pc=20&mc=0&port=1")
end
