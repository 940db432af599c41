-- 5*10^6 calls of a function that ends with return.
local function f(a) return a + 1 end
for _ = 1, 5000000 do f(1) end
