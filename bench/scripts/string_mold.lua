-- Mold a 10 MB string with quotes, tabs and line breaks (%q).
local s = string.rep('The "quick" brown fox\tjumps over the lazy dog.\n', 213000)
local m = string.format("%q", s)
if #m < #s then print("too short") end
