def add3(a, b, c):
    return a + b + c
total = 0
for i in range(1, 1000001):
    total = add3(total, i, 1)
print(total)
