-- An object field read through a table field inside a loop.
local o = {x = 1, y = 2}
local v
for _ = 1, 5000000 do v = o.x end
