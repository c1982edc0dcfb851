import math
x, y, vx, vy, dt = 1.0, 0.0, 0.0, 1.0, 0.001
for i in range(1000000):
    r2 = (x * x) + (y * y)
    r3 = r2 * math.sqrt(r2)
    vx = vx - (x * dt / r3)
    vy = vy - (y * dt / r3)
    x = x + (vx * dt)
    y = y + (vy * dt)
print(int(x * 1000000))
