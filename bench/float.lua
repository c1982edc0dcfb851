local sqrt = math.sqrt
local x, y, vx, vy, dt = 1.0, 0.0, 0.0, 1.0, 0.001
for i = 1, 1000000 do
    local r2 = (x * x) + (y * y)
    local r3 = r2 * sqrt(r2)
    vx = vx - (x * dt / r3)
    vy = vy - (y * dt / r3)
    x = x + (vx * dt)
    y = y + (vy * dt)
end
print(math.tointeger(x * 1000000 // 1) or string.format("%d", x * 1000000 // 1))
