-- Lua strings are immutable: appending goes through a buffer table.
local parts = {}
for k = 1, 1000000 do parts[k] = "x" end
print(#table.concat(parts))
