-- 5*10^6 calls of a function that falls off its end.
local function f(a) local _ = a + 1 end
for _ = 1, 5000000 do f(1) end
