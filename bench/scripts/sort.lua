-- Sort 2*10^6 integers and 10^5 strings (phases timed inside).
local clock = os.clock
local function ms(t0) return string.format("%.1f", (clock() - t0) * 1000) end
math.randomseed(1)
local t = clock()
local ints = {}
for i = 1, 2000000 do ints[i] = math.random(1, 1000000000) end
print("gen-ints: " .. ms(t) .. " ms")
t = clock()
table.sort(ints)
print("sort-ints: " .. ms(t) .. " ms")
t = clock()
local strs, chars = {}, {}
for i = 1, 100000 do
  for j = 1, 8 do chars[j] = string.char(96 + math.random(26)) end
  strs[i] = table.concat(chars)
end
print("gen-strings: " .. ms(t) .. " ms")
t = clock()
table.sort(strs)
print("sort-strings: " .. ms(t) .. " ms")
if #ints ~= 2000000 then print("wrong length") end
