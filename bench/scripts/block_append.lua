-- Append 10^6 integers to a table, then copy it.
local b = {}
for i = 1, 1000000 do b[#b + 1] = i end
local c = table.move(b, 1, #b, 1, {})
if #c ~= 1000000 then print("wrong length") end
