local function scale(x, by)
    if by then return x * by else return x end
end
local total = 0
for i = 1, 1000000 do
    total = total + scale(1, 3)
    total = total - scale(2)
end
print(total)
