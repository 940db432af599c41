-- Append 10^6 integers to a table, then keep the even ones.
local b = {}
for i = 1, 1000000 do b[#b + 1] = i end
local kept = {}
for _, x in ipairs(b) do
    if x % 2 == 0 then kept[#kept + 1] = x end
end
if #kept ~= 500000 then print("wrong length") end
