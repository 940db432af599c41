-- A million two-field objects (tables) made, kept, then read.
local items = {}
for i = 1, 1000000 do items[#items + 1] = {x = i, y = i * 2} end
local s = 0
for _, p in ipairs(items) do if p.y == 2 * p.x then s = s + 1 end end
print(s)
