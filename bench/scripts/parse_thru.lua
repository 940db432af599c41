-- parse: count a word over 24 MB of text (plain string.find).
local txt = string.rep("the quick abc brown fox ", 1000000)
local n, at = 0, 1
while true do
  local s, e = string.find(txt, "abc", at, true)
  if not s then break end
  n = n + 1
  at = e + 1
end
if n ~= 1000000 then print("wrong count") end
