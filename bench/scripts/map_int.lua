-- 10^6 table puts, then 10^6 lookups, of integer keys.
local m = {}
for i = 1, 1000000 do m[i * 2003] = i end
local sum = 0
for i = 1, 1000000 do sum = sum + m[i * 2003] end
if sum ~= 500000500000 then print("wrong sum") end
