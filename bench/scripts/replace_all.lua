-- Replace 10^6 matches in a text of 15 MB.
local s = string.rep("xxxxxxxxxxxxxab", 1000000)
s = string.gsub(s, "ab", "c")
if #s ~= 14000000 then print("wrong length") end
