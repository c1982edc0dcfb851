local b = {}
for i = 1, 1000000 do table.insert(b, i % 1000) end
local sum = 0
for i = 1, 1000000 do sum = sum + b[i] end
print(sum)
