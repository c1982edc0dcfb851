local function add3(a, b, c) return a + b + c end
local total = 0
for i = 1, 1000000 do total = add3(total, i, 1) end
print(total)
