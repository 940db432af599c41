-- Append 10^6 short strings to one string (table + concat).
local parts = {}
for i = 1, 1000000 do parts[#parts + 1] = "abcdefghij" end
local s = table.concat(parts)
if #s ~= 10000000 then print("wrong length") end
