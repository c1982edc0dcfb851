b = []
for i in range(1, 1000001):
    b.append(i % 1000)
total = 0
for i in range(1000000):
    total = total + b[i]
print(total)
