-- parse: split 10 MB of comma-separated lines into fields (gmatch).
local txt = string.rep("alpha,beta,gamma,delta,42\n", 400000)
local fields, n = {}, 0
for f in string.gmatch(txt, "[^,\n]+") do
  n = n + 1
  fields[n] = f
end
if n ~= 2000000 then print("wrong count") end
