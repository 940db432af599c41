-- Write a 100 MB text file, read it back whole and as lines.
local s = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwxy\n"
for _ = 1, 20 do s = s .. s end
local f = assert(io.open("bench-file-text.txt", "w"))
f:write(s)
f:close()
f = assert(io.open("bench-file-text.txt", "r"))
local t = f:read("a")
f:close()
local lines = {}
for line in io.lines("bench-file-text.txt") do lines[#lines + 1] = line end
if #t ~= #s then print("text length differs") end
if #lines ~= 1048576 then print("line count differs") end
os.remove("bench-file-text.txt")
