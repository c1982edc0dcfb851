local n = 0
local switch = {[0] = 1, [1] = 2, [2] = 3, [3] = 4}
for i = 1, 1000000 do
    local k = i % 4
    if k == 0 then n = n + 1 else n = n + 2 end
    if k == 1 then n = n + 3 elseif k == 2 then n = n + 4 else n = n + 5 end
    n = n + switch[k]
end
print(n)
