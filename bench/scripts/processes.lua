-- 1,000 waited calls of true; 100 MB captured from head (phases timed inside).
local function now()
  local p = io.popen("date +%s.%N")
  local s = p:read("a")
  p:close()
  return tonumber(s)
end
local function ms(t0) return string.format("%.1f", (now() - t0) * 1000) end
local t = now()
for _ = 1, 1000 do os.execute("true") end
print("call-true-1000: " .. ms(t) .. " ms")
t = now()
local p = io.popen("head -c 100000000 /dev/zero")
local b = p:read("a")
p:close()
print("capture-100mb: " .. ms(t) .. " ms")
if #b ~= 100000000 then print("wrong length") end
