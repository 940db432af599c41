-- Fields of a thousand tables of one shape read and written through fields.
local ps = {}
for i = 1, 1000 do ps[i] = {x = i * 1.0, v = 0.5} end
for _ = 1, 1000 do
  for _, p in ipairs(ps) do p.x = p.x + p.v end
end
local s = 0.0
for _, p in ipairs(ps) do s = s + p.x end
print(string.format("%.1f", s))
