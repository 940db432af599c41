-- A hand-written serializer (Lua has none built in): the same nested
-- table as zuvbin_codec.zuv, written as a chunk and read back with load.
local function ms(t0) return string.format("%.1f", (os.clock() - t0) * 1000) end

local t = os.clock()
local data = {}
for i = 1, 250000 do data[i] = {i, i * 1.5, "item-text-" .. i, {i, true, false}} end
print("generate: " .. ms(t) .. " ms")

local function ser(v, out)
  local ty = type(v)
  if ty == "table" then
    out[#out + 1] = "{"
    for _, x in ipairs(v) do ser(x, out); out[#out + 1] = "," end
    out[#out + 1] = "}"
  elseif ty == "string" then out[#out + 1] = string.format("%q", v)
  else out[#out + 1] = tostring(v) end
end

t = os.clock()
local out = {"return "}
ser(data, out)
local s = table.concat(out)
print("encode: " .. ms(t) .. " ms")
t = os.clock()
local back = load(s)()
print("decode: " .. ms(t) .. " ms")
print("bytes: " .. #s)
if #back ~= 250000 then print("wrong length") end
