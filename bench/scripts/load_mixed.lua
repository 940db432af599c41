-- Load the equivalent Lua table constructor; inputs made by load_mixed.gen.py.
local data = dofile("../data/load_mixed.lua")
if #data < 100000 then print("too few records") end
