-- A while loop of 2*10^7 iterations with arithmetic.
local i, s = 0, 0
while i < 20000000 do
    s = i * 2 - s + 1
    i = i + 1
end
