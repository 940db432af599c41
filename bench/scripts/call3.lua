-- 5*10^6 calls of a three-argument function.
local function f(a, b, c) return a + b + c end
for _ = 1, 5000000 do f(1, 2, 3) end
