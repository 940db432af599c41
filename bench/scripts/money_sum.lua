-- 10^6 amounts made, then summed: Lua has no decimal type, so the amounts
-- are integer counts of cents.
local values = {}
for i = 1, 1000000 do values[i] = i end
local sum = 0
for _, m in ipairs(values) do sum = sum + m end
if sum ~= 500000500000 then print("wrong sum") end
