-- Write a 100 MB binary file and read it back, three times.
local t = {}
for i = 0, 99 do t[#t + 1] = string.char(i) end
local b = table.concat(t)
for _ = 1, 20 do b = b .. b end
for _ = 1, 3 do
  local f = assert(io.open("bench-file-binary.bin", "wb"))
  f:write(b)
  f:close()
  f = assert(io.open("bench-file-binary.bin", "rb"))
  local r = f:read("a")
  f:close()
  if #r ~= #b then print("length differs") end
end
os.remove("bench-file-binary.bin")
