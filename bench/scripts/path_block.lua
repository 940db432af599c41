-- An array element read by index inside a loop.
local b = {10, 20, 30, 40}
local v
for _ = 1, 5000000 do v = b[3] end
