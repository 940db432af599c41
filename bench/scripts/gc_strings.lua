-- Allocate 10^7 short-lived strings while keeping 10^5 alive.
local keep = {}
for i = 1, 100000 do keep[#keep + 1] = tostring(i) end
local s
for i = 1, 10000000 do s = tostring(i) end
if #keep ~= 100000 then print("wrong length") end
