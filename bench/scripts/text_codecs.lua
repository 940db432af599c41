-- uppercase of 100 MB (phases timed inside); Lua has no base 64 of its own.
local clock = os.clock
local function ms(t0) return string.format("%.1f", (clock() - t0) * 1000) end
local s = string.rep("The quick brown fox jumps over the lazy dog 0123456789. ", 1785715)
local t = clock()
s = string.upper(s)
print("uppercase: " .. ms(t) .. " ms")
